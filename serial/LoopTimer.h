// The event loop's timers wake up to a millisecond late.
#pragma once

#include <algorithm>
#include <chrono>

// What to ask of an event loop's timer so that it ends no later than `time`:
// a millisecond less, whole. Ending early costs a wake-up more; ending late
// can delay the next send.
inline std::chrono::milliseconds LoopTimerNoLaterThan(std::chrono::nanoseconds time)
{
    using std::chrono::milliseconds;
    return std::max(std::chrono::floor<milliseconds>(time) - milliseconds(1), milliseconds(0));
}
