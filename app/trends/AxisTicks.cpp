#include "app/trends/AxisTicks.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr qint64 kSecondMs = 1000;
constexpr qint64 kMinuteMs = 60 * kSecondMs;
constexpr qint64 kHourMs = 60 * kMinuteMs;
constexpr qint64 kDayMs = 24 * kHourMs;

// The round steps of a time axis, shortest first.
constexpr qint64 kTimeSteps[] = {
    100,           200,           500,           kSecondMs,      2 * kSecondMs, 5 * kSecondMs,
    10 * kSecondMs, 15 * kSecondMs, 30 * kSecondMs, kMinuteMs,      2 * kMinuteMs, 5 * kMinuteMs,
    10 * kMinuteMs, 15 * kMinuteMs, 30 * kMinuteMs, kHourMs,        2 * kHourMs,   3 * kHourMs,
    6 * kHourMs,   12 * kHourMs,  kDayMs,        2 * kDayMs,     5 * kDayMs,    10 * kDayMs,
};

qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// The first multiple of `step` at or after `localMs`.
qint64 FirstMultiple(qint64 localMs, qint64 step)
{
    const qint64 below = FloorDiv(localMs, step) * step;
    return below == localMs ? below : below + step;
}

qint64 TicksIn(qint64 fromLocal, qint64 toLocal, qint64 step)
{
    const qint64 first = FirstMultiple(fromLocal, step);
    return first > toLocal ? 0 : (toLocal - first) / step + 1;
}

QString TickFormat(qint64 stepMs, qint64 spanMs)
{
    if (stepMs < kSecondMs)
        return QStringLiteral("HH:mm:ss,z");
    if (stepMs < kMinuteMs)
        return QStringLiteral("HH:mm:ss");
    if (stepMs >= kDayMs)
        return QStringLiteral("dd.MM");
    if (spanMs >= kDayMs)
        return QStringLiteral("dd.MM HH:mm");
    return QStringLiteral("HH:mm");
}

}  // namespace

TimeTicks ChooseTimeTicks(qint64 fromMs, qint64 toMs, int maxTicks, int utcOffsetSeconds)
{
    const qint64 offset = qint64(utcOffsetSeconds) * kSecondMs;
    const qint64 fromLocal = fromMs + offset, toLocal = std::max(fromMs, toMs) + offset;
    maxTicks = std::max(1, maxTicks);
    qint64 step = 0;
    for (qint64 candidate : kTimeSteps) {
        if (TicksIn(fromLocal, toLocal, candidate) <= maxTicks) {
            step = candidate;
            break;
        }
    }
    // Longer than the list goes: whole tens of days.
    for (qint64 tens = 10 * kDayMs; step == 0; tens += 10 * kDayMs)
        if (TicksIn(fromLocal, toLocal, tens) <= maxTicks)
            step = tens;
    TimeTicks ticks;
    ticks.stepMs = step;
    ticks.format = TickFormat(step, toLocal - fromLocal);
    for (qint64 t = FirstMultiple(fromLocal, step); t <= toLocal; t += step)
        ticks.at.push_back(t - offset);
    return ticks;
}

double RoundStep(double highest, int maxIntervals)
{
    if (!(highest > 0))
        return 1;
    const double raw = highest / std::max(1, maxIntervals);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power * (1 + 1e-9) >= raw)
            return m * power;
    return 10 * power;
}

namespace {
// Room above the highest value, so that a line at the top stays in sight.
double WithMargin(double highest, double lowestTop)
{
    return std::max(lowestTop, highest * 1.1);
}
}  // namespace

ValueScale ChooseValueScale(double highest, double lowestTop, int maxIntervals)
{
    const double top = WithMargin(highest, lowestTop);
    ValueScale scale;
    scale.step = RoundStep(top, maxIntervals);
    scale.intervals = std::max(1, int(std::ceil(top / scale.step - 1e-9)));
    return scale;
}

ValueScale MatchingValueScale(double highest, double lowestTop, const ValueScale& beside)
{
    ValueScale scale;
    scale.intervals = beside.intervals;
    scale.step = RoundStep(WithMargin(highest, lowestTop), beside.intervals);
    return scale;
}
