// Where the trend charts put their ticks: time ticks on round moments of the
// span shown, counted in local time, and value axes on 1-2-5 steps.
#include <gtest/gtest.h>

#include <QDateTime>

#include "app/trends/AxisTicks.h"

namespace {

qint64 Utc(const char* iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs).toMSecsSinceEpoch();
}

constexpr qint64 kSecond = 1000, kMinute = 60 * kSecond, kHour = 60 * kMinute;

}  // namespace

TEST(TimeTicks, OnRoundMomentsOfTheSpanShown)
{
    const qint64 t0 = Utc("2025-12-08T11:41:02.345Z");
    struct Case {
        const char* what;
        qint64 spanMs;
        int utcOffsetSeconds;
        qint64 stepMs;
        const char* first;   // the first tick, UTC
        size_t count;
        const char* format;
        qint64 shiftMs = 0;  // the span's start after t0
    } const cases[] = {
        {"1 min", kMinute, 0, 10 * kSecond, "2025-12-08T11:41:10Z", 6, "HH:mm:ss"},
        {"10 min", 10 * kMinute, 0, 2 * kMinute, "2025-12-08T11:42:00Z", 5, "HH:mm"},
        {"1 h", kHour, 0, 10 * kMinute, "2025-12-08T11:50:00Z", 6, "HH:mm"},
        {"24 h", 24 * kHour, 0, 3 * kHour, "2025-12-08T12:00:00Z", 8, "dd.MM HH:mm"},
        {"37 s", 37 * kSecond, 0, 5 * kSecond, "2025-12-08T11:41:05Z", 7, "HH:mm:ss"},
        {"2.5 s, zoomed in", 2500, 0, 500, "2025-12-08T11:41:02.500Z", 5, "HH:mm:ss,z"},
        {"71 h, an old history", 71 * kHour, 0, 12 * kHour, "2025-12-08T12:00:00Z", 6, "dd.MM HH:mm"},
        {"5 days: a tick a day, at midnight", 120 * kHour, 0, 24 * kHour, "2025-12-09T00:00:00Z", 5, "dd.MM"},
        {"10 days", 240 * kHour, 0, 2 * 24 * kHour, "2025-12-10T00:00:00Z", 5, "dd.MM"},
        {"1 h in Moscow", kHour, 3 * 3600, 10 * kMinute, "2025-12-08T11:50:00Z", 6, "HH:mm"},
        // Local hours on a zone half an hour off UTC: 18:00 there is 12:30 UTC.
        {"24 h in Kolkata", 24 * kHour, 19800, 3 * kHour, "2025-12-08T12:30:00Z", 8, "dd.MM HH:mm"},
        // From a round moment: 5 s would make 9 ticks, one too many.
        {"40 s from 11:41:00", 40 * kSecond, 0, 10 * kSecond, "2025-12-08T11:41:00Z", 5, "HH:mm:ss", -2345},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const qint64 from = t0 + c.shiftMs;
        const TimeTicks ticks = ChooseTimeTicks(from, from + c.spanMs, 8, c.utcOffsetSeconds);
        EXPECT_EQ(ticks.stepMs, c.stepMs);
        EXPECT_EQ(ticks.at.size(), c.count);
        EXPECT_EQ(ticks.format, QString::fromLatin1(c.format));
        if (ticks.at.empty())
            continue;
        EXPECT_EQ(ticks.at.front(), Utc(c.first));
        EXPECT_GE(ticks.at.front(), from);
        EXPECT_LE(ticks.at.back(), from + c.spanMs);
        for (size_t n = 1; n < ticks.at.size(); ++n)
            EXPECT_EQ(ticks.at[n] - ticks.at[n - 1], ticks.stepMs);
    }
}

TEST(ValueScale, RoundStepsFromZeroSharedByBothAxes)
{
    struct Case {
        const char* what;
        double highest, lowestTop;
        int maxIntervals;
        double step;
        int intervals;
    } const cases[] = {
        {"a start's 612 %", 612, 120, 8, 100, 7},
        {"nothing yet", 0, 120, 8, 20, 6},
        {"a running motor's 95 %", 95, 120, 8, 20, 6},
        {"a step of a whole power of ten", 72, 80, 8, 10, 8},
        {"a small insulation reading", 0.9, 1, 8, 0.2, 5},
        {"1950 kOhm", 1950, 100, 8, 500, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ValueScale scale = ChooseValueScale(c.highest, c.lowestTop, c.maxIntervals);
        EXPECT_DOUBLE_EQ(scale.step, c.step);
        EXPECT_EQ(scale.intervals, c.intervals);
        EXPECT_GE(scale.Top(), c.highest);
    }
    // The insulation axis beside a % axis of seven steps: seven steps too.
    const ValueScale kohm = MatchingValueScale(1950, 100, ValueScale{100, 7});
    EXPECT_EQ(kohm.intervals, 7);
    EXPECT_DOUBLE_EQ(kohm.step, 500);
}
