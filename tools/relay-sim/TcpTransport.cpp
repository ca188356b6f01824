#include "TcpTransport.h"

#include "ProgramName.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace relaysim {

TcpTransport::TcpTransport(std::string scheme, int port)
    : scheme_(std::move(scheme))
    , port_(port)
{
}

TcpTransport::~TcpTransport()
{
    close();
}

int TcpTransport::open()
{
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) {
        std::fprintf(stderr, "%s: cannot make a socket: %s\n", kProgramName, std::strerror(errno));
        return 1;
    }
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK); // this machine only
    address.sin_port = htons(uint16_t(port_));
    socklen_t length = sizeof address;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listenFd_, 4) != 0
        || getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::fprintf(stderr, "%s: cannot listen on 127.0.0.1:%d: %s\n", kProgramName, port_, std::strerror(errno));
        return 1;
    }
    port_ = ntohs(address.sin_port);
    return 0;
}

std::string TcpTransport::endpoint() const
{
    return scheme_ + "://127.0.0.1:" + std::to_string(port_);
}

void TcpTransport::close()
{
    closeClient();
    if (listenFd_ >= 0)
        ::close(listenFd_);
    listenFd_ = -1;
}

void TcpTransport::closeClient()
{
    if (clientFd_ >= 0)
        ::close(clientFd_);
    clientFd_ = -1;
}

void TcpTransport::dropPeer()
{
    closeClient();
}

void TcpTransport::watch(std::vector<pollfd>& fds, int64_t)
{
    if (listenFd_ >= 0)
        fds.push_back(pollfd{listenFd_, POLLIN, 0});
    watchedClientFd_ = clientFd_;
    if (clientFd_ >= 0)
        fds.push_back(pollfd{clientFd_, POLLIN, 0});
}

void TcpTransport::serve(const pollfd* fds, size_t count, int64_t nowNs, TransportEvents& events)
{
    if (clientGone_) {
        clientGone_ = false;
        events.peerChanged();
    }
    bool clientReady = false;
    for (size_t i = 0; i < count; ++i) {
        if (fds[i].fd == listenFd_ && (fds[i].revents & POLLIN))
            accept(events);
        else if (fds[i].fd == watchedClientFd_ && fds[i].revents != 0)
            clientReady = true;
    }
    // Only the client that was watched: one that took its place is read in
    // the next round.
    if (clientReady && clientFd_ >= 0 && clientFd_ == watchedClientFd_)
        readClient(nowNs, events);
}

void TcpTransport::accept(TransportEvents& events)
{
    for (;;) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            return; // EAGAIN: no more waiting; anything else: the next round tries again
        }
        // Each send is a segment of its own, as a device server hands on
        // what its UART delivers.
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        closeClient();
        clientFd_ = fd;
        events.peerChanged();
    }
}

void TcpTransport::readClient(int64_t nowNs, TransportEvents& events)
{
    const int fd = clientFd_;
    uint8_t buf[512];
    while (clientFd_ == fd) {
        const ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n <= 0) {
            // The master closed or the connection broke.
            closeClient();
            events.peerChanged();
            return;
        }
        events.received(buf, size_t(n), nowNs); // may drop the client
    }
}

void TcpTransport::send(const uint8_t* data, size_t count)
{
    while (count > 0 && clientFd_ >= 0) {
        const ssize_t n = ::send(clientFd_, data, count, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) {
                closeClient();
                clientGone_ = true;
            }
            return; // a master that does not read loses the rest, as on a wire
        }
        data += n;
        count -= size_t(n);
    }
}

} // namespace relaysim
