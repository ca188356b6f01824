// Pages 3 to 6, "Протокол1" to "Протокол4": the relay's four event records,
// laid out alike. Record n starts at register 128 + 17 (n - 1).
#include "app/layout/Rows.h"

namespace layout {

namespace {

PageTable MakeRecordPage(int n)
{
    const QString P = QStringLiteral("Panel%1").arg(n + 3);
    const QString d = QString::number(n);
    const int base = 128 + 17 * (n - 1);
    PageTable page;
    page.index = n + 2;
    page.sheet = QStringLiteral("TabSheet%1").arg(n + 3);
    page.caption = QStringLiteral("Протокол%1").arg(n);
    page.outerPanel = QStringLiteral("Panel1%1").arg(n + 3);
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS%1").arg(n + 3);
    auto& rows = page.rows;

    rows.push_back(Frame(QStringLiteral("FrameP") + d, P, QRect(32, 38, 521, 307)));

    // The moment of the record: month and day at offsets 0 and 1, hour,
    // minute and second at offsets 2 to 4.
    {
        ControlRow row = Field(QStringLiteral("DataP") + d, P, QRect(146, 9, 78, 23), base);
        row.format = ValueFormat::Moment;
        CaptionEndingAt(row, 142, 60, QStringLiteral("Дата:"));
        rows.push_back(row);
    }
    {
        ControlRow row = Field(QStringLiteral("TimeP") + d, P, QRect(338, 9, 78, 23), base + 2);
        row.format = ValueFormat::Moment;
        CaptionEndingAt(row, 334, 70, QStringLiteral("Время:"));
        rows.push_back(row);
    }

    struct ValueLine {
        int top;
        int width;
        QString caption;
        QString unit;
    };
    const ValueLine values[12] = {
        {57, 109, QStringLiteral("Статусный регистр:"), QString()},
        {80, 70, QStringLiteral("Ток фазы А:"), QStringLiteral("%")},
        {103, 70, QStringLiteral("Ток фазы В:"), QStringLiteral("%")},
        {126, 70, QStringLiteral("Ток фазы С:"), QStringLiteral("%")},
        {149, 70,
         n == 1 ? QStringLiteral("Значение сопротивления изоляции:")
                : QStringLiteral("Значение сопротивления изоляция:"),
         QStringLiteral("кОм")},
        {172, 70, QStringLiteral("Уровень несимметрии токов фаз:"), QStringLiteral("%")},
        {195, 70, QStringLiteral("Пульсация токов фаз:"), QStringLiteral("%")},
        {218, 70, QStringLiteral("Тепловой импульс:"), QStringLiteral("%")},
        {241, 70, QStringLiteral("Тепловой импульс пуска:"), QStringLiteral("%")},
        {264, 70, QStringLiteral("Напряжение питания:"), QStringLiteral("В")},  // Cyrillic Ve
        {287, 70, QStringLiteral("Пусковой ток:"), QStringLiteral("%")},
        {311, 70, QStringLiteral("Время пуска:"), QStringLiteral("мс")},
    };
    for (int k = 1; k <= 12; ++k) {
        const ValueLine& v = values[k - 1];
        // The bit text of the status word uses the window's font, as E1 does:
        // seventeen characters of Arial would not fit the field.
        ControlRow row = Field(QStringLiteral("P%1E%2").arg(n).arg(k), P, QRect(245, v.top, v.width, 23),
                               base + 4 + k, k == 1 ? FontRole::Window : FontRole::Caption);
        if (k == 1)
            row.format = ValueFormat::BitText;
        row.keepOnReset = k == 12;   // the start time outlives a reset, as its lamp does
        CaptionEndingAt(row, 241, 205, v.caption);
        if (!v.unit.isEmpty())
            UnitAfter(row, v.unit);
        rows.push_back(row);
    }

    // The lamps of the status word, bit 0 to bit 15.
    const QString box = QStringLiteral("GroupBoxP") + d;
    rows.push_back(Row(ControlKind::GroupBox, box, P, QRect(360, 48, 181, 273), FontRole::Window,
                       QStringLiteral("Статусный регистр")));
    const int ledTops[16] = {15, 30, 45, 60, 75, 90, 105, 120, 145, 160, 175, 190, 205, 220, 235, 250};
    QStringList captions = StatusCaptions();
    captions << QStringLiteral("Время пуска");
    for (int k = 1; k <= 16; ++k) {
        int width = 150;
        if (k == 7)
            width = 183;
        else if (k == 10 || k == 11 || k == 14)
            width = 180;
        rows.push_back(Led(QStringLiteral("P%1L%2").arg(n).arg(k), box, QRect(12, ledTops[k - 1], width, 20),
                           captions[k - 1], FontRole::Arial13, base + 5, k - 1));
        rows.back().keepOnReset = k == 16;
    }

    rows.push_back(Row(ControlKind::Button, QStringLiteral("ButtonP") + d, P, QRect(157, 355, 297, 25),
                       FontRole::Arial13, QStringLiteral("Сформировать отчет в файл")));

    rows.push_back(Notice(page.notice, P, n == 1 ? 194 : 193, 383));
    return page;
}

}  // namespace

PageTable MakePage3() { return MakeRecordPage(1); }
PageTable MakePage4() { return MakeRecordPage(2); }
PageTable MakePage5() { return MakeRecordPage(3); }
PageTable MakePage6() { return MakeRecordPage(4); }

}  // namespace layout
