// The trend chart: the three phase currents and the thermal impulse on the
// left axis (%), the insulation resistance on its own right axis (kOhm),
// the PC's wall-clock time below, with ticks on round moments and round
// values (see AxisTicks.h). Each channel is drawn as one line per unbroken
// run of samples, so a lost link shows as a gap. The series are reused from
// one repaint to the next. The chart draws no legend of its own: the
// window's channel boxes are its legend, and a picture draws one whole.
#pragma once

#include <QChart>
#include <QIcon>
#include <QPen>
#include <QStringList>

#include <array>
#include <vector>

#include "history/TrendHistory.h"

class QCategoryAxis;
class QLineSeries;
class QValueAxis;

class TrendChart : public QChart {
    Q_OBJECT
public:
    TrendChart();

    // Draws the history between fromMs and toMs with `columns` points of
    // resolution (about the plot's width in pixels).
    void Show(const TrendHistory& history, qint64 fromMs, qint64 toMs, int columns);
    void SetChannelShown(int channel, bool shown);
    bool ChannelShown(int channel) const { return shown_[size_t(channel)]; }

    QCategoryAxis* TimeAxis() const { return time_; }
    // The span on the time axis now (after a zoom too), ms since the epoch.
    qint64 AxisFromMs() const;
    qint64 AxisToMs() const;
    // The labels of the time axis's ticks, oldest first.
    QStringList TimeLabels() const;
    QValueAxis* PercentAxis() const { return percent_; }
    QValueAxis* InsulationAxis() const { return kohm_; }
    // The lines of a channel now drawn (one per unbroken run).
    std::vector<QLineSeries*> Lines(int channel) const;

private:
    QLineSeries* line(int channel, size_t index);
    void setTimeTicks(qint64 fromMs, qint64 toMs);

    QCategoryAxis* time_ = nullptr;
    QValueAxis* percent_ = nullptr;
    QValueAxis* kohm_ = nullptr;
    std::array<std::vector<QLineSeries*>, kTrendChannels> lines_;
    std::array<size_t, kTrendChannels> used_{};
    std::array<bool, kTrendChannels> shown_{true, true, true, true, true};
    std::vector<qint64> ticks_;   // the time axis's ticks now
    QString tickFormat_;
};

// The chart's pen of a channel: phases A, B and C yellow, green and red
// (as switchboards mark them) and solid, dashed and dotted, so that they
// stay apart without their colours too.
QPen TrendPen(int channel);

// Numbers written the Russian way (decimal comma) on a chart's axes.
void UseRussianNumbers(QChart* chart);

// A short line in the pen's colour and dash, for a box or a list item.
QIcon LineIcon(QPen pen);
