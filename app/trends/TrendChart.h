// The trend chart: the three phase currents and the thermal impulse on the
// left axis (%), the insulation resistance on its own right axis (kOhm),
// the PC's wall-clock time below. Each channel is drawn as one line per
// unbroken run of samples, so a lost link shows as a gap. The series are
// reused from one repaint to the next.
#pragma once

#include <QChart>

#include <array>
#include <vector>

#include "history/TrendHistory.h"

class QDateTimeAxis;
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

    QDateTimeAxis* TimeAxis() const { return time_; }
    QValueAxis* PercentAxis() const { return percent_; }
    QValueAxis* InsulationAxis() const { return kohm_; }
    // The lines of a channel now drawn (one per unbroken run).
    std::vector<QLineSeries*> Lines(int channel) const;

private:
    QLineSeries* line(int channel, size_t index);

    QDateTimeAxis* time_ = nullptr;
    QValueAxis* percent_ = nullptr;
    QValueAxis* kohm_ = nullptr;
    std::array<std::vector<QLineSeries*>, kTrendChannels> lines_;
    std::array<size_t, kTrendChannels> used_{};
    std::array<bool, kTrendChannels> shown_{true, true, true, true, true};
};

// The chart's colour of a channel.
QColor TrendColor(int channel);
