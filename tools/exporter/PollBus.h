// The outputs of the exporter in one place: every event goes to each output
// in the order they subscribed. An output that throws loses that event
// alone; the fault is told to every output as an OutputError, so that it is
// counted and logged, and the others go on. Outputs may emit through the bus
// too (the archive tells of a record it kept).
#pragma once

#include <vector>

#include "PollEvents.h"

class PollBus : public PollOutput {
public:
    // Not owned; each must outlive the bus's use.
    void Subscribe(PollOutput& output) { outputs_.push_back(&output); }
    std::vector<std::string> Names() const;

    const char* Name() const override { return "bus"; }
    void OnLineAdded(const LineConfig& e) override;
    void OnLineRemoved(const LineConfig& e) override;
    void OnRelayAdded(const RelayChange& e) override;
    void OnRelayRemoved(const RelayChange& e) override;
    void OnLineState(const LineState& e) override;
    void OnLineNoise(const LineNoise& e) override;
    void OnBlockRead(const BlockRead& e) override;
    void OnReadFailed(const ReadFailed& e) override;
    void OnRelayLook(const RelayLook& e) override;
    void OnRecordSeen(const RecordSeen& e) override;
    void OnRecordArchived(const RecordArchived& e) override;
    void OnTripsRestored(const TripsRestored& e) override;
    void OnArchiveBacklog(const ArchiveBacklog& e) override;
    void OnOutputError(const OutputError& e) override;

private:
    template <class Event>
    void Send(void (PollOutput::*handler)(const Event&), const Event& event);

    std::vector<PollOutput*> outputs_;
};
