// The log as an output of the exporter: a line that cannot be opened (once
// until it opens), opens again, or is lost; a relay that stops answering or
// answers again; every output's error.
#pragma once

#include <set>

#include "Log.h"
#include "PollEvents.h"

class LogOutput : public PollOutput {
public:
    explicit LogOutput(const Log& log) : log_(log) {}

    const char* Name() const override { return "log"; }
    void OnLineState(const LineState& e) override;
    void OnRelayLook(const RelayLook& e) override;
    void OnOutputError(const OutputError& e) override;

private:
    const Log& log_;
    std::set<QString> openFailedTold_;   // lines whose failed open is told until they open
};
