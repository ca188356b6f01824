#include "app/trends/StartsOverlay.h"

#include <QChart>
#include <QLineSeries>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "app/trends/AxisTicks.h"
#include "app/trends/TrendChart.h"

namespace {

constexpr double kLowestPercentTop = 120;
constexpr int kMostSteps = 10;
constexpr double kNearestSeconds = 0.5;   // the readout's reach either side of the pointer

// Each start its own colour and dash, so that lines stay apart in grey too.
QPen OverlayPen(size_t index)
{
    static const QColor kColors[] = {QColor(0x15, 0x65, 0xC0), QColor(0xE6, 0x51, 0x00), QColor(0x6A, 0x1B, 0x9A),
                                     QColor(0x00, 0x83, 0x8F), QColor(0x4E, 0x34, 0x2E), QColor(0xAD, 0x14, 0x57)};
    static const Qt::PenStyle kStyles[] = {Qt::SolidLine, Qt::DashLine, Qt::DotLine, Qt::DashDotLine,
                                           Qt::DashDotDotLine};
    QPen pen(kColors[index % std::size(kColors)]);
    pen.setStyle(kStyles[index % std::size(kStyles)]);
    pen.setCosmetic(true);
    pen.setWidth(1);
    return pen;
}

QString Seconds(double seconds, int decimals)
{
    return QString::number(seconds, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

}  // namespace

void StartsOverlay::SetStarts(const std::vector<std::pair<StoredStart, QString>>& startsAndNames)
{
    lines_.clear();
    first_ = 0;
    last_ = 1;
    for (const auto& [start, name] : startsAndNames) {
        OverlayLine line{name, start, OverlayPen(lines_.size()), {}};
        for (const BlockSample& s : ReadStartSamples(start.folder)) {
            const double at = double(s.ms - start.summary.switchOnMs) / 1000.0;
            line.points.append(QPointF(at, std::max({s.At(50), s.At(51), s.At(52)})));
            first_ = std::min(first_, at);
            last_ = std::max(last_, at);
        }
        lines_.push_back(line);
    }
}

QChart* StartsOverlay::MakeChart() const
{
    auto* chart = new QChart;
    chart->setObjectName(QStringLiteral("StartsChart"));
    chart->setTitle(QStringLiteral("Пуски: наибольший ток фаз, % (от включения двигателя)"));
    chart->legend()->hide();   // the list of starts is its legend
    UseRussianNumbers(chart);
    auto* seconds = new QValueAxis;
    seconds->setTitleText(QStringLiteral("с от включения"));
    auto* percent = new QValueAxis;
    percent->setTitleText(QStringLiteral("%"));
    chart->addAxis(seconds, Qt::AlignBottom);
    chart->addAxis(percent, Qt::AlignLeft);
    double top = 0;
    for (const OverlayLine& line : lines_) {
        auto* series = new QLineSeries;
        series->setName(line.name);
        series->setPen(line.pen);
        series->replace(line.points);
        for (const QPointF& p : line.points)
            top = std::max(top, p.y());
        chart->addSeries(series);
        series->attachAxis(seconds);
        series->attachAxis(percent);
    }
    // Round seconds either side of the switch-on, ticks on 0 and its multiples.
    const double step = RoundStep(last_ - first_, kMostSteps);
    const double low = std::floor(first_ / step) * step, high = std::ceil(last_ / step) * step;
    seconds->setRange(low, high);
    seconds->setTickCount(int(std::lround((high - low) / step)) + 1);
    seconds->setLabelFormat(step >= 1 ? QStringLiteral("%.0f") : QStringLiteral("%.1f"));
    const ValueScale scale = ChooseValueScale(top, kLowestPercentTop, kMostSteps);
    percent->setRange(0, scale.Top());
    percent->setTickCount(scale.intervals + 1);
    percent->setLabelFormat(QStringLiteral("%.0f"));
    return chart;
}

QString StartsOverlay::ReadoutAt(double seconds) const
{
    QStringList parts{QStringLiteral("%1 с от включения").arg(Seconds(seconds, 2))};
    for (const OverlayLine& line : lines_) {
        const QPointF* nearest = nullptr;
        for (const QPointF& p : line.points)
            if (std::abs(p.x() - seconds) <= kNearestSeconds
                && (!nearest || std::abs(p.x() - seconds) < std::abs(nearest->x() - seconds)))
                nearest = &p;
        if (nearest)
            parts << QStringLiteral("%1: %2 %").arg(line.name).arg(nearest->y());
    }
    return parts.join(QStringLiteral("   "));
}

QByteArray StartsOverlay::Csv(const CsvStyle& style) const
{
    std::vector<QStringList> rows{{QStringLiteral("Пуск"), QStringLiteral("Реле"), QStringLiteral("Порт"),
                                   QStringLiteral("Адрес"), QStringLiteral("От включения (с)"),
                                   QStringLiteral("Наибольший ток фаз (%)")}};
    for (const OverlayLine& line : lines_) {
        const RelayId& relay = line.start.relay;
        const QString moment = RussianMoment(line.start.summary.switchOnMs);
        for (const QPointF& p : line.points)
            rows.push_back({moment, relay.name, relay.port, relay.Known() ? QString::number(relay.address) : QString(),
                            style.Number(p.x(), 3), QString::number(p.y())});
    }
    return CsvText(rows, style);
}

QStringList StartsOverlay::Header(qint64 madeMs) const
{
    QStringList relays;
    for (const OverlayLine& line : lines_)
        if (!relays.contains(line.start.relay.Text()))
            relays << line.start.relay.Text();
    return {QStringLiteral("Сравнение пусков: %1").arg(relays.join(QStringLiteral("; "))),
            QStringLiteral("Интервал: от %1 до %2 с от включения двигателя").arg(Seconds(first_, 1), Seconds(last_, 1)),
            QStringLiteral("Сформировано: %1").arg(RussianMoment(madeMs))};
}

std::vector<LegendEntry> StartsOverlay::Legend() const
{
    std::vector<LegendEntry> legend;
    for (const OverlayLine& line : lines_)
        legend.push_back({line.pen, line.name});
    return legend;
}
