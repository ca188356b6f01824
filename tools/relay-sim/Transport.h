// Where the relays' line meets the master: a pseudo-terminal, or a TCP port
// of a device server or gateway in front of the line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <poll.h>
#include <string>
#include <vector>

namespace relaysim {

// What a transport tells the simulator.
class TransportEvents {
public:
    // Bytes from the master, read at `nowNs`.
    virtual void received(const uint8_t* data, size_t count, int64_t nowNs) = 0;

    // The master went, or another took its place: nothing of an exchange
    // under way may reach the next one.
    virtual void peerChanged() = 0;

protected:
    ~TransportEvents() = default;
};

class Transport {
public:
    virtual ~Transport() = default;

    // Sets up; returns 0, or the exit status after telling why on stderr.
    virtual int open() = 0;

    // Where a master connects: the first line on stdout.
    virtual std::string endpoint() const = 0;

    // Appends the descriptors to wait on.
    virtual void watch(std::vector<pollfd>& fds, int64_t nowNs) = 0;

    // Handles what the wait reported on the descriptors watch() added (also
    // when it timed out), reading the master's bytes into `events`.
    virtual void serve(const pollfd* fds, size_t count, int64_t nowNs, TransportEvents& events) = 0;

    // The next moment serve() has work without a descriptor waking, or -1.
    virtual int64_t nextDeadline() const { return -1; }

    // Hands bytes to the master: as a pty write, or as one TCP segment.
    // Bytes nobody takes are lost, as on a wire.
    virtual void send(const uint8_t* data, size_t count) = 0;

    // Cuts the master off when its stream can no longer be followed.
    virtual void dropPeer() {}

    // Ends everything at once, as a pulled adapter or a device server
    // switched off.
    virtual void close() = 0;
};

} // namespace relaysim
