// settings load --yes: the writes made one at a time, each setting's fate
// printed (written, refused, another value stored, sent but not confirmed,
// not sent), the relay's own address changed so that the relay is found at
// its new address, and a load cut short by a lost line or a stop signal
// ending with what it did and did not do.
#pragma once

#include "RelayLink.h"
#include "settings/SettingsPlan.h"

class StopSignals;

struct WritesMade {
    bool allConfirmed = false;
    bool lineLost = false;
    int stopSignal = 0;   // the signal that stopped the writes, 0 if none
    // The relay's old address once a change of it was confirmed: a relay
    // that takes a new address only on restart still answers there (0: none).
    int otherAddress = 0;
};

// Makes the plan's writes in order; stops at the first one the relay does
// not confirm, at the loss of the line, or at a stop signal (its write in
// flight finished, or abandoned on a second signal).
WritesMade MakeWrites(RelayLink& link, const LoadPlan& plan, StopSignals& stop);

// Reads the block back at the relay's address, and after a confirmed change
// of the address at the old one too.
std::optional<BlockRead> ReadBack(RelayLink& link, const WritesMade& made);
