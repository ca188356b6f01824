// The relays' line behind a TCP port on 127.0.0.1, as a serial device
// server or a Modbus TCP gateway offers it. One master at a time: a new
// connection replaces the one before.
#pragma once

#include <string>

#include "Transport.h"

namespace relaysim {

class TcpTransport : public Transport {
public:
    // `scheme` names the endpoint ("tcp", "modbus-tcp"); `port` 0 takes a
    // free one.
    TcpTransport(std::string scheme, int port);
    ~TcpTransport() override;

    int open() override;
    std::string endpoint() const override;
    void watch(std::vector<pollfd>& fds, int64_t nowNs) override;
    void serve(const pollfd* fds, size_t count, int64_t nowNs, TransportEvents& events) override;
    void send(const uint8_t* data, size_t count) override;
    void dropPeer() override;
    void close() override;

private:
    void accept(TransportEvents& events);
    void readClient(int64_t nowNs, TransportEvents& events);
    void closeClient();

    std::string scheme_;
    int port_;
    int listenFd_ = -1;
    int clientFd_ = -1;
    int watchedClientFd_ = -1; // the client watched in this round, -1 if none
    bool clientGone_ = false;  // a send found the client gone; told at the next serve()
};

} // namespace relaysim
