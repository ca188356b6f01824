// What tripped the motor, as one stable ASCII name: the name of the lowest
// protection flag of a status word (see StatusFlags.h).
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

// The cause of the trip a status word tells: the name of its lowest
// protection bit set (bits 0 to 8 and 14), else "other".
QString TripCause(uint16_t status);
// The same for an event record's registers, as read (its status word follows
// the five fields of its moment); "other" for a record too short to hold one.
QString RecordTripCause(const std::vector<uint16_t>& registers);
// Every cause TripCause() can name.
std::vector<QString> TripCauses();
