// The archive as an output of the exporter: every event record seen that the
// archive does not hold yet is added to it, named by its cause, and told to
// the other outputs as a RecordArchived (the trip counters take it from
// there). What each relay's record slot held when last archived or found
// there is remembered, so that the same record read again costs no look-up.
// A record that cannot be written is an OutputError, and is tried again
// when next read.
#pragma once

#include <map>
#include <utility>
#include <vector>

#include "PollEvents.h"
#include "report/TripArchive.h"

class ArchiveOutput : public PollOutput {
public:
    // Events it makes go to `bus` (normally the bus it is subscribed to).
    ArchiveOutput(TripArchive& archive, PollOutput& bus) : archive_(archive), bus_(bus) {}

    const char* Name() const override { return "archive"; }
    void OnRecordSeen(const RecordSeen& e) override;
    void OnLineRemoved(const LineConfig& line) override;

private:
    using RecordSlots = std::vector<std::vector<uint16_t>>;   // by slot - 1

    TripArchive& archive_;
    PollOutput& bus_;
    std::map<std::pair<QString, int>, RecordSlots> held_;    // by line and address
};
