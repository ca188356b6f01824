// The tick grid on a clock of the test's own: the timer sleeps through the
// ticks that only count and wakes for the one due, a receive event moves that
// wake-up, and a late wake-up runs the one tick due, not the ones it missed.
#include <gtest/gtest.h>

#include <QTimer>

#include <algorithm>
#include <string>
#include <vector>

#include "link/TickScheduler.h"

namespace {

constexpr qint64 kMs = 1000000;
constexpr int kPeriod = 6;   // ticks from one event of the cycle to the next

// A cycle whose next event comes kPeriod ticks after the last one it ran.
struct Cycle : TickTarget {
    int toNext = kPeriod;
    int counted = 0;   // ticks that only counted
    int ran = 0;       // ticks that did something
    bool idle = false;
    int TicksToNextEvent() const override { return std::max(toNext, 1); }
    void CountIdleTicks(int n) override
    {
        counted += n;
        toNext -= n;
    }
    bool Idle() const override { return idle; }
    void Tick() override
    {
        ++ran;
        toNext = kPeriod;
    }
};

struct Step {
    enum Kind { Start, Wake, Receive } kind;
    qint64 atMs;
    int toNextAfter = 0;   // Receive: the ticks to the next event once it has restarted the count
    qint64 dueMs = -1;     // where the timer is set afterwards; -1: not set
    int waitMs = -1;       // and its wait
};

struct Case {
    const char* name;
    std::vector<Step> steps;
    int ran;
    int counted;
    bool idle = false;
};

TEST(TickScheduler, WakesOnlyForTheTickDue)
{
    using S = Step;
    const Case cases[] = {
        {"the ticks before the event are slept through and counted",
         {{S::Start, 0, 0, 30, 30}, {S::Wake, 30, 0, 60, 30}}, 1, 5},
        {"a receive event that moves the event later leaves the timer, which sleeps on",
         {{S::Start, 0, 0, 30, 30}, {S::Receive, 12, 6, 30}, {S::Wake, 30, 0, 40, 10}, {S::Wake, 40, 0, 70, 30}},
         1, 7},
        {"a receive event that brings the event forward sets the timer again",
         {{S::Start, 0, 0, 30, 30}, {S::Receive, 12, 2, 20, 8}, {S::Wake, 20, 0, 50, 30}}, 1, 3},
        {"a late wake-up runs the one tick due, the grid kept",
         {{S::Start, 0, 0, 30, 30}, {S::Wake, 52, 0, 80, 28}}, 1, 5},
        {"an idle cycle sets no timer", {{S::Start, 0}, {S::Receive, 7, kPeriod}}, 0, 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Cycle cycle;
        cycle.idle = c.idle;
        qint64 now = 1000 * kMs;   // the clock does not start at the grid's origin
        const qint64 origin = now;
        TickScheduler ticks(cycle, 5);
        ticks.SetClock([&] { return now; });
        for (const Step& step : c.steps) {
            now = origin + step.atMs * kMs;
            switch (step.kind) {
            case S::Start: ticks.Start(); break;
            case S::Wake: ticks.Wake(); break;
            case S::Receive:
                ticks.CountElapsed();
                cycle.toNext = step.toNextAfter;
                ticks.Restarted();
                break;
            }
            SCOPED_TRACE("at " + std::to_string(step.atMs) + " ms");
            EXPECT_EQ(ticks.Armed(), step.dueMs >= 0);
            if (step.dueMs >= 0) {
                EXPECT_EQ(ticks.DueNs(), step.dueMs * kMs);
                if (step.waitMs >= 0) {
                    EXPECT_EQ(ticks.Timer()->interval(), step.waitMs);
                }
            }
        }
        EXPECT_EQ(cycle.ran, c.ran);
        EXPECT_EQ(cycle.counted, c.counted);
    }
}

}  // namespace
