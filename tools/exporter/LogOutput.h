// The log as an output of the exporter: a line that cannot be opened (once
// until it opens), is lost, or opens again; a relay that stops answering,
// answers again, or refuses (once until it gives values again); a trip
// archived; the records held while the archive cannot be written, and their
// end; every output's error.
#pragma once

#include <set>
#include <utility>

#include "Log.h"
#include "PollEvents.h"

class LogOutput : public PollOutput {
public:
    explicit LogOutput(const Log& log) : log_(log) {}

    const char* Name() const override { return "log"; }
    void OnLineState(const LineState& e) override;
    void OnBlockRead(const BlockRead& e) override;
    void OnReadFailed(const ReadFailed& e) override;
    void OnRelayLook(const RelayLook& e) override;
    void OnRecordArchived(const RecordArchived& e) override;
    void OnArchiveBacklog(const ArchiveBacklog& e) override;
    void OnOutputError(const OutputError& e) override;

private:
    const Log& log_;
    std::set<QString> linesDown_;                   // lines whose failed open or loss was told, until they open
    std::set<std::pair<QString, int>> refusing_;    // relays whose refusal was told, until they give values
    int unwritten_ = 0;
};
