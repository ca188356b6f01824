// Command line of the relay simulator.
#pragma once

#include <cstddef>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "OtherTalker.h"

namespace relaysim {

// Where the relays are reached.
enum class Serve {
    Pty,       // a pseudo-terminal, as a serial port
    Tcp,       // --tcp: a device server's raw TCP port, RTU frames passed through
    ModbusTcp, // --modbus-tcp: a Modbus TCP gateway, MBAP on the network side
};

// What a relay does when its own address (register 80) is written.
enum class AddressChange {
    Keep,      // stores it, keeps answering to its --address (takes it on restart)
    AfterEcho, // echoes from the old address, then answers to the new one
    AtOnce,    // answers to the new one at once: the echo comes from there
};

struct Options {
    Serve serve = Serve::Pty;
    int tcpPort = 0;                 // --tcp/--modbus-tcp PORT, 0: a free one
    double gatewayTimeoutMs = 200.0; // --gateway-timeout-ms
    bool gatewayPathUnavailable = false; // --gateway-path-unavailable
    std::string linkPath;            // --link: symlink made to the pty, removed on exit
    std::vector<int> addresses;      // --slave/--address: one relay at each; none given: one at 1
    bool pace = true;                // cleared by --no-pace
    double turnaroundMs = 3.0;       // --turnaround-ms
    size_t pieceBytes = 2;           // --piece-bytes
    double dropRate = 0.0;           // --drop
    double badCrcRate = 0.0;         // --bad-crc
    double garbageRate = 0.0;        // --garbage
    double exceptionRate = 0.0;      // --exception
    double truncateRate = 0.0;       // --truncate
    double unaskedRate = 0.0;        // --unasked
    double unaskedGapMs = 2.0;       // --unasked-gap-ms
    bool silent = false;             // --silent
    bool noEcho = false;             // --no-echo
    std::optional<uint16_t> clamp;   // --clamp
    AddressChange addressChange = AddressChange::Keep; // --address-change
    std::vector<int> refusedWrites;  // --refuse-writes REG[,REG...], registers 0..255
    std::optional<double> goneAfterS; // --gone-after
    std::optional<uint64_t> rngStart; // --seed
    bool freeze = false;             // --freeze
    std::optional<double> motorStartS; // --motor-start: seconds after the start-up
    std::vector<std::pair<int, uint16_t>> presets; // --set REG=VALUE and --record N=..., in order
    std::string logPath;             // --log
    std::string timingPath;          // --timing
    bool dump = false;               // --dump
    TalkerOptions talker;            // --peer-after-ms, --peer-whole, --noise, --noise-every-ms
    bool help = false;               // --help
    bool version = false;            // --version

    std::vector<int> relayAddresses() const { return addresses.empty() ? std::vector<int>{1} : addresses; }

    bool anyFaultRate() const
    {
        return dropRate > 0 || badCrcRate > 0 || garbageRate > 0 || exceptionRate > 0 || truncateRate > 0
            || unaskedRate > 0;
    }
};

// Fills `out` from argv. On a bad command line returns false and leaves a
// one-line reason in `error`.
bool ParseOptions(int argc, char** argv, Options& out, std::string& error);

// The text printed by --help.
const char* UsageText();

} // namespace relaysim
