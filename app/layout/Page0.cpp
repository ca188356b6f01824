// Page 0, "Текущие параметры": the relay's measurements, status and clock.
#include "app/layout/Rows.h"

namespace layout {

PageTable MakePage0()
{
    const QString P = QStringLiteral("Panel1");
    PageTable page;
    page.index = 0;
    page.sheet = QStringLiteral("TabSheet1");
    page.caption = QStringLiteral("Текущие параметры");
    page.outerPanel = QStringLiteral("Panel11");
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS1");
    auto& rows = page.rows;

    // Bevels first, so that everything else lies on top of them.
    rows.push_back(Frame(QStringLiteral("FramePort"), P, QRect(480, 5, 97, 55)));
    rows.push_back(Frame(QStringLiteral("FrameValues"), P, QRect(216, 140, 364, 256)));
    rows.push_back(Frame(QStringLiteral("FrameClock"), P, QRect(8, 259, 193, 135)));

    rows.push_back(Label(QStringLiteral("Label1"), P, QRect(232, 16, 142, 24), QStringLiteral("ТЕРВА - 0,4кВ"),
                         FontRole::Title));

    // Port block.
    rows.push_back(Row(ControlKind::ComLed, QStringLiteral("ComLed"), P, QRect(480, 0, 21, 25)));
    rows.push_back(Label(QStringLiteral("LabelNum"), P, QRect(500, 8, 59, 15), QStringLiteral("СОМ-порт"),
                         FontRole::Caption, Qt::AlignCenter));
    rows.push_back(Row(ControlKind::Button, QStringLiteral("ButtonCOM"), P, QRect(492, 27, 73, 25),
                       FontRole::Window, QStringLiteral("Открыть")));

    // The slave address the requests go to (not a relay register).
    {
        ControlRow row = PlainSpin(QStringLiteral("SEAddres"), P, QRect(468, 65, 72, 24), 1, 247, 3);
        CaptionEndingAt(row, 463, 250, QStringLiteral("Адрес подчиненного устройства в сети:"));
        rows.push_back(row);
    }

    // Value fields; captions end at x 450.
    struct ValueLine {
        const char* key;
        int top;
        int width;
    };
    const ValueLine values[] = {
        {"E1", 90, 104}, {"E0", 114, 70}, {"E2", 143, 70}, {"E3", 166, 70}, {"E4", 189, 70},
        {"E5", 211, 70}, {"E6", 234, 70}, {"E7", 257, 70}, {"E8", 280, 70}, {"E9", 302, 70},
        {"E10", 324, 70}, {"E11", 346, 70}, {"E12", 369, 70},
    };
    for (const ValueLine& v : values) {
        ControlRow row = Field(QString::fromLatin1(v.key), P, QRect(467, v.top, v.width, 23), FontRole::Value);
        const RegisterEntry& e = EntryOf(row.name);
        CaptionEndingAt(row, 450, 230, e.caption);
        if (!e.unit.isEmpty())
            UnitAfter(row, e.unit);
        if (row.format == ValueFormat::BitText)
            row.text = QStringLiteral("00000000 00000000");  // until the window is first shown
        rows.push_back(row);
    }

    // Status group: the lamps of bits 0 to 14 of the status register.
    rows.push_back(Row(ControlKind::GroupBox, QStringLiteral("GroupBox1"), P, QRect(8, 0, 193, 257),
                       FontRole::Window, QStringLiteral("Статусный регистр")));
    const int ledTops[15] = {15, 30, 45, 60, 75, 90, 105, 120, 143, 158, 173, 188, 204, 219, 235};
    for (int bit = 0; bit < 15; ++bit) {
        rows.push_back(Led(QStringLiteral("L%1").arg(bit), QStringLiteral("GroupBox1"),
                           QRect(12, ledTops[bit], 150, 20), FontRole::Caption));
        rows.back().keepOnReset = true;   // the page's reset empties only the value fields
    }

    // Clock block: the relay's clock (month and day, hour, minute and
    // second) and the PC's.
    {
        ControlRow row = Bound(ControlKind::DatePicker, QStringLiteral("DPicker"), P, QRect(14, 282, 90, 23));
        row.enabled = false;
        CaptionAt(row, QRect(35, 266, 40, 15), EntryOf(row.name).caption);
        rows.push_back(row);
    }
    {
        ControlRow row = Bound(ControlKind::TimePicker, QStringLiteral("TPicker"), P, QRect(109, 282, 85, 23));
        row.enabled = false;
        CaptionAt(row, QRect(128, 266, 50, 15), EntryOf(row.name).caption);
        rows.push_back(row);
    }
    {
        ControlRow row = Label(QStringLiteral("LabelDT"), P, QRect(54, 326, 140, 15), QStringLiteral("ДатаВремя:"));
        CaptionAt(row, QRect(26, 309, 150, 15), QStringLiteral("Системные Дата и Время:"));
        rows.push_back(row);
    }
    {
        ControlRow row = Row(ControlKind::Button, QStringLiteral("ButtonSys"), P, QRect(12, 345, 185, 20),
                             FontRole::Window, QStringLiteral("Записать системные дату/время"));
        row.visible = false;
        rows.push_back(row);
    }
    {
        ControlRow row = Row(ControlKind::Button, QStringLiteral("ButtonDT"), P, QRect(12, 369, 185, 20),
                             FontRole::Window, QStringLiteral("Записать установ-ые дату/время"));
        row.visible = false;
        rows.push_back(row);
    }

    rows.push_back(Notice(QStringLiteral("LabelS1"), P, 224, 40));
    return page;
}

}  // namespace layout
