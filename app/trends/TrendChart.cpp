#include "app/trends/TrendChart.h"

#include <QDateTime>
#include <QDateTimeAxis>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPen>
#include <QValueAxis>

#include <algorithm>
#include <cmath>

namespace {

constexpr double kLowestPercentTop = 120;
constexpr double kLowestKohmTop = 100;

// A top a little above the highest value, on a round step.
double RoundTop(double highest, double lowest)
{
    const double top = std::max(lowest, highest * 1.1);
    const double step = std::pow(10.0, std::floor(std::log10(top)));
    return std::ceil(top / step) * step;
}

}  // namespace

QColor TrendColor(int channel)
{
    static const QColor kColors[kTrendChannels] = {QColor(0xC6, 0x28, 0x28), QColor(0x2E, 0x7D, 0x32),
                                                   QColor(0x15, 0x65, 0xC0), QColor(0xEF, 0x6C, 0x00),
                                                   QColor(0x6A, 0x1B, 0x9A)};
    return kColors[channel];
}

TrendChart::TrendChart()
{
    setObjectName(QStringLiteral("TrendChart"));
    legend()->setAlignment(Qt::AlignBottom);
    time_ = new QDateTimeAxis(this);
    time_->setFormat(QStringLiteral("HH:mm:ss"));
    time_->setTitleText(QStringLiteral("Время ПК"));
    time_->setTickCount(7);
    percent_ = new QValueAxis(this);
    percent_->setTitleText(QStringLiteral("%"));
    percent_->setLabelFormat(QStringLiteral("%d"));
    kohm_ = new QValueAxis(this);
    kohm_->setTitleText(QStringLiteral("кОм"));
    kohm_->setLabelFormat(QStringLiteral("%d"));
    addAxis(time_, Qt::AlignBottom);
    addAxis(percent_, Qt::AlignLeft);
    addAxis(kohm_, Qt::AlignRight);
    percent_->setRange(0, kLowestPercentTop);
    kohm_->setRange(0, kLowestKohmTop);
    for (int c = 0; c < kTrendChannels; ++c)
        line(c, 0);   // the first line of each channel carries its legend
}

QLineSeries* TrendChart::line(int channel, size_t index)
{
    std::vector<QLineSeries*>& lines = lines_[size_t(channel)];
    while (lines.size() <= index) {
        auto* series = new QLineSeries(this);
        series->setName(TrendCaption(channel));
        // A cosmetic pen one pixel wide, solid: the raster engine draws it
        // without a stroker, which a wider or dashed line would need.
        QPen pen(TrendColor(channel));
        pen.setWidth(1);
        pen.setCosmetic(true);
        series->setPen(pen);
        series->setUseOpenGL(false);
        addSeries(series);
        series->attachAxis(time_);
        series->attachAxis(channel == tcInsulation ? kohm_ : percent_);
        if (!lines.empty())
            for (QLegendMarker* marker : legend()->markers(series))
                marker->setVisible(false);
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
        // Lines left from an earlier repaint are emptied; the first stays
        // for the legend.
        const std::vector<QLineSeries*>& lines = lines_[size_t(c)];
        for (size_t s = segments.size(); s < lines.size(); ++s) {
            if (lines[s]->count() > 0)
                lines[s]->clear();
        }
        lines[0]->setVisible(shown_[size_t(c)]);
        used_[size_t(c)] = segments.size();
    }
    time_->setRange(QDateTime::fromMSecsSinceEpoch(fromMs), QDateTime::fromMSecsSinceEpoch(toMs));
    percent_->setRange(0, RoundTop(percentTop, kLowestPercentTop));
    kohm_->setRange(0, RoundTop(kohmTop, kLowestKohmTop));
}
