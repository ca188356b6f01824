// The relays on the line: each answers to its own address from its own
// register bank and keeps its own clock; the faults asked for apply to all.
#pragma once

#include <cstdint>
#include <vector>

#include "Options.h"
#include "MotorStart.h"
#include "Protocol.h"
#include "RegisterBank.h"

namespace relaysim {

// What comes back on the line for one request.
struct Response {
    Bytes reply;              // as the relay made it; empty: nothing comes back
    bool crcSpoiled = false;  // --bad-crc: its CRC is wrong on the line
    size_t cutTo = 0;         // --truncate: only so many of its bytes leave, if not 0
    Bytes junk;               // --garbage: line noise just before it
    Bytes unasked;            // --unasked: the frame nobody asked for after it; empty: none

    // The bytes an RTU line carries: the junk, then the reply with its
    // faults.
    Bytes onLine() const;
};

class Relays {
public:
    // One bank per address of --slave/--address, in that order.
    Relays(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks);

    // Starts the clocks: the relays' seconds turn over with the host's.
    void start(int64_t nowNs);

    // A request frame seen on the line (any address). Writes are carried
    // out here.
    Response respond(const Bytes& request, int64_t nowNs);

    // Every relay trips on overload now (SIGUSR1, --trip-after).
    void tripAll();

    // Seconds of the relays' lives up to `nowNs`: clocks, counters, wander.
    void tick(int64_t nowNs);

    // The next moment tick() has work, or -1 (frozen).
    int64_t nextTickNs() const;

    // True when a relay answers to `address`.
    bool has(uint8_t address) const;

private:
    struct Relay {
        uint8_t address;
        RegisterBank bank;
        int64_t nextTickNs = -1;
        MotorStart motorStart;
    };

    // A write of register 80 accepted: the relay moves as --address-change
    // says; at once, its echo comes from the new address.
    void changeAddress(Relay& relay, Bytes& echo);

    const Options& options_;
    WriteRules writeRules_;
    std::vector<Relay> relays_;
    Rng faultRng_;
    Rng wanderRng_;
    int64_t tripNs_ = -1;   // --trip-after: when every relay trips, -1: not (or done)
};

} // namespace relaysim
