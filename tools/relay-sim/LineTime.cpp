#include "LineTime.h"

#include <ctime>

namespace relaysim {

int64_t MonotonicNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * kSecondNs + ts.tv_nsec;
}

} // namespace relaysim
