// The plant's lines as the running configuration names them, one LinePoller
// each. A configuration applied on the run (SIGHUP) keeps the poller of
// every line that can take its new form without a pause (LinePoller::
// CanTake: the same name, port and time-out; its relays and poll interval
// may change), makes anew a line whose port or time-out changed, stops a
// line no longer named (its series go with it) and starts a new one.
#pragma once

#include <memory>
#include <vector>

#include "ExporterConfig.h"
#include "LinePoller.h"
#include "PollEvents.h"

class Plant {
public:
    explicit Plant(PollOutput& outputs) : out_(outputs) {}
    ~Plant();
    Plant(const Plant&) = delete;
    Plant& operator=(const Plant&) = delete;

    // What an Apply did, by line.
    struct Applied {
        int kept = 0;       // as they were
        int changed = 0;    // relays or poll interval taken on the run
        int rebuilt = 0;    // made anew: the port or time-out changed
        int added = 0;
        int removed = 0;
    };
    // `config` is sound (as read); the first call starts every line.
    Applied Apply(const ExporterConfig& config);
    // Every line stopped, in order: nothing more is polled or told.
    void Stop();

private:
    PollOutput& out_;
    std::vector<std::unique_ptr<LinePoller>> lines_;   // in the configuration's order
};
