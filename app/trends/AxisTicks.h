// Where a chart's axes put their ticks: on round moments of the visible time
// span (every 10 s, 2 min, 3 h ... counted in local time) and on round value
// steps (1, 2 or 5 times a power of ten). Pure arithmetic, no widgets.
#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

struct TimeTicks {
    qint64 stepMs = 0;
    std::vector<qint64> at;   // the ticks within the span, oldest first, ms since the epoch
    QString format;           // how a tick's local time is written (QDateTime::toString)
};

// The ticks of the span fromMs..toMs: the smallest round step that puts no
// more than `maxTicks` ticks into it, each on a multiple of the step in the
// local time `utcOffsetSeconds` ahead of UTC (a day's ticks at midnight).
TimeTicks ChooseTimeTicks(qint64 fromMs, qint64 toMs, int maxTicks, int utcOffsetSeconds);

// The smallest step of 1, 2 or 5 times a power of ten that divides 0..highest
// into no more than `maxIntervals` intervals; 1 for nothing to divide.
double RoundStep(double highest, int maxIntervals);

// A value axis from 0 with `intervals` steps of RoundStep: its top.
struct ValueScale {
    double step = 1;
    int intervals = 1;
    double Top() const { return step * intervals; }
};
// The scale for values up to `highest` (at least `lowestTop`), with a
// margin above the highest and at most `maxIntervals` steps.
ValueScale ChooseValueScale(double highest, double lowestTop, int maxIntervals);
// A second scale with the same number of steps as `beside`, so that both
// axes share their grid lines.
ValueScale MatchingValueScale(double highest, double lowestTop, const ValueScale& beside);
