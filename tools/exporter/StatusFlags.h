// Stable ASCII names of the relay's status bits, for the `flag` label of the
// status gauges and the `cause` label of the trips: one per status-lamp key
// of the register map ("L0" to "L14"), so a dashboard keeps working whatever
// the window's captions become.
#pragma once

#include <QString>

#include <cstdint>
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

// The cause of the trip an event record's status word tells: the name of its
// lowest protection bit set (bits 0 to 8 and 14), else "other".
QString TripCause(uint16_t status);
// Every cause TripCause() can name.
std::vector<QString> TripCauses();
