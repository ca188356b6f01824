#include "serial/RxWatch.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "serial/LoopTimer.h"

namespace {

// Bytes nobody reads stay readable, so asking again at once would spin:
// the watcher waits a little longer each time instead.
constexpr int kFirstBackoffMs = 2;
constexpr int kLongestBackoffMs = 32;

} // namespace

RxWatch::RxWatch(QObject* owner, Handlers handlers)
    : QObject(owner), handlers_(std::move(handlers)), notifier_(QSocketNotifier::Read, this)
{
    epollFd_ = ::epoll_create1(EPOLL_CLOEXEC);
    if (epollFd_ >= 0) {
        holdFd_ = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = holdFd_;
        if (holdFd_ >= 0 && ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, holdFd_, &event) != 0) {
            ::close(holdFd_);
            holdFd_ = -1;
        }
    }
    backoffTimer_.setSingleShot(true);
    // A hold ends when the rest of a reply is due: a coarse timer's late
    // wake-up would hold the reply back.
    backoffTimer_.setTimerType(Qt::PreciseTimer);
    connect(&notifier_, &QSocketNotifier::activated, this, &RxWatch::onActivated);
    connect(&backoffTimer_, &QTimer::timeout, this, &RxWatch::resume);
}

RxWatch::~RxWatch()
{
    notifier_.setEnabled(false);
    if (holdFd_ >= 0)
        ::close(holdFd_);
    if (epollFd_ >= 0)
        ::close(epollFd_);
}

void RxWatch::Start(int fd, bool watchRx)
{
    Stop();
    fd_ = fd;
    watchRx_ = watchRx;
    backoffMs_ = 0;
    gone_ = false;
    ++session_;
    input_ = true;
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    // A device that epoll cannot watch is watched directly.
    direct_ = epollFd_ < 0 || ::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &event) != 0;
    notifier_.setSocket(direct_ ? fd : epollFd_);
    notifier_.setEnabled(true);
}

void RxWatch::Stop()
{
    if (fd_ < 0)
        return;
    notifier_.setEnabled(false);
    backoffTimer_.stop();
    stopHoldTimer();
    if (!direct_)
        ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, fd_, nullptr);
    fd_ = -1;
    input_ = false;
    pausedInside_ = false;
}

bool RxWatch::look(bool input)
{
    input_ = input;
    if (direct_) {
        notifier_.setEnabled(input);
        return true;
    }
    epoll_event event{};
    event.events = input ? EPOLLIN : 0;
    event.data.fd = fd_;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_MOD, fd_, &event) == 0)
        return true;
    // The set refused: look away through the notifier itself.
    notifier_.setEnabled(input);
    return false;
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
    if (holding_) {
        uint64_t expired = 0;
        if (::read(holdFd_, &expired, sizeof expired) == sizeof expired) {
            holding_ = false;
            resume();
            return;
        }
        // Woken in a look-away before its end: the device hung up or failed.
        // That is told when the look-away ends, as input would be; the rest
        // of it runs on the event loop's timer while the notifier rests.
        itimerspec left{};
        ::timerfd_gettime(holdFd_, &left);
        stopHoldTimer();
        const qint64 leftNs = qint64(left.it_value.tv_sec) * 1'000'000'000 + left.it_value.tv_nsec;
        backoffTimer_.start(int((leftNs + 999'999) / 1'000'000));
    }
    if (!input_) {
        // Looking away, yet woken: the set reports a hang-up or an error
        // whatever it asks. It is looked at when the look-away ends, as input
        // would be; until then the notifier rests.
        notifier_.setEnabled(false);
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
    deliver(waiting);
}

void RxWatch::deliver(int waiting)
{
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
        if (fd_ >= 0 && !gone_ && !backoffTimer_.isActive()) {
            if (!holding_)   // a look-away's timer wakes the notifier at its end
                look(true);
            notifier_.setEnabled(true);
        }
    }
    if (session != session_ || fd_ < 0)
        return;   // closed, or closed and opened again, by the handler
    if (outcome == rxLeft)
        backOff();
    else
        backoffMs_ = 0;
}

void RxWatch::Hold(std::chrono::nanoseconds time)
{
    if (fd_ < 0 || gone_ || time.count() <= 0)
        return;
    backoffTimer_.stop();
    stopHoldTimer();
    if (look(false) && !direct_ && holdFd_ >= 0 && notifier_.isEnabled()) {
        itimerspec end{};
        end.it_value.tv_sec = time_t(time.count() / 1'000'000'000);
        end.it_value.tv_nsec = long(time.count() % 1'000'000'000);
        if (::timerfd_settime(holdFd_, 0, &end, nullptr) == 0) {
            holding_ = true;
            return;
        }
    }
    backoffTimer_.start(LoopTimerNoLaterThan(time));
}

void RxWatch::stopHoldTimer()
{
    if (!holding_)
        return;
    holding_ = false;
    const itimerspec disarmed{};
    ::timerfd_settime(holdFd_, 0, &disarmed, nullptr);
    uint64_t expired = 0;
    (void)::read(holdFd_, &expired, sizeof expired);   // an end reached but not yet seen
}

void RxWatch::backOff()
{
    stopHoldTimer();
    backoffMs_ = backoffMs_ ? std::min(backoffMs_ * 2, kLongestBackoffMs) : kFirstBackoffMs;
    look(false);
    backoffTimer_.start(backoffMs_);
}

void RxWatch::resume()
{
    if (delivering_) {
        pausedInside_ = true;   // a handler's own event loop: go on once it returns
        return;
    }
    if (fd_ < 0 || gone_)
        return;
    look(true);
    if (!notifier_.isEnabled())
        notifier_.setEnabled(true);
    // What came while the watcher looked away is handed on now, not on the
    // event loop's next turn; a hang-up or an empty wake-up is left to the
    // notifier, which is looking again.
    int waiting = 0;
    if (::ioctl(fd_, FIONREAD, &waiting) == 0 && waiting > 0) {
        ++wakeUps_;
        deliver(waiting);
    }
}

void RxWatch::lose(int osError)
{
    // Quiet until Stop: a hung-up line stays readable for ever.
    gone_ = true;
    input_ = false;
    notifier_.setEnabled(false);
    backoffTimer_.stop();
    stopHoldTimer();
    if (handlers_.lost)
        handlers_.lost(osError);
}
