#include "serial/RxWatch.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/ioctl.h>

namespace {

// Bytes nobody reads stay readable, so asking again at once would spin:
// the watcher waits a little longer each time instead.
constexpr int kFirstBackoffMs = 2;
constexpr int kLongestBackoffMs = 32;

} // namespace

RxWatch::RxWatch(QObject* owner, Handlers handlers)
    : QObject(owner), handlers_(std::move(handlers)), notifier_(QSocketNotifier::Read, this)
{
    backoffTimer_.setSingleShot(true);
    // A hold ends when the rest of a reply is due: a coarse timer's late
    // wake-up would hold the reply back.
    backoffTimer_.setTimerType(Qt::PreciseTimer);
    connect(&notifier_, &QSocketNotifier::activated, this, &RxWatch::onActivated);
    connect(&backoffTimer_, &QTimer::timeout, this, &RxWatch::resume);
}

void RxWatch::Start(int fd, bool watchRx)
{
    Stop();
    fd_ = fd;
    watchRx_ = watchRx;
    backoffMs_ = 0;
    gone_ = false;
    ++session_;
    notifier_.setSocket(fd);
    notifier_.setEnabled(true);
}

void RxWatch::Stop()
{
    if (fd_ < 0)
        return;
    notifier_.setEnabled(false);
    backoffTimer_.stop();
    fd_ = -1;
    pausedInside_ = false;
}

void RxWatch::onActivated()
{
    ++wakeUps_;
    if (fd_ < 0 || gone_)
        return;
    if (delivering_) {
        // A handler runs an event loop of its own: its call must end before
        // the next one starts, so the notifier waits for it.
        notifier_.setEnabled(false);
        pausedInside_ = true;
        return;
    }

    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) < 0) {
        lose(errno);   // a hung-up terminal answers EIO
        return;
    }
    if (waiting <= 0) {
        // Readable with nothing to read: the line has hung up or failed.
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) {
            lose((p.revents & POLLNVAL) ? EBADF : EIO);
            return;
        }
        backOff();   // a device that wakes us for nothing must not make us spin
        return;
    }
    if (!watchRx_ || !handlers_.rxChar) {
        backOff();
        return;
    }

    const quint64 session = session_;
    delivering_ = true;
    const Outcome outcome = handlers_.rxChar(waiting);
    delivering_ = false;
    if (pausedInside_) {
        pausedInside_ = false;
        if (fd_ >= 0 && !gone_ && !backoffTimer_.isActive())
            notifier_.setEnabled(true);
    }
    if (session != session_ || fd_ < 0)
        return;   // closed, or closed and opened again, by the handler
    if (outcome == rxLeft)
        backOff();
    else
        backoffMs_ = 0;
}

void RxWatch::Hold(int ms)
{
    if (fd_ < 0 || gone_ || ms <= 0)
        return;
    notifier_.setEnabled(false);
    backoffTimer_.start(ms);
}

void RxWatch::backOff()
{
    backoffMs_ = backoffMs_ ? std::min(backoffMs_ * 2, kLongestBackoffMs) : kFirstBackoffMs;
    notifier_.setEnabled(false);
    backoffTimer_.start(backoffMs_);
}

void RxWatch::resume()
{
    if (fd_ >= 0 && !gone_ && !delivering_)
        notifier_.setEnabled(true);
    else if (delivering_)
        pausedInside_ = true;   // a handler's own event loop: go on once it returns
}

void RxWatch::lose(int osError)
{
    // Quiet until Stop: a hung-up line stays readable for ever.
    gone_ = true;
    notifier_.setEnabled(false);
    backoffTimer_.stop();
    if (handlers_.lost)
        handlers_.lost(osError);
}
