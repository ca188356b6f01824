#include "StopSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// A handler may only note the signal and write to a pipe; the event loop
// reads the pipe.
volatile std::sig_atomic_t firstSignal = 0;
int wakeFds[2] = {-1, -1};

constexpr int kSignalExitBase = 128;

extern "C" void Caught(int signal)
{
    if (firstSignal == 0)
        firstSignal = signal;
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

struct sigaction previous[2];
constexpr int kSignals[2] = {SIGINT, SIGTERM};

}  // namespace

StopSignals::StopSignals()
{
    firstSignal = 0;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
    }
    struct sigaction caught {};
    caught.sa_handler = Caught;
    sigemptyset(&caught.sa_mask);
    caught.sa_flags = SA_RESTART;
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &caught, &previous[i]);
}

StopSignals::~StopSignals()
{
    for (int i = 0; i < 2; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    delete notifier_;
    for (int& fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

int StopSignals::First() const
{
    return firstSignal;
}

void StopSignals::drain()
{
    char bytes[16];
    ssize_t got = 0;
    while ((got = ::read(wakeFds[0], bytes, sizeof bytes)) > 0) {
        for (ssize_t i = 0; i < got; ++i)
            if (++seen_ > 1 && repeat_)
                repeat_();
    }
}

QString StopSignals::Name(int signal)
{
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

int StopSignals::ExitCode(int signal)
{
    return kSignalExitBase + signal;
}
