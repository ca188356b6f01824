// Page 2, "Настройки": the relay's configuration, with the live phase
// currents and voltage beside the calibration coefficients.
#include "app/layout/Rows.h"

namespace layout {

PageTable MakePage2()
{
    const QString P = QStringLiteral("Panel3");
    PageTable page;
    page.index = 2;
    page.sheet = QStringLiteral("TabSheet3");
    page.caption = QStringLiteral("Настройки");
    page.outerPanel = QStringLiteral("Panel13");
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS3");
    auto& rows = page.rows;

    rows.push_back(Frame(QStringLiteral("FrameLive"), P, QRect(0, 80, 593, 101), true));

    struct SettingLine {
        const char* name;
        QRect geometry;
        int reg;
        QString caption;
        QString unit;
        int minValue;
        int maxValue;
        int increment;
    };
    const SettingLine settings[] = {
        {"NSE1", {237, 7, 74, 24}, 80, QStringLiteral("Адрес подчиненного устройства:"), QString(), 1, 246, 1},
        {"NSE2", {236, 29, 74, 24}, 111, QStringLiteral("Время подсветки индикатора:"), QStringLiteral("мин"),
         0, 65535, 1},
        {"NSE3", {236, 53, 74, 24}, 112, QStringLiteral("Время возврата из подменю:"), QStringLiteral("мин"),
         0, 65535, 1},
        {"NSE11", {492, 12, 74, 24}, 116, QStringLiteral("Шаг изменения уставки:"), QString(), 0, 65535, 10},
        {"NSE4", {492, 36, 74, 24}, 122, QStringLiteral("Пароль системы:"), QString(), 0, 65535, 10},
        {"NSE5", {237, 83, 74, 24}, 99, QStringLiteral("Коэффициент приведения тока фазы А:"), QString(),
         0, 65535, 1},
        {"NSE6", {237, 107, 74, 24}, 100, QStringLiteral("Коэффициент приведения тока фазы В:"), QString(),
         0, 65535, 1},
        {"NSE7", {237, 131, 74, 24}, 101, QStringLiteral("Коэффициент приведения тока фазы С:"), QString(),
         0, 65535, 1},
        {"NSE8", {237, 154, 74, 24}, 102, QStringLiteral("Коэффициент приведения напряжения:"), QString(),
         0, 65535, 1},
        {"NSE9", {237, 182, 74, 24}, 98, QStringLiteral("Коэффициент приведения изоляции:"), QString(),
         0, 65535, 1},
        {"NSE10", {237, 206, 74, 24}, 109, QStringLiteral("Постоянная составляющая изоляции:"), QString(),
         0, 65535, 1},
        {"NSE12", {237, 230, 74, 24}, 119, QStringLiteral("Верхнее тарировочное сопротивление:"), QString(),
         0, 65535, 1},
        {"NSE13", {237, 254, 74, 24}, 120, QStringLiteral("Нижнее тарировочное сопротивление:"), QString(),
         0, 65535, 1},
        {"NSE21", {236, 278, 74, 24}, 94, QStringLiteral("Уровень блокироввки защиты по току:"),
         QStringLiteral("%"), 0, 65535, 1},
    };
    for (const SettingLine& s : settings) {
        ControlRow row = Spin(QString::fromLatin1(s.name), P, s.geometry, s.reg, s.minValue, s.maxValue, 5,
                              s.increment);
        // Captions end 5 pixels before the field; those of the right column are narrower.
        const int right = s.geometry.x() - 5;
        CaptionEndingAt(row, right, s.geometry.x() > 400 ? 140 : 225, s.caption);
        if (!s.unit.isEmpty())
            UnitAfter(row, s.unit);
        rows.push_back(row);
    }

    // Live values: registers 50, 51, 52 and 60, as on page 0.
    struct LiveLine {
        const char* name;
        int top;
        int reg;
        QString caption;
        QString unit;
    };
    const LiveLine live[] = {
        {"EditA", 83, 50, QStringLiteral("Ток фазы А:"), QStringLiteral("%")},
        {"EditB", 106, 51, QStringLiteral("Ток фазы В:"), QStringLiteral("%")},
        {"EditC", 129, 52, QStringLiteral("Ток фазы С:"), QStringLiteral("%")},
        {"EditU", 153, 60, QStringLiteral("Напряжение питания:"), QStringLiteral("B")},  // Latin B
    };
    for (const LiveLine& l : live) {
        ControlRow row = Field(QString::fromLatin1(l.name), P, QRect(491, l.top, 70, 23), l.reg, FontRole::Value);
        CaptionEndingAt(row, 486, 130, l.caption);
        UnitAfter(row, l.unit);
        rows.push_back(row);
    }

    // Selection boxes.
    struct ChoiceLine {
        const char* name;
        QRect geometry;
        int reg;
        QString caption;
        QStringList items;
        FontRole captionFont;
    };
    const ChoiceLine choices[] = {
        {"CB1", {236, 302, 105, 22}, 113, QStringLiteral("Блокировка защиты:"),
         {QStringLiteral("запретить"), QStringLiteral("разрешить")}, FontRole::Times15},
        {"CB3", {236, 326, 105, 22}, 115, QStringLiteral("Исходное состояние реле сигн-ции:"),
         {QStringLiteral("отключено"), QStringLiteral("включено")}, FontRole::Caption},
        {"CB2", {237, 350, 105, 22}, 114, QStringLiteral("Исходное состояние реле отключения:"),
         {QStringLiteral("включено"), QStringLiteral("отключено")}, FontRole::Caption},
        {"CB4", {237, 374, 292, 22}, 121, QStringLiteral("Диапозон номинального тока:"),
         {
             QStringLiteral("0 - защита не настроена"),
             QStringLiteral("1 - Iном = (512..256)А, Ктт=8000, R=4.5 Ом "),
             QStringLiteral("2 - Iном = (256..128)А, Ктт=8000, R=9 Ом"),
             QStringLiteral("3 - Iном = (128..64)А,   Ктт=8000, R=18 Ом"),
             QStringLiteral("4 - Iном = (64..32)А,     Ктт=4500, R=20 Ом "),
             QStringLiteral("5 - Iном = (32..16)А,     Ктт=4500, R=40 Ом"),
             QStringLiteral("6 - Iном = (16..8)А,       Ктт=4500, R=80 Ом"),
             QStringLiteral("7 - Iном = (8..4)А,         Ктт=1500, R= Ом"),
             QStringLiteral("8 -  Iном = (4..2)А,        Ктт=1500, R= Ом "),
             QStringLiteral("9 -  Iном = (2..1)А,        Ктт=1500, R= Ом"),
             QStringLiteral("10 - Устр-во не поддерж-т данную функцию"),
         },
         FontRole::Caption},
    };
    for (const ChoiceLine& c : choices) {
        ControlRow row = Row(ControlKind::ComboBox, QString::fromLatin1(c.name), P, c.geometry);
        row.reg = c.reg;
        row.items = c.items;
        row.value = -1;  // no item chosen
        // The nominal current range shows its last item, "not supported", for
        // every value past the list; the other boxes then show none.
        if (row.name == QLatin1String("CB4"))
            row.itemForLarger = int(c.items.size()) - 1;
        CaptionEndingAt(row, c.geometry.x() - 5, 225, c.caption, c.captionFont);
        rows.push_back(row);
    }

    // The help note: press ENTER after typing a new value.
    rows.push_back(HelpNote(QStringLiteral("HelpNote1"), P, 337, 188, 250, QStringLiteral("Для изменения настройки,"),
                            FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote2"), P, 337, 208, 250,
                            QStringLiteral("после ввода нового значения,"), FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote3"), P, 337, 229, 250, QStringLiteral("необходимо обязательно"),
                            FontRole::HelpSmall));
    rows.push_back(HelpNote(QStringLiteral("HelpNote4"), P, 337, 253, 250,
                            QStringLiteral("нажать клавишу \"ENTER\" !"), FontRole::HelpLarge));

    rows.push_back(Notice(QStringLiteral("LabelS3"), P, 347, 316));
    return page;
}

}  // namespace layout
