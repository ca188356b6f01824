// settings load --yes: the load's writes and read-back made by the load
// executor over the companion's link, each setting's fate printed as it ends
// (written, refused, another value stored, sent but not confirmed, not
// sent), and a load cut short by a lost line or a stop signal ending with
// what it did and did not do.
#pragma once

#include "RelayLink.h"
#include "settings/LoadExecutor.h"

class StopSignals;

struct LoadEnd {
    LoadResult result;
    int stopSignal = 0;   // the signal that stopped the writes, 0 if none
};

// The first stop signal lets the write in flight end, for at most this long;
// a second one, or the end of this grace, gives it up (unconfirmed).
constexpr int kStopGraceMs = 600;

// Runs the load to its end in the event loop and prints it; the read-back's
// findings included.
LoadEnd RunLoadWrites(RelayLink& link, const LoadPlan& plan, StopSignals& stop);

// The program's exit code for a load that ended so.
int LoadExitCode(const LoadEnd& end);
