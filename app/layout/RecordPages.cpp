// Pages 3 to 6, "Протокол1" to "Протокол4": the relay's four event records,
// laid out alike.
#include "app/layout/Rows.h"
#include "exchanges/EventRecords.h"

namespace layout {

namespace {

PageTable MakeRecordPage(int n)
{
    const QString P = QStringLiteral("Panel%1").arg(n + 3);
    const QString d = QString::number(n);
    PageTable page;
    page.index = n + 2;
    page.sheet = QStringLiteral("TabSheet%1").arg(n + 3);
    page.caption = RecordName(n);
    page.outerPanel = QStringLiteral("Panel1%1").arg(n + 3);
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS%1").arg(n + 3);
    auto& rows = page.rows;

    rows.push_back(Frame(QStringLiteral("FrameP") + d, P, QRect(32, 38, 521, 307)));

    // The moment of the record.
    {
        ControlRow row = Field(QStringLiteral("DataP") + d, P, QRect(146, 9, 78, 23));
        CaptionEndingAt(row, 142, 60, EntryOf(row.name).caption);
        rows.push_back(row);
    }
    {
        ControlRow row = Field(QStringLiteral("TimeP") + d, P, QRect(338, 9, 78, 23));
        CaptionEndingAt(row, 334, 70, EntryOf(row.name).caption);
        rows.push_back(row);
    }

    const int tops[12] = {57, 80, 103, 126, 149, 172, 195, 218, 241, 264, 287, 311};
    for (int k = 1; k <= 12; ++k) {
        // The bit text of the status word uses the window's font, as E1 does:
        // seventeen characters of Arial would not fit the field.
        ControlRow row = Field(QStringLiteral("P%1E%2").arg(n).arg(k), P, QRect(245, tops[k - 1], k == 1 ? 109 : 70, 23),
                               k == 1 ? FontRole::Window : FontRole::Caption);
        row.keepOnReset = k == 12;   // the start time outlives a reset, as its lamp does
        const RegisterEntry& e = EntryOf(row.name);
        CaptionEndingAt(row, 241, 205, e.caption);
        if (!e.unit.isEmpty())
            UnitAfter(row, e.unit);
        rows.push_back(row);
    }

    // The lamps of the status word, bit 0 to bit 15.
    const QString box = QStringLiteral("GroupBoxP") + d;
    rows.push_back(Row(ControlKind::GroupBox, box, P, QRect(360, 48, 181, 273), FontRole::Window,
                       QStringLiteral("Статусный регистр")));
    const int ledTops[16] = {15, 30, 45, 60, 75, 90, 105, 120, 145, 160, 175, 190, 205, 220, 235, 250};
    for (int k = 1; k <= 16; ++k) {
        int width = 150;
        if (k == 7)
            width = 183;
        else if (k == 10 || k == 11 || k == 14)
            width = 180;
        rows.push_back(Led(QStringLiteral("P%1L%2").arg(n).arg(k), box, QRect(12, ledTops[k - 1], width, 20),
                           FontRole::Arial13));
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
