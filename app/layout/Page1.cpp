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
        const char* name;
        QRect geometry;
        int reg;
        int left;        // caption's left edge (first line)
        QString line1;
        QString line2;
        QString unit;
    };
    const SetpointLine setpoints[] = {
        // Left column.
        {"SE0", {185, 5, 74, 24}, 108, 15, QStringLiteral("Номинальный ток двигателя:"), QString(),
         QStringLiteral("*0,01 A")},
        {"SE1", {184, 43, 73, 24}, 104, 22, QStringLiteral("Порог индикации вкл/откл"),
         QStringLiteral("состояния двигателя:"), QString()},
        {"SE2", {184, 78, 73, 24}, 81, 22, QStringLiteral("Ток МТЗ (отсечка)"), QString(), QStringLiteral("%")},
        {"SE3", {184, 113, 73, 24}, 82, 22, QStringLiteral("Время МТЗ (отсечка)"), QString(), QStringLiteral("мс")},
        {"SE4", {184, 149, 73, 24}, 83, 20, QStringLiteral("Уровень срабатывания"), QStringLiteral("изоляции:"),
         QStringLiteral("кОм")},
        {"SE5", {184, 183, 73, 24}, 84, 22, QStringLiteral("Время срабатывания по"),
         QStringLiteral("сопротивлению изоляции:"), QStringLiteral("мс")},
        {"SE6", {184, 216, 73, 24}, 85, 22, QStringLiteral("Уровень срабатывания"),
         QStringLiteral("несимметрии токов:"), QStringLiteral("%")},
        {"SE7", {184, 253, 73, 24}, 86, 22, QStringLiteral("Время срабатывания"),
         QStringLiteral("несимметрии токов:"), QStringLiteral("мс")},
        {"SE8", {184, 286, 73, 24}, 87, 22, QStringLiteral("Уровень срабатывания"),
         QStringLiteral("пульсации токов:"), QStringLiteral("%")},
        {"SE9", {184, 321, 73, 24}, 88, 22, QStringLiteral("Время срабатывания"),
         QStringLiteral("пульсации токов:"), QStringLiteral("мс")},
        {"SE20", {184, 356, 74, 24}, 110, 15, QStringLiteral("Время коррекции изоляции:"), QString(),
         QStringLiteral("мин")},
        // Right column.
        {"SE10", {488, 5, 73, 24}, 89, 315, QStringLiteral("Период определения"),
         QStringLiteral("пульсации токов:"), QStringLiteral("мс")},
        {"SE11", {487, 43, 73, 24}, 90, 315, QStringLiteral("Уровень срабатывания"),
         QStringLiteral("холостого хода:"), QString()},
        {"SE12", {487, 78, 73, 24}, 91, 315, QStringLiteral("Время срабатывания"),
         QStringLiteral("холостого хода:"), QStringLiteral("мс")},
        {"SE13", {487, 113, 74, 24}, 92, 315, QStringLiteral("Уровень срабатывания"),
         QStringLiteral("перегрузки:"), QStringLiteral("%")},
        {"SE14", {487, 149, 74, 24}, 117, 315, QStringLiteral("Время срабатывания"),
         QStringLiteral("перегрузки:"), QStringLiteral("мс")},
        {"SE15", {487, 183, 74, 24}, 103, 315, QStringLiteral("Коэффициент интегратора"),
         QStringLiteral("при пуске:"), QString()},
        {"SE19", {487, 216, 74, 24}, 106, 315, QStringLiteral("Коэффициент интегратора"),
         QStringLiteral("при работе:"), QString()},
        {"SE16", {487, 254, 74, 24}, 105, 315, QStringLiteral("Коэффициент охлаждения"), QString(), QString()},
        {"SE17", {487, 286, 74, 24}, 95, 315, QStringLiteral("Контрольный тепловой"), QStringLiteral("импульс:"),
         QStringLiteral("%")},
        {"SE18", {487, 321, 73, 24}, 93, 315, QStringLiteral("Задержка повторного"),
         QStringLiteral("включения:"), QStringLiteral("мс")},
        {"SE22", {487, 359, 74, 24}, 118, 315, QStringLiteral("Максимальное время пуска:"), QString(),
         QStringLiteral("мс")},
    };
    for (const SetpointLine& s : setpoints) {
        ControlRow row = Spin(QString::fromLatin1(s.name), P, s.geometry, s.reg);
        // The second lines of the left column all start at 22.
        CaptionFrom(row, s.left, s.line1, s.line2, s.left < 300 ? 22 : s.left);
        if (!s.unit.isEmpty())
            UnitAfter(row, s.unit, s.unit.size() > 3 ? 42 : 28);
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
