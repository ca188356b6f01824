#include "link/RelayRound.h"

#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <memory>

#include "link/RelaySession.h"

RelayRound::RelayRound(RelaySession& session, std::vector<int> addresses, QObject* parent)
    : QObject(parent), session_(session)
{
    for (int address : addresses) {
        Relay relay;
        relay.address = address;
        relays_.push_back(relay);
    }
    auto steady = std::make_shared<QElapsedTimer>();
    steady->start();
    clock = [steady] { return steady->elapsed(); };
    wait_ = new QTimer(this);
    wait_->setSingleShot(true);
    connect(wait_, &QTimer::timeout, this, &RelayRound::askNext);
}

RelayRound::~RelayRound()
{
    // The question on the line is abandoned; a round that is going tells
    // nobody of its end (whoever listened may be gone before it).
    blockSignals(true);
    Stop();
}

void RelayRound::Start()
{
    if (running_ || relays_.empty())
        return;
    running_ = true;
    askNext();
}

void RelayRound::Stop()
{
    running_ = false;
    wait_->stop();
    if (asked_)
        asked_->abandon();
    asked_ = nullptr;
}

bool RelayRound::Present(int address) const
{
    for (const Relay& relay : relays_)
        if (relay.address == address)
            return relay.present;
    return false;
}

void RelayRound::askNext()
{
    if (!running_ || asked_)
        return;
    const qint64 now = clock();
    // The next relay in turn whose pause is over; the others wait theirs.
    for (size_t k = 0; k < relays_.size(); ++k) {
        const size_t index = (next_ + k) % relays_.size();
        Relay& relay = relays_[index];
        if (relay.dueMs > now)
            continue;
        next_ = (index + 1) % relays_.size();
        Question question = nextQuestion ? nextQuestion(relay.address) : Question::Read({0, 1});
        question.address = relay.address;
        question.tries = 1;
        asked_ = session_.Ask(question);
        connect(asked_, &SessionReply::finished, this,
                [this, address = relay.address](const Answer& answer) { finished(address, answer); });
        return;
    }
    if (relays_.empty())
        return;
    qint64 firstDue = relays_.front().dueMs;
    for (const Relay& relay : relays_)
        firstDue = std::min(firstDue, relay.dueMs);
    wait_->start(int(std::max<qint64>(firstDue - now, 1)));
}

void RelayRound::SetAddresses(const std::vector<int>& addresses)
{
    const int turn = relays_.empty() ? 0 : relays_[next_ % relays_.size()].address;
    std::vector<Relay> relays;
    for (int address : addresses) {
        const auto kept = std::find_if(relays_.begin(), relays_.end(), [address](const Relay& r) { return r.address == address; });
        Relay relay;
        relay.address = address;
        relays.push_back(kept == relays_.end() ? relay : *kept);
    }
    relays_ = std::move(relays);
    // The relay whose turn came next keeps it, if it stays.
    next_ = 0;
    for (size_t k = 0; k < relays_.size(); ++k)
        if (relays_[k].address == turn)
            next_ = k;
    if (relays_.empty())
        Stop();
}

void RelayRound::finished(int address, const Answer& answer)
{
    asked_ = nullptr;
    const auto at = std::find_if(relays_.begin(), relays_.end(), [address](const Relay& r) { return r.address == address; });
    if (at == relays_.end()) {
        // Its relay was taken out of the round while it was on the line.
        if (answer.outcome == Outcome::Aborted)
            Stop();
        askNext();
        return;
    }
    Relay& relay = *at;
    if (RelayAnswered(answer.outcome)) {
        relay.misses = 0;
        relay.pauseMs = 0;
        relay.dueMs = 0;
        setLook(relay, true);
    } else if (LeftUnanswered(answer.outcome)) {
        ++relay.misses;
        if (relay.misses >= kMissesToBackOff) {
            relay.pauseMs = relay.pauseMs == 0 ? kFirstPauseMs : std::min(relay.pauseMs * 2, kLongestPauseMs);
            relay.dueMs = clock() + relay.pauseMs;
            setLook(relay, false);
        }
    }
    emit answered(relay.address, answer);
    // Closed or lost: the round stops with the line.
    if (answer.outcome == Outcome::Aborted) {
        Stop();
        return;
    }
    askNext();
}

void RelayRound::setLook(Relay& relay, bool present)
{
    if (relay.known && relay.present == present)
        return;
    relay.known = true;
    relay.present = present;
    emit relayLookChanged(relay.address, present);
}
