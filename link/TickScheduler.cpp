#include "link/TickScheduler.h"

#include <QTimer>

#include <algorithm>
#include <chrono>

namespace {
constexpr qint64 kNsPerMs = 1000000;
}  // namespace

TickScheduler::TickScheduler(TickTarget& target, int tickMs, QObject* parent)
    : QObject(parent), target_(target), tickNs_(qint64(std::max(tickMs, 1)) * kNsPerMs), timer_(new QTimer(this))
{
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(std::max(tickMs, 1));
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &TickScheduler::Wake);
    clock_ = [] {
        return qint64(std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch())
                          .count());
    };
}

void TickScheduler::SetClock(std::function<qint64()> clock)
{
    clock_ = std::move(clock);
}

qint64 TickScheduler::NowNs() const
{
    return clock_() - originNs_;
}

qint64 TickScheduler::tickOfNow() const
{
    return NowNs() / tickNs_;
}

qint64 TickScheduler::nextEventNs() const
{
    return (lastTick_ + target_.TicksToNextEvent()) * tickNs_;
}

bool TickScheduler::Armed() const
{
    return timer_->isActive();
}

void TickScheduler::Start()
{
    originNs_ = clock_();
    lastTick_ = 0;
    running_ = true;
    Arm();
}

void TickScheduler::Stop()
{
    running_ = false;
    timer_->stop();
}

void TickScheduler::Arm()
{
    if (!running_ || target_.Idle()) {
        timer_->stop();
        return;
    }
    dueNs_ = nextEventNs();
    const qint64 waitNs = std::max<qint64>(dueNs_ - NowNs(), 0);
    timer_->start(int((waitNs + kNsPerMs - 1) / kNsPerMs));
}

void TickScheduler::Wake()
{
    const qint64 passed = std::max<qint64>(tickOfNow() - lastTick_, 0);
    const int due = target_.TicksToNextEvent();
    if (passed < due) {
        // Woken before the tick that can do anything (a receive event moved
        // it later): count the ticks gone by and sleep on.
        target_.CountIdleTicks(int(passed));
        lastTick_ += passed;
        Arm();
        return;
    }
    // A late wake-up runs the one tick due; the ticks it slept past are gone,
    // as a late timer's would be.
    target_.CountIdleTicks(due - 1);
    lastTick_ += passed;
    target_.Tick();
    Arm();
}

void TickScheduler::CountElapsed()
{
    if (running_)
        target_.CountIdleTicks(int(std::max<qint64>(tickOfNow() - lastTick_, 0)));
}

void TickScheduler::Restarted()
{
    if (!running_)
        return;
    lastTick_ = tickOfNow();
    if (!timer_->isActive() || nextEventNs() < dueNs_)
        Arm();
}
