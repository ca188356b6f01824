#include "ServiceSignals.h"

#include <QSocketNotifier>

#include <csignal>
#include <sys/signalfd.h>
#include <unistd.h>

namespace {

sigset_t ServiceSet()
{
    sigset_t set;
    sigemptyset(&set);
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&set, signal);
    return set;
}

}  // namespace

void BlockServiceSignals()
{
    const sigset_t set = ServiceSet();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void WatchServiceSignals(QObject* owner, std::function<void(int signal)> handle)
{
    const sigset_t set = ServiceSet();
    const int fd = signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, owner, [fd, handle = std::move(handle)] {
        signalfd_siginfo info{};
        while (read(fd, &info, sizeof info) == sizeof info)
            handle(int(info.ssi_signo));
    });
    QObject::connect(notifier, &QObject::destroyed, [fd] { close(fd); });
}
