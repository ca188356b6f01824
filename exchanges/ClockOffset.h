// How far the relay's clock is off the PC's.
#pragma once

#include <QtGlobal>

#include <optional>

struct RelayClockFields;

// The relay's clock minus the PC's local time at `nowMs` (Unix time), in
// milliseconds. The relay keeps no year: of its moment in the year the PC's
// date gives and in the years before and after, the nearest counts, so a New
// Year's Eve drift stays small. None when a field is out of range. Local time
// is converted without a look at the zone's file, which the C library's
// mktime makes on every call.
std::optional<qint64> ClockOffsetMs(const RelayClockFields& f, qint64 nowMs);
