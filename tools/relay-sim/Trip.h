// --trip-after: the relay trips on overload, as a real one would, and keeps
// an event record of it: the records move one place on (the fourth is
// lost), and the first holds the moment by the relay's own clock, the status
// word and the values at the trip.
#pragma once

#include "RegisterBank.h"

namespace relaysim {

// The status bits of an overload trip: overload (bit 3) and the motor off (bit 9).
constexpr uint16_t kOverloadTripStatus = (1u << 3) | (1u << 9);

void RecordTrip(RegisterBank& bank, uint16_t status = kOverloadTripStatus);

} // namespace relaysim
