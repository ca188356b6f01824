#include "ArchiveOutput.h"

#include <algorithm>
#include <cstdlib>

#include "exchanges/TripCause.h"

ArchiveOutput::Relay& ArchiveOutput::relay(const RelayRef& ref)
{
    const auto key = std::make_pair(ref.line, ref.address);
    auto at = relays_.find(key);
    if (at == relays_.end()) {
        at = relays_.emplace(key, Relay{}).first;
        at->second.firstLook = !archive_.Relay(ref.line, ref.address) && !holdsUnwritten(ref.line, ref.address);
    }
    return at->second;
}

bool ArchiveOutput::holdsUnwritten(const QString& line, int address) const
{
    return std::any_of(unwritten_.begin(), unwritten_.end(),
                       [&](const ArchivedRecord& r) { return r.line == line && r.address == address; });
}

namespace {

// The relay a record was seen on, and when: what every archived line names.
ArchivedRecord RecordOf(const RecordSeen& e)
{
    ArchivedRecord r;
    r.seen = QDateTime::fromMSecsSinceEpoch(e.unixMs, Qt::UTC);
    r.line = e.relay.line;
    r.relay = e.relay.relay;
    r.address = e.relay.address;
    return r;
}

}  // namespace

void ArchiveOutput::restore(const RelayRef& ref)
{
    relays_.erase({ref.line, ref.address});
    relay(ref);
    if (const ArchivedRelay* archived = archive_.Relay(ref.line, ref.address))
        bus_.OnTripsRestored({ref, *archived});
}

void ArchiveOutput::OnLineAdded(const LineConfig& line)
{
    OnLineRemoved(line);
    for (const RelayConfig& r : line.relays)
        restore({line.name, r.name, r.address});
}

void ArchiveOutput::OnRelayAdded(const RelayChange& e)
{
    restore({e.line.name, e.relay.name, e.relay.address});
}

void ArchiveOutput::OnRelayRemoved(const RelayChange& e)
{
    relays_.erase({e.line.name, e.relay.address});
}

void ArchiveOutput::OnLineRemoved(const LineConfig& line)
{
    for (auto at = relays_.begin(); at != relays_.end();)
        at = at->first.first == line.name ? relays_.erase(at) : std::next(at);
}

void ArchiveOutput::OnBlockRead(const BlockRead& e)
{
    if (!unwritten_.empty() && std::abs(e.unixMs - triedMs_) >= kRetryMs) {
        triedMs_ = e.unixMs;
        flush();
    }
}

bool ArchiveOutput::isUnwritten(const ArchivedRecord& record) const
{
    return std::any_of(unwritten_.begin(), unwritten_.end(), [&record](const ArchivedRecord& r) {
        return r.address == record.address && r.line == record.line && r.registers == record.registers;
    });
}

void ArchiveOutput::OnRecordSeen(const RecordSeen& e)
{
    if (e.slot < 1 || e.slot > kRecordCount || e.registers.size() != size_t(kRecordLength))
        return;
    Relay& r = relay(e.relay);
    const bool history = r.firstLook;
    r.looked.set(size_t(e.slot - 1));
    if (!unwritten_.empty())
        flush();
    keep(e, r, history);
    if (!r.firstLook || !r.looked.all())
        return;
    r.firstLook = false;
    if (archive_.Relay(e.relay.line, e.relay.address) || holdsUnwritten(e.relay.line, e.relay.address))
        return;
    // Four empty slots: the archive keeps that the relay was looked at.
    ArchivedRecord looked = RecordOf(e);
    looked.history = true;
    unwritten_.push_back(looked);
    flush();
}

void ArchiveOutput::keep(const RecordSeen& e, Relay& r, bool history)
{
    std::vector<uint16_t>& slot = r.held[size_t(e.slot - 1)];
    if (IsEmptyRecord(e.registers) || slot == e.registers)
        return;
    ArchivedRecord record = RecordOf(e);
    record.slot = e.slot;
    record.registers = e.registers;
    record.cause = RecordTripCause(e.registers);
    record.history = history;
    slot = e.registers;
    if (archive_.Knows(record.line, record.address, record.registers) || isUnwritten(record))
        return;

    unwritten_.push_back(record);
    if (unwritten_.size() > kMaxUnwritten) {
        const ArchivedRecord& dropped = unwritten_.front();
        bus_.OnOutputError({Name(), QStringLiteral("%1 records held for the archive: a record of relay %2 on line \"%3\" "
                                                   "(%4) dropped")
                                        .arg(kMaxUnwritten).arg(dropped.relay, dropped.line, RecordMomentText(dropped.registers))});
        unwritten_.pop_front();
    }
    flush();
    const bool written = !isUnwritten(record);
    if (!written)
        bus_.OnOutputError({Name(), QStringLiteral("cannot add to %1: %2; the record is held in memory and written "
                                                   "once the archive can be written")
                                        .arg(archive_.Path(), lastError_)});
    bus_.OnRecordArchived({e.relay, e.slot, record.cause, e.registers, e.unixMs, history, written});
}

void ArchiveOutput::flush()
{
    while (!unwritten_.empty()) {
        const ArchivedRecord& first = unwritten_.front();
        QString error;
        if (!archive_.Add(first, &error) && !archive_.Knows(first.line, first.address, first.registers)) {
            lastError_ = error;
            break;
        }
        unwritten_.pop_front();
    }
    tellBacklog();
}

void ArchiveOutput::tellBacklog()
{
    if (unwritten_.size() == toldBacklog_)
        return;
    toldBacklog_ = unwritten_.size();
    bus_.OnArchiveBacklog({int(toldBacklog_)});
}
