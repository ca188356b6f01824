#include "app/trends/TrendChart.h"

#include <QCategoryAxis>
#include <QDateTime>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPainter>
#include <QPen>
#include <QPixmap>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

#include "app/trends/AxisTicks.h"

namespace {

constexpr double kLowestPercentTop = 120;
constexpr double kLowestKohmTop = 100;
constexpr int kMostValueSteps = 8;
constexpr int kTimeLabelPixels = 90;   // room for one time label and a gap
constexpr int kDefaultTimeTicks = 10;  // before the chart has been laid out (a picture)

// A value axis with ticks on every step of its scale from 0, and its
// labels as whole numbers or with one decimal.
void ApplyScale(QValueAxis* axis, const ValueScale& scale)
{
    axis->setRange(0, scale.Top());
    axis->setTickCount(scale.intervals + 1);
    axis->setLabelFormat(scale.step >= 1 ? QStringLiteral("%.0f") : QStringLiteral("%.1f"));
}

}  // namespace

QPen TrendPen(int channel)
{
    struct Look {
        QColor color;
        Qt::PenStyle style;
    };
    static const Look kLooks[kTrendChannels] = {
        {QColor(0xB8, 0x86, 0x0B), Qt::SolidLine},     // phase A: a yellow that reads on white
        {QColor(0x2E, 0x7D, 0x32), Qt::DashLine},      // phase B
        {QColor(0xC6, 0x28, 0x28), Qt::DotLine},       // phase C
        {QColor(0x15, 0x65, 0xC0), Qt::SolidLine},     // thermal impulse
        {QColor(0x6A, 0x1B, 0x9A), Qt::DashDotLine},   // insulation resistance
    };
    // A cosmetic pen one pixel wide: the raster engine draws it, dashed or
    // not, without a stroker, which a wider line would need.
    QPen pen(kLooks[channel].color);
    pen.setWidth(1);
    pen.setCosmetic(true);
    pen.setStyle(kLooks[channel].style);
    return pen;
}

// Qt Charts then writes no label at all for "%d": "%.0f" stands for it.
void UseRussianNumbers(QChart* chart)
{
    QLocale russian(QLocale::Russian, QLocale::Russia);
    russian.setNumberOptions(QLocale::OmitGroupSeparator);
    chart->setLocale(russian);
    chart->setLocalizeNumbers(true);
}

QIcon LineIcon(QPen pen)
{
    QPixmap picture(32, 12);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    pen.setCosmetic(true);
    pen.setWidth(2);
    painter.setPen(pen);
    painter.drawLine(1, 6, 31, 6);
    return QIcon(picture);
}

TrendChart::TrendChart()
{
    setObjectName(QStringLiteral("TrendChart"));
    legend()->hide();
    UseRussianNumbers(this);
    time_ = new QCategoryAxis(this);
    time_->setLabelsPosition(QCategoryAxis::AxisLabelsPositionOnValue);
    time_->setTitleText(QStringLiteral("Время ПК"));
    percent_ = new QValueAxis(this);
    percent_->setTitleText(QStringLiteral("%"));
    kohm_ = new QValueAxis(this);
    kohm_->setTitleText(QStringLiteral("кОм"));
    kohm_->setGridLineVisible(false);   // its ticks fall on the % axis's grid
    addAxis(time_, Qt::AlignBottom);
    addAxis(percent_, Qt::AlignLeft);
    addAxis(kohm_, Qt::AlignRight);
    const ValueScale percent = ChooseValueScale(0, kLowestPercentTop, kMostValueSteps);
    ApplyScale(percent_, percent);
    ApplyScale(kohm_, MatchingValueScale(0, kLowestKohmTop, percent));
    for (int c = 0; c < kTrendChannels; ++c)
        line(c, 0);
}

qint64 TrendChart::AxisFromMs() const
{
    return qint64(std::llround(time_->min()));
}

qint64 TrendChart::AxisToMs() const
{
    return qint64(std::llround(time_->max()));
}

QStringList TrendChart::TimeLabels() const
{
    return time_->categoriesLabels();
}

// Ticks on round moments of the span; the labels are made again only when
// the ticks change, not on every repaint of a sliding span.
void TrendChart::setTimeTicks(qint64 fromMs, qint64 toMs)
{
    const int width = int(plotArea().width());
    const int most = width > 0 ? std::max(2, width / kTimeLabelPixels) : kDefaultTimeTicks;
    const int offset = QDateTime::fromMSecsSinceEpoch(fromMs).offsetFromUtc();
    const TimeTicks ticks = ChooseTimeTicks(fromMs, toMs, most, offset);
    if (ticks.at == ticks_ && ticks.format == tickFormat_)
        return;
    ticks_ = ticks.at;
    tickFormat_ = ticks.format;
    for (const QString& label : time_->categoriesLabels())
        time_->remove(label);
    time_->setStartValue(double(fromMs));
    for (qint64 at : ticks.at)
        time_->append(QDateTime::fromMSecsSinceEpoch(at).toString(ticks.format), double(at));
}

QLineSeries* TrendChart::line(int channel, size_t index)
{
    std::vector<QLineSeries*>& lines = lines_[size_t(channel)];
    while (lines.size() <= index) {
        auto* series = new QLineSeries(this);
        series->setName(TrendCaption(channel));
        series->setPen(TrendPen(channel));
        series->setUseOpenGL(false);
        addSeries(series);
        series->attachAxis(time_);
        series->attachAxis(channel == tcInsulation ? kohm_ : percent_);
        lines.push_back(series);
    }
    return lines[index];
}

std::vector<QLineSeries*> TrendChart::Lines(int channel) const
{
    const std::vector<QLineSeries*>& lines = lines_[size_t(channel)];
    return {lines.begin(), lines.begin() + qsizetype(used_[size_t(channel)])};
}

void TrendChart::SetChannelShown(int channel, bool shown)
{
    shown_[size_t(channel)] = shown;
}

void TrendChart::Show(const TrendHistory& history, qint64 fromMs, qint64 toMs, int columns)
{
    double percentTop = 0, kohmTop = 0;
    for (int c = 0; c < kTrendChannels; ++c) {
        const std::vector<TrendSegment> segments
            = shown_[size_t(c)] ? history.Segments(c, fromMs, toMs, columns) : std::vector<TrendSegment>{};
        for (size_t s = 0; s < segments.size(); ++s) {
            QList<QPointF> points;
            points.reserve(qsizetype(segments[s].size()));
            for (const TrendPoint& p : segments[s]) {
                points.append(QPointF(double(p.ms), p.value));
                (c == tcInsulation ? kohmTop : percentTop) = std::max(c == tcInsulation ? kohmTop : percentTop, p.value);
            }
            QLineSeries* series = line(c, s);
            series->replace(points);
            series->setVisible(true);
        }
        // Lines left from an earlier repaint are emptied.
        const std::vector<QLineSeries*>& lines = lines_[size_t(c)];
        for (size_t s = segments.size(); s < lines.size(); ++s) {
            if (lines[s]->count() > 0)
                lines[s]->clear();
        }
        lines[0]->setVisible(shown_[size_t(c)]);
        used_[size_t(c)] = segments.size();
    }
    time_->setRange(double(fromMs), double(toMs));
    setTimeTicks(fromMs, toMs);
    const ValueScale percent = ChooseValueScale(percentTop, kLowestPercentTop, kMostValueSteps);
    ApplyScale(percent_, percent);
    ApplyScale(kohm_, MatchingValueScale(kohmTop, kLowestKohmTop, percent));
}
