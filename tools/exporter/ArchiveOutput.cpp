#include "ArchiveOutput.h"

#include "exchanges/EventRecords.h"
#include "exchanges/TripCause.h"

void ArchiveOutput::OnRecordSeen(const RecordSeen& e)
{
    if (e.slot < 1 || e.slot > kRecordCount || e.registers.size() != size_t(kRecordLength)
        || IsEmptyRecord(e.registers))
        return;
    RecordSlots& relaySlots = held_[{e.relay.line, e.relay.address}];
    relaySlots.resize(size_t(kRecordCount));
    std::vector<uint16_t>& held = relaySlots[size_t(e.slot - 1)];
    if (held == e.registers)
        return;
    if (archive_.Knows(e.relay.line, e.relay.address, e.registers)) {
        held = e.registers;
        return;
    }
    ArchivedRecord record;
    record.seen = QDateTime::fromMSecsSinceEpoch(e.unixMs, Qt::UTC);
    record.line = e.relay.line;
    record.relay = e.relay.relay;
    record.address = e.relay.address;
    record.slot = e.slot;
    record.registers = e.registers;
    record.cause = RecordTripCause(e.registers);
    if (QString error; !archive_.Add(record, &error)) {
        bus_.OnOutputError({Name(), QStringLiteral("cannot add to %1: %2; the record is tried again when next read")
                                        .arg(archive_.Path(), error)});
        return;
    }
    held = e.registers;
    bus_.OnRecordArchived({e.relay, e.slot, record.cause, e.registers});
}

void ArchiveOutput::OnLineRemoved(const LineConfig& line)
{
    for (auto at = held_.begin(); at != held_.end();)
        at = at->first.first == line.name ? held_.erase(at) : std::next(at);
}
