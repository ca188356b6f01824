#include "BlockSchedule.h"

#include "exchanges/CurrentParams.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"

BlockSchedule::BlockSchedule(const std::vector<int>& addresses)
{
    for (int address : addresses) {
        Relay relay;
        relay.address = address;
        relays_.push_back(relay);
    }
}

void BlockSchedule::SetAddresses(const std::vector<int>& addresses)
{
    std::vector<Relay> relays;
    for (int address : addresses) {
        const Relay* kept = find(address);
        Relay relay;
        relay.address = address;
        relays.push_back(kept ? *kept : relay);
    }
    relays_ = std::move(relays);
}

const std::vector<RegisterBlock>& BlockSchedule::Blocks()
{
    static const std::vector<RegisterBlock> blocks = [] {
        std::vector<RegisterBlock> all{kCurrentParamsBlock, kSettingsBlock};
        for (int n = 1; n <= kRecordCount; ++n)
            all.push_back(RecordBlock(n));
        return all;
    }();
    return blocks;
}

BlockSchedule::Relay* BlockSchedule::find(int address)
{
    for (Relay& r : relays_)
        if (r.address == address)
            return &r;
    return nullptr;
}

void BlockSchedule::scheduleSlow(Relay& relay, qint64 nowMs)
{
    relay.slow.assign(Blocks().begin() + 1, Blocks().end());
    relay.slowDueMs = nowMs + kSlowPeriodMs;
}

RegisterBlock BlockSchedule::Next(int address, qint64 nowMs)
{
    Relay* relay = find(address);
    // The current parameters first: a relay not yet known to answer is not
    // asked for its slower blocks.
    if (!relay || !relay->lastStatus)
        return kCurrentParamsBlock;
    if (relay->slow.empty() && nowMs >= relay->slowDueMs)
        scheduleSlow(*relay, nowMs);
    if (!relay->slow.empty()) {
        relay->slowTurn = !relay->slowTurn;
        if (relay->slowTurn) {
            const RegisterBlock block = relay->slow.front();
            relay->slow.pop_front();
            return block;
        }
    }
    return kCurrentParamsBlock;
}

void BlockSchedule::Read(int address, const RegisterValues& values, qint64 nowMs)
{
    Relay* relay = find(address);
    if (!relay || !(values.block == kCurrentParamsBlock))
        return;
    const uint16_t status = values.At(kStatusRegister);
    // A relay's state changed, or it answers again: its settings and
    // records may have changed too.
    if (!relay->lastStatus || *relay->lastStatus != status)
        scheduleSlow(*relay, nowMs);
    relay->lastStatus = status;
}

void BlockSchedule::Failed(int address, const RegisterBlock& block)
{
    Relay* relay = find(address);
    if (relay && !(block == kCurrentParamsBlock))
        relay->slow.push_front(block);
}

void BlockSchedule::Gone(int address)
{
    if (Relay* relay = find(address))
        relay->lastStatus.reset();
}

void BlockSchedule::LineOpened(qint64 nowMs)
{
    for (Relay& r : relays_)
        scheduleSlow(r, nowMs);
}

void BlockSchedule::LineLost()
{
    for (Relay& r : relays_)
        r.lastStatus.reset();
}
