// Page 1, "Уставки": the protection setpoints, two columns of spin edits.
#include "app/layout/Rows.h"

namespace layout {

PageTable MakePage1()
{
    const QString P = QStringLiteral("Panel2");
    PageTable page;
    page.index = 1;
    page.sheet = QStringLiteral("TabSheet2");
    page.caption = QStringLiteral("Уставки");
    page.outerPanel = QStringLiteral("Panel12");
    page.contentPanel = P;
    page.notice = QStringLiteral("LabelS2");
    auto& rows = page.rows;

    // Rows of underscores between the rows of fields, and the line between the columns.
    const int separatorTops[] = {23, 59, 94, 129, 164, 199, 234, 269, 304, 339, 374};
    int n = 0;
    for (int top : separatorTops)
        rows.push_back(Separator(QStringLiteral("Separator%1").arg(++n), P, QRect(12, top, 576, 17), 76));
    rows.push_back(Row(ControlKind::Line, QStringLiteral("LineColumns"), P, QRect(305, 3, 2, 404)));

    struct SetpointLine {
        const char* key;
        QRect geometry;
        int left;        // caption's left edge (first line)
    };
    const SetpointLine setpoints[] = {
        // Left column.
        {"SE0", {185, 5, 74, 24}, 15},   {"SE1", {184, 43, 73, 24}, 22},  {"SE2", {184, 78, 73, 24}, 22},
        {"SE3", {184, 113, 73, 24}, 22}, {"SE4", {184, 149, 73, 24}, 20}, {"SE5", {184, 183, 73, 24}, 22},
        {"SE6", {184, 216, 73, 24}, 22}, {"SE7", {184, 253, 73, 24}, 22}, {"SE8", {184, 286, 73, 24}, 22},
        {"SE9", {184, 321, 73, 24}, 22}, {"SE20", {184, 356, 74, 24}, 15},
        // Right column.
        {"SE10", {488, 5, 73, 24}, 315},   {"SE11", {487, 43, 73, 24}, 315},  {"SE12", {487, 78, 73, 24}, 315},
        {"SE13", {487, 113, 74, 24}, 315}, {"SE14", {487, 149, 74, 24}, 315}, {"SE15", {487, 183, 74, 24}, 315},
        {"SE19", {487, 216, 74, 24}, 315}, {"SE16", {487, 254, 74, 24}, 315}, {"SE17", {487, 286, 74, 24}, 315},
        {"SE18", {487, 321, 73, 24}, 315}, {"SE22", {487, 359, 74, 24}, 315},
    };
    for (const SetpointLine& s : setpoints) {
        ControlRow row = Spin(QString::fromLatin1(s.key), P, s.geometry);
        const RegisterEntry& e = EntryOf(row.name);
        // The second lines of the left column all start at 22.
        CaptionFrom(row, s.left, e.caption, e.caption2, s.left < 300 ? 22 : s.left);
        if (!e.unit.isEmpty())
            UnitAfter(row, e.unit, e.unit.size() > 3 ? 42 : 28);
        // The thermal integrator and cooling settings only apply while the
        // overload trip time is 0.
        const QString name = row.name;
        if (name == QLatin1String("SE15") || name == QLatin1String("SE16") || name == QLatin1String("SE17")
            || name == QLatin1String("SE19"))
            row.enabledWhileZero = QStringLiteral("SE14");
        rows.push_back(row);
    }

    rows.push_back(Notice(QStringLiteral("LabelS2"), P, 180, 384));
    return page;
}

}  // namespace layout
