// Others on the relays' line besides the master and the relays: another
// master's traffic that pays no heed to ours (after each reply of the relays,
// a frame like it whose registers hold 0xBEEF, a given time after the reply's
// end, paced or delivered whole as a device server would, from the same
// slave or another), an echo-shaped frame after a refused write, line noise
// replayed over and over (e.g. 01 03 FF every 50 ms), and a flood of random
// bytes. None waits for the line to be free: what overlaps a reply garbles
// it, as on RS-485.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "Protocol.h"
#include "Transport.h"

namespace relaysim {

struct TalkerOptions {
    std::optional<double> peerAfterMs;   // --peer-after-ms MS
    bool peerWhole = false;              // --peer-whole
    int peerSlave = 0;                   // --peer-slave N: the frame names slave N (0: the reply's)
    std::optional<double> echoAfterRefusalMs;   // --echo-after-refusal MS
    Bytes noise;                         // --noise HEX
    double noiseEveryMs = 50.0;          // --noise-every-ms MS
    bool flood = false;                  // --flood

    bool any() const { return peerAfterMs.has_value() || echoAfterRefusalMs.has_value() || !noise.empty() || flood; }
};

// Whether `name` is one of the options above, and whether it takes a value.
bool IsTalkerOption(const std::string& name, bool& takesValue);
// Fills `out` from one of them; false with a one-line reason in `error`.
bool ParseTalkerOption(const std::string& name, const std::string& value, TalkerOptions& out, std::string& error);
// Their lines of --help.
extern const char* const kTalkerUsage;

class OtherTalker {
public:
    OtherTalker(const TalkerOptions& options, bool pace);

    void start(int64_t nowNs);
    // A reply of the relays to `request` that ends on the line at `endNs`.
    void replyQueued(const Bytes& request, const Bytes& reply, int64_t endNs);
    // Hands on whatever is due by `nowNs`.
    void transmitDue(int64_t nowNs, Transport& transport);
    // The next moment something is due, or -1.
    int64_t nextDeadline() const;
    // The master went: its frames go with it (the noise goes on).
    void clear() { frames_.clear(); }

private:
    struct Frame {
        Bytes bytes;
        int64_t startNs = 0;
        size_t sent = 0;
    };
    size_t dueBytes(const Frame& f, int64_t nowNs) const;
    void queue(Bytes bytes, int64_t startNs);

    TalkerOptions options_;
    bool pace_;
    std::deque<Frame> frames_;
    int64_t nextNoiseNs_ = -1;
    int64_t nextFloodNs_ = -1;
    uint64_t floodState_ = 0x9E3779B97F4A7C15ull;
};

} // namespace relaysim
