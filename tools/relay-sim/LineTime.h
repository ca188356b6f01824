// Time on the simulator's clock and on the relay's 9600 8N1 line.
#pragma once

#include <cstdint>

namespace relaysim {

inline constexpr int64_t kSecondNs = 1'000'000'000;

// CLOCK_MONOTONIC in nanoseconds.
int64_t MonotonicNs();

// Line time of `bytes` characters at 9600 8N1 (10 bits each).
constexpr int64_t LineTimeNs(int64_t bytes)
{
    return bytes * 10'000'000'000LL / 9600;
}

} // namespace relaysim
