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
StopSignals* current = nullptr;
bool takenOver = false;

constexpr int kSignalExitBase = 128;
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
constexpr int kSignalCount = int(sizeof kSignals / sizeof kSignals[0]);
struct sigaction previous[kSignalCount];

extern "C" void Caught(int signal)
{
    if (firstSignal == 0)
        firstSignal = signal;
    const int saved = errno;
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

}  // namespace

StopSignals::StopSignals()
{
    firstSignal = 0;
    current = this;
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) == 0) {
        notifier_ = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::drain);
    }
    struct sigaction caught {};
    caught.sa_handler = Caught;
    sigemptyset(&caught.sa_mask);
    caught.sa_flags = SA_RESTART;
    // Blocked by an earlier part of the program, a signal would wait for ever.
    sigset_t ours;
    sigemptyset(&ours);
    for (int i = 0; i < kSignalCount; ++i) {
        ::sigaction(kSignals[i], &caught, &previous[i]);
        sigaddset(&ours, kSignals[i]);
    }
    ::pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
}

StopSignals::~StopSignals()
{
    for (int i = 0; i < kSignalCount; ++i)
        ::sigaction(kSignals[i], &previous[i], nullptr);
    delete notifier_;
    for (int& fd : wakeFds) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (current == this)
        current = nullptr;
}

void StopSignals::TakeOver(bool own)
{
    takenOver = own;
}

bool StopSignals::TakenOver()
{
    return takenOver;
}

StopSignals* StopSignals::Current()
{
    return current;
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
            emit caught(int(bytes[i]), ++seen_);
    }
}

QString StopSignals::Name(int signal)
{
    switch (signal) {
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signal);
    }
}

int StopSignals::ExitCode(int signal)
{
    return kSignalExitBase + signal;
}
