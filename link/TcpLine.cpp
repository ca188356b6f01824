#include "link/TcpLine.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "link/FrameTrace.h"
#include "link/LinkState.h"
#include "serial/LoopTimer.h"

namespace {

// Read at most this much per wake-up: a peer that floods the line cannot keep
// the event loop from the front end's other work.
constexpr int kReadChunk = 4096;
// A request is a few bytes; a socket that takes none for this long is stuck.
constexpr int kWriteTimeoutMs = 2000;

// The time left until `deadline`, in whole milliseconds, at least 0.
int MsUntil(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return int(std::max<long long>(left.count(), 0));
}

// Connects one socket to `address` within the time left; returns the socket
// or -1 with errno set.
int ConnectOne(const addrinfo& address, std::chrono::steady_clock::time_point deadline)
{
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, address.ai_protocol);
    if (fd < 0)
        return -1;
    int error = 0;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) < 0) {
        error = errno;
        if (error == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            int ready = 0;
            do
                ready = ::poll(&p, 1, MsUntil(deadline));
            while (ready < 0 && errno == EINTR);
            error = ready < 0 ? errno : ready == 0 ? ETIMEDOUT : 0;
            socklen_t size = sizeof error;
            if (ready > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) < 0)
                error = errno;
        }
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

}  // namespace

ELineOpen::ELineOpen(int osError, const QString& reason)
    : EComPort(ceOpen, osError), reason_(reason.isEmpty() ? EComPort::what() : reason.toStdString())
{
}

TcpLine::TcpLine(QObject* parent) : QObject(parent)
{
    notifier_ = new QSocketNotifier(QSocketNotifier::Read, this);
    notifier_->setEnabled(false);
    connect(notifier_, &QSocketNotifier::activated, this, &TcpLine::onReadable);
    holdTimer_ = new QTimer(this);
    holdTimer_->setSingleShot(true);
    // A hold ends when the rest of a reply is due: a coarse timer's late
    // wake-up would hold the reply back.
    holdTimer_->setTimerType(Qt::PreciseTimer);
    connect(holdTimer_, &QTimer::timeout, this, [this] {
        if (fd_ >= 0 && !lost_)
            notifier_->setEnabled(true);
    });
}

TcpLine::~TcpLine()
{
    *alive_ = false;
    Close();
}

void TcpLine::Connect(const Endpoint& endpoint, int timeoutMs)
{
    Close();
    name_ = endpoint.Text();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const QByteArray host = endpoint.host.toUtf8();
    const QByteArray port = QByteArray::number(endpoint.port);
    if (const int failed = ::getaddrinfo(host.constData(), port.constData(), &hints, &found); failed != 0) {
        if (failed == EAI_SYSTEM)
            throw ELineOpen(errno, QString());
        throw ELineOpen(-1, QString::fromLocal8Bit(::gai_strerror(failed)));
    }
    // Every address the name has, in the order given, within one time limit.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int fd = -1;
    int error = EHOSTUNREACH;
    for (const addrinfo* a = found; a && fd < 0; a = a->ai_next) {
        fd = ConnectOne(*a, deadline);
        if (fd < 0)
            error = errno;
    }
    ::freeaddrinfo(found);
    if (fd < 0)
        throw ELineOpen(error, QString());
    // A request is one small write that must leave at once.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    start(fd);
}

void TcpLine::Adopt(int fd, const QString& name)
{
    Close();
    name_ = name;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    start(fd);
}

void TcpLine::start(int fd)
{
    fd_ = fd;
    lost_ = false;
    lostError_ = 0;
    rx_.clear();
    Restart();
    notifier_->setSocket(fd);
    notifier_->setEnabled(true);
}

void TcpLine::Close()
{
    holdTimer_->stop();
    notifier_->setEnabled(false);
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = -1;
    rx_.clear();
    lost_ = false;
}

int TcpLine::ReadBytes(uint8_t* bytes, int count)
{
    const int n = std::min(count, int(rx_.size()));
    std::copy_n(rx_.begin(), n, bytes);
    rx_.erase(rx_.begin(), rx_.begin() + n);
    return n;
}

void TcpLine::HoldRx(std::chrono::nanoseconds time)
{
    if (fd_ < 0 || lost_ || time.count() <= 0)
        return;
    notifier_->setEnabled(false);
    holdTimer_->start(LoopTimerNoLaterThan(time));
}

void TcpLine::SendAll(const uint8_t* bytes, int count)
{
    if (fd_ < 0)
        throw EComPort(ceWrite, EBADF);
    if (lost_)
        throw EComPort(ceWrite, lostError_);
    int sent = 0;
    while (sent < count) {
        const ssize_t n = ::send(fd_, bytes + sent, size_t(count - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd_, POLLOUT, 0};
            const int ready = ::poll(&p, 1, kWriteTimeoutMs);
            if (ready > 0 || (ready < 0 && errno == EINTR))
                continue;
            throw EComPort(ceWrite, ready == 0 ? ETIMEDOUT : errno);
        }
        throw EComPort(ceWrite, n < 0 ? errno : EIO);
    }
}

void TcpLine::onReadable()
{
    ++wakeUps_;
    if (fd_ < 0 || lost_)
        return;
    uint8_t chunk[kReadChunk];
    const ssize_t n = ::recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0) {
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            lose(errno);
        return;
    }
    if (n == 0) {
        // The other side closed the connection: to the link the line is
        // gone, as after a reset.
        lose(ECONNRESET);
        return;
    }
    arrivalNs_ = NowNs();
    TakeIn(chunk, int(n));
    deliver();
}

void TcpLine::deliver()
{
    if (delivering_) {
        moreArrived_ = true;
        return;
    }
    const std::shared_ptr<bool> alive = alive_;
    do {
        moreArrived_ = false;
        const int waiting = BytesWaiting();
        if (waiting == 0 || !OnReceived)
            return;
        delivering_ = true;
        OnReceived(waiting);
        if (!*alive)
            return;   // the handler let the line go
        delivering_ = false;
    } while (moreArrived_ && fd_ >= 0);
}

void TcpLine::lose(int osError)
{
    // Quiet until Close: a closed connection stays readable for ever.
    lost_ = true;
    lostError_ = osError;
    notifier_->setEnabled(false);
    holdTimer_->stop();
    if (OnLost)
        OnLost(osError, QString());
}

// ---- the Modbus TCP gateway ---------------------------------------------------

void MbapLine::Restart()
{
    in_.clear();
    awaiting_ = false;
}

void MbapLine::Transmit(const uint8_t* frame, int count)
{
    // Address, function and CRC at least: a whole request of the link.
    constexpr int kShortestRequest = 4;
    if (count < kShortestRequest)
        throw EComPort(ceWrite, EINVAL);
    if (!in_.empty()) {
        // What is left of a reply cut short answers nothing any more.
        TraceWireIn(in_.data(), int(in_.size()), "incomplete, dropped");
        in_.clear();
    }
    ++transaction_;
    awaited_ = mbap::AwaitedFor(transaction_, frame);
    awaiting_ = true;
    const std::vector<uint8_t> adu = mbap::WrapRequest(transaction_, frame, count);
    TraceWireOut(adu.data(), int(adu.size()));
    SendAll(adu.data(), int(adu.size()));
}

void MbapLine::TakeIn(const uint8_t* bytes, int count)
{
    in_.insert(in_.end(), bytes, bytes + count);
    for (;;) {
        const int length = mbap::AduLength(in_.data(), int(in_.size()));
        if (length < 0) {
            // No MBAP header: the stream cannot be followed. Whatever the
            // dropped bytes held, the request awaiting has had its reply;
            // the next reply starts afresh.
            TraceWireIn(in_.data(), int(in_.size()), "no MBAP frame, dropped");
            in_.clear();
            awaiting_ = false;
            return;
        }
        if (length == 0 || int(in_.size()) < length)
            return;
        // A gateway replies once to each transaction: after that reply,
        // whatever it was, nothing more of the transaction is an answer.
        const mbap::Reply reply = awaiting_ ? mbap::Judge(awaited_, in_.data(), length) : mbap::Reply::OtherTransaction;
        switch (reply) {
        case mbap::Reply::Answer: {
            awaiting_ = false;
            TraceWireIn(in_.data(), length, "answer");
            const std::vector<uint8_t> rtu = mbap::ToRtu(in_.data(), length);
            HandOn(rtu.data(), int(rtu.size()));
            break;
        }
        case mbap::Reply::GatewayNoReply:
            awaiting_ = false;
            TraceWireIn(in_.data(), length, "gateway exception: no reply from the relay");
            break;
        case mbap::Reply::NotAnswer:
            awaiting_ = false;
            TraceWireIn(in_.data(), length, "not an answer, dropped");
            break;
        case mbap::Reply::OtherTransaction:
            TraceWireIn(in_.data(), length, "another transaction, dropped");
            break;
        }
        in_.erase(in_.begin(), in_.begin() + length);
    }
}
