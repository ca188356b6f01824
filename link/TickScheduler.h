// The tick grid of a poll cycle, and the timer that keeps it without waking
// on every tick. The ticks keep a fixed grid from the opening of the line, as
// a free-running timer would; but the timer sleeps through the ticks that
// would only count and wakes for the one that can do something (a send, a
// time-out), counting the ones it slept through: the same ticks, without a
// wake-up every tick.
#pragma once

#include <QObject>

#include <functional>

class QTimer;

// What the scheduler drives: a cycle that knows how many ticks from now the
// next one that can do anything comes.
class TickTarget {
public:
    virtual ~TickTarget() = default;
    // Ticks from now to the next one that can do anything (at least 1).
    virtual int TicksToNextEvent() const = 0;
    // Ticks that passed doing nothing but count.
    virtual void CountIdleTicks(int n) = 0;
    // Nothing to do until something is asked: no tick is due at all.
    virtual bool Idle() const = 0;
    // The tick that can do something.
    virtual void Tick() = 0;
};

class TickScheduler : public QObject {
    Q_OBJECT
public:
    TickScheduler(TickTarget& target, int tickMs, QObject* parent = nullptr);

    // Nanoseconds on a steady clock; a test may put its own in.
    void SetClock(std::function<qint64()> clock);

    // The grid starts now (the line is opened) and the timer is set.
    void Start();
    void Stop();
    bool Running() const { return running_; }

    // Sets the timer for the next tick that can do anything; stops it when
    // the cycle is idle.
    void Arm();
    // A receive event begins: the ticks since the last event are counted.
    void CountElapsed();
    // A receive event has ended and restarted the count: the next tick of the
    // grid is the first. The timer is set again only if that brings its
    // wake-up forward.
    void Restarted();
    // The timer woke: runs the tick due, or counts the ticks gone by and
    // sleeps on when woken before it.
    void Wake();

    // Now on the grid's clock, from the start.
    qint64 NowNs() const;
    // When the timer is set to wake, on the grid's clock; whether it is set.
    qint64 DueNs() const { return dueNs_; }
    bool Armed() const;
    QTimer* Timer() const { return timer_; }

private:
    qint64 tickOfNow() const;
    qint64 nextEventNs() const;

    TickTarget& target_;
    qint64 tickNs_;
    QTimer* timer_;
    std::function<qint64()> clock_;
    qint64 originNs_ = 0;    // the grid's start, on the clock
    qint64 lastTick_ = 0;    // the grid tick last counted
    qint64 dueNs_ = 0;       // when the timer is set to wake, from the start
    bool running_ = false;
};
