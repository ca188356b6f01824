#include "ReadRound.h"

#include <QTimer>

#include <algorithm>

ReadRound::ReadRound(RelaySession& session, std::vector<int> addresses, QObject* parent)
    : QObject(parent), session_(session), wait_(new QTimer(this))
{
    for (int address : addresses)
        relays_.push_back(Relay{address});
    wait_->setSingleShot(true);
    wait_->setTimerType(Qt::PreciseTimer);
    connect(wait_, &QTimer::timeout, this, &ReadRound::askNext);
    connect(&session_, &RelaySession::blockRead, this, [this](const RegisterValues& values) {
        if (!asking_ || values.mode != 0)
            return;
        const int address = asking_;
        finish(true);
        emit answered(address, values);
        askNext();
    });
    connect(&session_, &RelaySession::readFailed, this, [this](const ReadFailure& failure) {
        if (!asking_)
            return;
        const int address = asking_;
        finish(false);
        emit failed(address, failure);
        askNext();
    });
    clock_.start();
}

ReadRound::Relay* ReadRound::find(int address)
{
    auto it = std::find_if(relays_.begin(), relays_.end(), [address](const Relay& r) { return r.address == address; });
    return it == relays_.end() ? nullptr : &*it;
}

bool ReadRound::Present(int address) const
{
    for (const Relay& r : relays_)
        if (r.address == address)
            return r.present;
    return false;
}

void ReadRound::Start()
{
    if (running_)
        return;
    running_ = true;
    askNext();
}

void ReadRound::Stop()
{
    running_ = false;
    wait_->stop();
    if (asking_)
        session_.CancelAsk();
    asking_ = 0;
}

void ReadRound::finish(bool answered)
{
    Relay* r = find(asking_);
    asking_ = 0;
    if (!r)
        return;
    if (answered) {
        r->misses = 0;
        r->pauseMs = 0;
        if (!r->present) {
            r->present = true;
            emit relayLookChanged(r->address, true);
        }
        return;
    }
    ++r->misses;
    if (r->present && r->misses >= kMissesForAbsent) {
        r->present = false;
        emit relayLookChanged(r->address, false);
    }
    if (!r->present) {
        r->pauseMs = r->pauseMs == 0 ? kFirstPauseMs : std::min(r->pauseMs * 2, kLongestPauseMs);
        r->dueMs = clock_.elapsed() + r->pauseMs;
    }
}

void ReadRound::askNext()
{
    if (!running_ || asking_ || relays_.empty() || !session_.IsOpen())
        return;
    const qint64 now = clock_.elapsed();
    // The next relay in turn that is due; else wait for the first to be.
    qint64 soonest = -1;
    for (size_t k = 1; k <= relays_.size(); ++k) {
        Relay& r = relays_[(turn_ + k) % relays_.size()];
        if (r.dueMs > now) {
            soonest = soonest < 0 ? r.dueMs : std::min(soonest, r.dueMs);
            continue;
        }
        turn_ = (turn_ + k) % relays_.size();
        const RegisterBlock block = nextBlock ? nextBlock(r.address) : RegisterBlock{};
        if (block.count <= 0)
            continue;
        if (intervalMs_ > 0 && r.present)
            r.dueMs = now + intervalMs_;
        asking_ = r.address;
        AskOptions ask;
        ask.address = r.address;
        ask.tries = 1;
        ask.timeoutTicks = timeoutTicks_;
        session_.AskRead(block, ask);
        return;
    }
    if (soonest >= 0)
        wait_->start(int(std::max<qint64>(1, soonest - now)));
}
