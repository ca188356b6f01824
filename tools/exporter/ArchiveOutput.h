// The archive as an output of the exporter: every event record seen that the
// archive does not hold yet is added to it, named by its cause, and told to
// the other outputs as a RecordArchived (the trip counters and the alert
// series take it from there).
//
// The first look at a relay the archive holds nothing of (each of its four
// record slots read once) keeps what the relay already held as history: no
// trip, nothing to page (four empty slots are kept as a line without
// registers). A relay the archive knows has every record it did not hold
// counted, the ones that came while the exporter was stopped too.
//
// The archive never costs a trip: a record that cannot be written is held in
// memory (at most kMaxUnwritten, the oldest dropped first), told at once all
// the same, and written in order as soon as a later read finds the archive
// writable again. What each relay's slot held when last archived or found
// there is remembered, so that the same record read again costs no look-up.
// At a start, and for a relay the configuration read again adds, each
// relay's archived trips are told (TripsRestored).
#pragma once

#include <bitset>
#include <deque>
#include <map>
#include <utility>
#include <vector>

#include "PollEvents.h"
#include "exchanges/EventRecords.h"
#include "report/TripArchive.h"

class ArchiveOutput : public PollOutput {
public:
    // Events it makes go to `bus` (normally the bus it is subscribed to).
    ArchiveOutput(TripArchive& archive, PollOutput& bus) : archive_(archive), bus_(bus) {}

    const char* Name() const override { return "archive"; }
    void OnLineAdded(const LineConfig& line) override;
    void OnLineRemoved(const LineConfig& line) override;
    void OnRelayAdded(const RelayChange& e) override;
    void OnRelayRemoved(const RelayChange& e) override;
    void OnBlockRead(const BlockRead& e) override;
    void OnRecordSeen(const RecordSeen& e) override;

    static constexpr size_t kMaxUnwritten = 4096;
    // The least time between two tries of the held records on blocks read.
    static constexpr qint64 kRetryMs = 1000;

private:
    struct Relay {
        std::vector<std::vector<uint16_t>> held = std::vector<std::vector<uint16_t>>(kRecordCount);   // by slot - 1
        std::bitset<kRecordCount> looked;   // slots read so far at the first look
        bool firstLook = false;             // the archive held nothing of the relay
    };

    Relay& relay(const RelayRef& ref);
    // The relay taken anew: its archived trips told.
    void restore(const RelayRef& ref);
    bool isUnwritten(const ArchivedRecord& record) const;
    bool holdsUnwritten(const QString& line, int address) const;
    // The record read, added unless known; told as history or a trip.
    void keep(const RecordSeen& e, Relay& relay, bool history);
    // Writes the held records in order, as far as the archive takes them.
    void flush();
    void tellBacklog();

    TripArchive& archive_;
    PollOutput& bus_;
    std::map<std::pair<QString, int>, Relay> relays_;   // by line and address
    std::deque<ArchivedRecord> unwritten_;
    QString lastError_;       // why the archive last refused a record
    size_t toldBacklog_ = 0;
    qint64 triedMs_ = 0;
};
