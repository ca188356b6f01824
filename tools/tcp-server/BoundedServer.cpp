#include "BoundedServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

namespace {

constexpr size_t kReadChunk = 16384;
// Replies sent to one connection in one turn before the others get theirs.
constexpr int kRepliesPerTurn = 8;
// Connections taken from the listener in one turn.
constexpr int kAcceptsPerTurn = 64;
// After an answer that closes, what the peer still sends is read and dropped
// for this long (and at most this much), so that closing does not reset the
// connection under the answer before the peer has read it.
constexpr auto kLinger = std::chrono::milliseconds(2000);
constexpr size_t kLingerBytes = 65536;
// Out of descriptors: the listener rests this long.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);

enum class Io { Done, Blocked, Eof, Failed };

}  // namespace

const char* CloseReasonName(CloseReason reason)
{
    switch (reason) {
    case CloseReason::Peer: return "peer";
    case CloseReason::Done: return "done";
    case CloseReason::Idle: return "idle";
    case CloseReason::Slow: return "slow";
    case CloseReason::Stalled: return "stalled";
    case CloseReason::Limit: return "limit";
    case CloseReason::Tls: return "tls";
    case CloseReason::Error: return "error";
    case CloseReason::Count: break;
    }
    return "?";
}

struct BoundedServer::Connection {
    uint64_t id = 0;
    int fd = -1;
    SSL* ssl = nullptr;
    bool handshaking = false;
    bool tlsFailed = false;          // no close_notify after a fatal TLS error
    short tlsWants = 0;              // what the last TLS call waits for, POLLIN or POLLOUT; 0: the usual
    std::unique_ptr<ConnectionProtocol> protocol;
    std::string in;                  // received, not consumed
    Reply out;
    size_t sent = 0;                 // of out.head, then of out.body
    bool writing = false;
    bool waiting = false;            // the protocol works elsewhere
    bool eof = false;                // the peer sent all it will
    bool lingering = false;          // answered and closing: reading what still comes, and dropping it
    size_t lingered = 0;
    bool again = false;              // has work left that no poll() event would bring back
    Clock::time_point opened;
    Clock::time_point since;         // the start of what the deadline bounds
    Clock::time_point answered;      // the end of the last answer, or the opening

    ~Connection()
    {
        if (ssl)
            SSL_free(ssl);
        if (fd >= 0)
            close(fd);
    }
};

BoundedServer::BoundedServer(ServerLimits limits, ProtocolFactory factory, std::shared_ptr<SSL_CTX> tls)
    : limits_(limits), factory_(std::move(factory)), tls_(std::move(tls))
{
    wakeFd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

BoundedServer::~BoundedServer()
{
    Stop();
    connections_.clear();
    if (listener_ >= 0)
        close(listener_);
    if (wakeFd_ >= 0)
        close(wakeFd_);
}

bool BoundedServer::Listen(const std::string& hostPort, std::string* error)
{
    // A peer that goes while a TLS answer is written must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    const size_t colon = hostPort.rfind(':');
    if (colon == std::string::npos) {
        *error = "HOST:PORT expected";
        return false;
    }
    std::string host = hostPort.substr(0, colon);
    const std::string port = hostPort.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    if (const int e = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found); e != 0) {
        *error = gai_strerror(e);
        return false;
    }
    // A name's IPv4 address first: "localhost" is where clients of 127.0.0.1 look.
    std::vector<addrinfo*> addresses;
    for (addrinfo* a = found; a; a = a->ai_next)
        addresses.push_back(a);
    std::stable_partition(addresses.begin(), addresses.end(), [](const addrinfo* a) { return a->ai_family == AF_INET; });
    std::string reason = "no address";
    for (addrinfo* a : addresses) {
        const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            reason = std::strerror(errno);
            continue;
        }
        const int yes = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        if (bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 128) != 0) {
            reason = std::strerror(errno);
            close(fd);
            continue;
        }
        sockaddr_storage bound{};
        socklen_t length = sizeof bound;
        getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length);
        port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                                  : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
        listener_ = fd;
        break;
    }
    freeaddrinfo(found);
    if (listener_ < 0)
        *error = reason;
    return listener_ >= 0;
}

void BoundedServer::Start()
{
    // The server's thread takes no signal: a program waiting for its stop
    // signals (signalfd, sigwait) gets them, whenever it blocks them.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    thread_ = std::thread([this] { Run(); });
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

void BoundedServer::Stop()
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        stop_ = true;
    }
    Signal();
    if (thread_.joinable())
        thread_.join();
}

void BoundedServer::SetTls(std::shared_ptr<SSL_CTX> tls)
{
    std::lock_guard<std::mutex> lock(tlsMutex_);
    tls_ = std::move(tls);
}

void BoundedServer::Signal()
{
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = write(wakeFd_, &one, sizeof one);
}

void BoundedServer::Wake(uint64_t id)
{
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        woken_.push_back(id);
    }
    Signal();
}

BoundedServer::Clock::time_point BoundedServer::Deadline(const Connection& c) const
{
    if (c.lingering)
        return c.since + kLinger;
    if (c.handshaking)
        return c.opened + limits_.request;
    if (c.writing)
        return c.since + limits_.answer;
    if (c.waiting || !c.in.empty())
        return c.since + limits_.request;
    return c.since + limits_.idle;
}

CloseReason BoundedServer::Expiry(const Connection& c) const
{
    if (c.lingering)
        return CloseReason::Done;
    if (c.writing)
        return CloseReason::Stalled;
    if (c.handshaking || c.waiting || !c.in.empty())
        return CloseReason::Slow;
    return CloseReason::Idle;
}

void BoundedServer::Close(uint64_t id, CloseReason reason)
{
    const auto at = connections_.find(id);
    if (at == connections_.end())
        return;
    connections_.erase(at);
    stats_.open.fetch_sub(1, std::memory_order_relaxed);
    stats_.closed[size_t(reason)].fetch_add(1, std::memory_order_relaxed);
}

void BoundedServer::Accept(Clock::time_point now)
{
    for (int n = 0; n < kAcceptsPerTurn; ++n) {
        const int fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                acceptPausedUntil_ = now + kAcceptPause;
            return;
        }
        stats_.accepted.fetch_add(1, std::memory_order_relaxed);
        if (int(connections_.size()) >= limits_.maxConnections) {
            // Room for the newcomer: the connection longest without an answer
            // goes, unless every one is sending one.
            const Connection* oldest = nullptr;
            for (const auto& [id, c] : connections_)
                if (!c->writing && (!oldest || c->answered < oldest->answered))
                    oldest = c.get();
            if (!oldest) {
                close(fd);
                stats_.closed[size_t(CloseReason::Limit)].fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            Close(oldest->id, CloseReason::Limit);
        }
        const int yes = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        auto c = std::make_unique<Connection>();
        c->id = nextId_++;
        c->fd = fd;
        c->opened = c->since = c->answered = now;
        std::shared_ptr<SSL_CTX> tls;
        {
            std::lock_guard<std::mutex> lock(tlsMutex_);
            tls = tls_;
        }
        if (tls) {
            c->ssl = SSL_new(tls.get());
            if (!c->ssl || SSL_set_fd(c->ssl, fd) != 1) {
                stats_.closed[size_t(CloseReason::Tls)].fetch_add(1, std::memory_order_relaxed);
                continue;
            }
            SSL_set_accept_state(c->ssl);
            c->handshaking = true;
        }
        const uint64_t id = c->id;
        c->protocol = factory_([this, id] { Wake(id); });
        connections_.emplace(id, std::move(c));
        stats_.open.fetch_add(1, std::memory_order_relaxed);
    }
}

bool BoundedServer::Handshake(Connection& c)
{
    const int r = SSL_accept(c.ssl);
    if (r == 1) {
        c.handshaking = false;
        c.tlsWants = 0;
        return true;
    }
    switch (SSL_get_error(c.ssl, r)) {
    case SSL_ERROR_WANT_READ: c.tlsWants = POLLIN; return true;
    case SSL_ERROR_WANT_WRITE: c.tlsWants = POLLOUT; return true;
    default: c.tlsFailed = true; return false;
    }
}

// Sends what is left of the answer; true when all of it went.
bool BoundedServer::Send(Connection& c)
{
    for (;;) {
        const size_t headLeft = c.sent < c.out.head.size() ? c.out.head.size() - c.sent : 0;
        const size_t bodySize = c.out.body ? c.out.body->size() : 0;
        const size_t bodyDone = c.sent - (c.out.head.size() - headLeft);
        if (headLeft == 0 && bodyDone >= bodySize)
            return true;
        ssize_t n;
        if (c.ssl) {
            const char* from = headLeft ? c.out.head.data() + c.sent : c.out.body->data() + bodyDone;
            const size_t length = headLeft ? headLeft : bodySize - bodyDone;
            n = SSL_write(c.ssl, from, int(std::min<size_t>(length, 1 << 20)));
            if (n <= 0) {
                const int e = SSL_get_error(c.ssl, int(n));
                if (e == SSL_ERROR_WANT_WRITE || e == SSL_ERROR_WANT_READ) {
                    c.tlsWants = e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
                    return false;
                }
                c.tlsFailed = true;
                c.eof = true;
                return false;
            }
        } else {
            iovec parts[2];
            int count = 0;
            if (headLeft)
                parts[count++] = {const_cast<char*>(c.out.head.data() + c.sent), headLeft};
            if (bodySize > bodyDone)
                parts[count++] = {const_cast<char*>(c.out.body->data() + bodyDone), bodySize - bodyDone};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = size_t(count);
            n = sendmsg(c.fd, &message, MSG_NOSIGNAL);
            if (n < 0) {
                if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)
                    return false;
                c.eof = true;
                return false;
            }
        }
        c.tlsWants = 0;
        c.sent += size_t(n);
    }
}

// Reads what has come, up to the request's bound; false when nothing more
// can be read now (c.eof tells a peer gone).
bool BoundedServer::Receive(Connection& c, Clock::time_point now)
{
    const size_t room = limits_.maxRequestBytes - std::min(limits_.maxRequestBytes, c.in.size());
    if (room == 0)
        return false;
    char buffer[kReadChunk];
    const int want = int(std::min(room, sizeof buffer));
    ssize_t n;
    if (c.ssl) {
        n = SSL_read(c.ssl, buffer, want);
        if (n <= 0) {
            const int e = SSL_get_error(c.ssl, int(n));
            if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
                c.tlsWants = e == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT;
                return false;
            }
            if (e != SSL_ERROR_ZERO_RETURN)
                c.tlsFailed = true;
            c.eof = true;
            return false;
        }
        c.tlsWants = 0;
    } else {
        n = recv(c.fd, buffer, size_t(want), 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return false;
        if (n <= 0) {
            c.eof = true;
            return false;
        }
    }
    if (c.in.empty())
        c.since = now;   // a request begins
    c.in.append(buffer, size_t(n));
    return true;
}

std::optional<CloseReason> BoundedServer::Service(Connection& c, Clock::time_point now)
{
    c.again = false;
    if (c.lingering) {
        char buffer[4096];
        for (;;) {
            const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
                return std::nullopt;
            c.lingered += size_t(std::max<ssize_t>(n, 0));
            if (n <= 0 || c.lingered > kLingerBytes)
                return CloseReason::Done;
        }
    }
    if (c.handshaking && (!Handshake(c) || c.handshaking))
        return c.tlsFailed ? std::optional(CloseReason::Tls) : std::nullopt;
    for (int replies = 0;;) {
        if (c.writing) {
            if (!Send(c))
                return c.eof ? std::optional(CloseReason::Peer) : std::nullopt;
            c.writing = false;
            c.sent = 0;
            c.answered = c.since = now;
            const bool close = c.out.close;
            c.out = Reply();
            if (close)
                return Linger(c, now);
            if (++replies >= kRepliesPerTurn) {
                c.again = true;
                return std::nullopt;
            }
        }
        if (c.waiting)
            return std::nullopt;
        if (!c.in.empty()) {
            ConnectionProtocol::Step step = c.protocol->Take(c.in);
            switch (step.verdict) {
            case ConnectionProtocol::Verdict::Reply:
                c.in.erase(0, std::min(step.consumed, c.in.size()));
                c.out = std::move(step.reply);
                c.writing = true;
                c.since = now;
                continue;
            case ConnectionProtocol::Verdict::Wait:
                c.waiting = true;
                return std::nullopt;
            case ConnectionProtocol::Verdict::Close:
                return CloseReason::Done;
            case ConnectionProtocol::Verdict::More:
                if (c.in.size() >= limits_.maxRequestBytes)
                    return CloseReason::Done;
                break;
            }
        }
        if (c.eof || !Receive(c, now))
            return c.eof ? std::optional(CloseReason::Peer) : std::nullopt;
    }
}

std::optional<CloseReason> BoundedServer::Linger(Connection& c, Clock::time_point now)
{
    if (c.ssl && !c.tlsFailed)
        SSL_shutdown(c.ssl);
    if (shutdown(c.fd, SHUT_WR) != 0 || c.eof)
        return CloseReason::Done;
    c.lingering = true;
    c.since = now;
    c.in.clear();
    c.again = true;
    return std::nullopt;
}

short BoundedServer::Events(const Connection& c) const
{
    if (c.lingering)
        return POLLIN;
    if (c.waiting)
        return 0;
    if (c.tlsWants)
        return c.tlsWants;
    return c.writing ? POLLOUT : POLLIN;
}

void BoundedServer::Run()
{
    if (limits_.niceness) {
        const id_t self = id_t(gettid());
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, self);
        if (errno == 0)
            setpriority(PRIO_PROCESS, self, std::min(19, nice + limits_.niceness));
    }
    std::vector<pollfd> fds;
    std::vector<uint64_t> ids;
    std::vector<uint64_t> again;
    std::vector<uint64_t> ready;
    for (;;) {
        Clock::time_point now = Clock::now();
        Clock::time_point next = now + std::chrono::hours(1);
        fds.clear();
        ids.clear();
        const bool accepting = now >= acceptPausedUntil_;
        fds.push_back({wakeFd_, POLLIN, 0});
        fds.push_back({listener_, short(accepting ? POLLIN : 0), 0});
        if (!accepting)
            next = std::min(next, acceptPausedUntil_);
        for (const auto& [id, c] : connections_) {
            fds.push_back({c->fd, Events(*c), 0});
            ids.push_back(id);
            next = std::min(next, Deadline(*c));
        }
        const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
        const int timeout = again.empty() ? int(std::clamp<long long>(wait, 0, 3600 * 1000)) : 0;
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR)
            return;
        now = Clock::now();

        ready.swap(again);
        again.clear();
        if (fds[0].revents) {
            uint64_t count;
            [[maybe_unused]] const ssize_t n = read(wakeFd_, &count, sizeof count);
            std::lock_guard<std::mutex> lock(wakeMutex_);
            if (stop_)
                return;
            for (const uint64_t id : woken_) {
                if (const auto at = connections_.find(id); at != connections_.end() && at->second->waiting) {
                    at->second->waiting = false;
                    ready.push_back(id);
                }
            }
            woken_.clear();
        }
        for (size_t k = 0; k < ids.size(); ++k) {
            const short revents = fds[k + 2].revents;
            if (!revents)
                continue;
            const auto at = connections_.find(ids[k]);
            if (at != connections_.end() && at->second->waiting && (revents & (POLLHUP | POLLERR | POLLNVAL))) {
                Close(ids[k], CloseReason::Peer);   // gone while its answer was being made
                continue;
            }
            ready.push_back(ids[k]);
        }
        if (fds[1].revents & POLLIN)
            Accept(now);

        std::sort(ready.begin(), ready.end());
        ready.erase(std::unique(ready.begin(), ready.end()), ready.end());
        for (const uint64_t id : ready) {
            const auto at = connections_.find(id);
            if (at == connections_.end())
                continue;
            if (const std::optional<CloseReason> reason = Service(*at->second, now))
                Close(id, *reason);
            else if (at->second->again)
                again.push_back(id);
        }

        std::vector<std::pair<uint64_t, CloseReason>> expired;
        for (const auto& [id, c] : connections_)
            if (now >= Deadline(*c))
                expired.emplace_back(id, Expiry(*c));
        for (const auto& [id, reason] : expired)
            Close(id, reason);
    }
}
