#include "serial/TimedIo.h"

#include "serial/ComError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <optional>

#include <poll.h>
#include <unistd.h>

namespace TimedIo {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kForever = -1;   // poll()'s "no time limit"

// Milliseconds until deadline, rounded up, 0 once it has passed.
int msUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return static_cast<int>(std::min<long long>(left, INT_MAX));
}

// The total time-out N * multiplier + constant, -1 in either meaning "the
// largest value", which no caller will live to see: no limit then, as with 0/0.
std::optional<Clock::time_point> totalDeadline(int multiplier, int constant, int count)
{
    if (multiplier < 0 || constant < 0)
        return std::nullopt;
    const long long ms = static_cast<long long>(multiplier) * count + constant;
    if (ms == 0)
        return std::nullopt;
    return Clock::now() + std::chrono::milliseconds(ms);
}

} // namespace

int Write(int fd, const char* bytes, int count, const TComTimeouts& t)
{
    const auto deadline = totalDeadline(t.WriteTotalMultiplier, t.WriteTotalConstant, count);
    int done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, bytes + done, size_t(count - done));
        if (n > 0) {
            done += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN)
            throw EComPort(ceWrite, errno);
        // The driver's output queue is full: wait until it takes more.
        int wait = kForever;
        if (deadline) {
            wait = msUntil(*deadline);
            if (wait == 0)
                break;   // write time-out: report what was handed over
        }
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR)
            throw EComPort(ceWrite, errno);
    }
    return done;
}

int Read(int fd, char* bytes, int count, const TComTimeouts& t)
{
    // Interval -1 with no totals: only what is already waiting.
    const bool immediate =
        t.ReadInterval == -1 && t.ReadTotalMultiplier == 0 && t.ReadTotalConstant == 0;
    // Interval and multiplier -1: what is waiting, else the first byte, within the constant.
    const bool firstByte =
        t.ReadInterval == -1 && t.ReadTotalMultiplier == -1 && t.ReadTotalConstant > 0;
    std::optional<Clock::time_point> deadline;
    if (firstByte)
        deadline = Clock::now() + std::chrono::milliseconds(t.ReadTotalConstant);
    else if (!immediate)
        deadline = totalDeadline(t.ReadTotalMultiplier, t.ReadTotalConstant, count);
    const int interval = t.ReadInterval > 0 ? t.ReadInterval : 0;

    int got = 0;
    Clock::time_point lastByte = Clock::now();
    while (got < count) {
        const ssize_t n = ::read(fd, bytes + got, size_t(count - got));
        if (n > 0) {
            got += int(n);
            if (interval > 0)
                lastByte = Clock::now();
            if (firstByte)
                break;
            continue;
        }
        if (n == 0)
            throw EComPort(ceRead, EIO);   // end of file on a terminal: it has been hung up
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN)
            throw EComPort(ceRead, errno);

        // Nothing more waiting.
        if (immediate)
            break;
        int wait = kForever;
        if (deadline) {
            wait = msUntil(*deadline);
            if (wait == 0)
                break;
        }
        if (interval > 0 && got > 0) {
            const int gap = msUntil(lastByte + std::chrono::milliseconds(interval));
            if (gap == 0)
                break;
            wait = wait < 0 ? gap : std::min(wait, gap);
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, wait) < 0 && errno != EINTR)
            throw EComPort(ceRead, errno);
    }
    return got;
}

} // namespace TimedIo
