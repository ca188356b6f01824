// Page 8, "    ?": about the program.
#include "app/layout/Rows.h"

#include "ZashchitaVersion.h"

namespace layout {

PageTable MakePage8()
{
    PageTable page;
    page.index = 8;
    page.sheet = QStringLiteral("TabSheet9");
    page.caption = QStringLiteral("    ?");

    ControlRow text = Row(ControlKind::StaticText, QStringLiteral("StaticText1"), page.sheet,
                          QRect(220, 92, 197, 153), FontRole::About,
                          QStringLiteral("Защита\n"
                                         "Защита электродвигателя\n"
                                         "на 0,4кВ\n"
                                         "______________________\n"
                                         "Version " ZASHCHITA_VERSION "."));
    text.align = Qt::AlignLeft | Qt::AlignTop;
    page.rows.push_back(text);
    return page;
}

}  // namespace layout
