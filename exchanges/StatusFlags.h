// Stable ASCII names of the relay's status bits, for whatever shows them to
// a machine (the exporter's `flag` label, a trip's cause): one per
// status-lamp key of the register map ("L0" to "L14"), so a dashboard keeps
// working whatever the window's captions become.
#pragma once

#include <QString>

#include <vector>

struct StatusFlag {
    QString key;    // the register map's key, "L3"
    int bit = 0;
    QString name;   // "overload"
};

// Every status bit of the current parameters, in bit order.
const std::vector<StatusFlag>& StatusFlags();

// The name of `bit` of a status word: a lamp's name, "start_time" for bit 15
// (which only event records carry), or "bit<N>".
QString FlagName(int bit);
