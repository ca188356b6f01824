// A TCP server, plain or TLS, that no client can starve: one thread, one
// poll() over every connection, non-blocking sockets, and the bounds of
// ServerLimits on every connection (how many, how long idle, how long a
// request and an answer may take, how many bytes a request may hold). What
// the connections speak is a ConnectionProtocol of the user's.
#pragma once

#include <openssl/ssl.h>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "ConnectionProtocol.h"
#include "ServerLimits.h"

class BoundedServer {
public:
    // `tls`: null for plain TCP.
    BoundedServer(ServerLimits limits, ProtocolFactory factory, std::shared_ptr<SSL_CTX> tls = nullptr);
    ~BoundedServer();
    BoundedServer(const BoundedServer&) = delete;
    BoundedServer& operator=(const BoundedServer&) = delete;

    // Binds HOST:PORT (a name or address, [IPv6]:PORT); false with *error.
    bool Listen(const std::string& hostPort, std::string* error);
    // The port bound (useful after port 0).
    int Port() const { return port_; }
    // Serves on a thread of its own until Stop() or the end of the object.
    void Start();
    void Stop();
    // The TLS context of the connections accepted from now on (null: plain);
    // those open keep theirs. Any thread.
    void SetTls(std::shared_ptr<SSL_CTX> tls);

    const ServerStats& Stats() const { return stats_; }
    const ServerLimits& Limits() const { return limits_; }

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    void Run();
    void Accept(Clock::time_point now);
    // Does what the connection is ready for; a reason when it is to close.
    std::optional<CloseReason> Service(Connection& c, Clock::time_point now);
    std::optional<CloseReason> Linger(Connection& c, Clock::time_point now);
    bool Handshake(Connection& c);
    bool Send(Connection& c);
    bool Receive(Connection& c, Clock::time_point now);
    short Events(const Connection& c) const;
    void Close(uint64_t id, CloseReason reason);
    Clock::time_point Deadline(const Connection& c) const;
    CloseReason Expiry(const Connection& c) const;
    void Wake(uint64_t id);
    void Signal();

    const ServerLimits limits_;
    const ProtocolFactory factory_;
    std::mutex tlsMutex_;
    std::shared_ptr<SSL_CTX> tls_;   // under the mutex
    int listener_ = -1;
    int port_ = 0;
    int wakeFd_ = -1;            // an eventfd: woken connections, or stop
    Clock::time_point acceptPausedUntil_;   // out of descriptors: the listener rests
    std::thread thread_;
    std::map<uint64_t, std::unique_ptr<Connection>> connections_;
    uint64_t nextId_ = 1;
    ServerStats stats_;

    std::mutex wakeMutex_;       // guards the two below, written from any thread
    std::vector<uint64_t> woken_;
    bool stop_ = false;
};
