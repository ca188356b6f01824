// Modbus RTU on the relay's side: the CRC, cutting the received byte stream
// into frames, and the answer to one request.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace relaysim {

class RegisterBank;

using Bytes = std::vector<uint8_t>;

// Modbus CRC-16 (reflected polynomial 0xA001, start 0xFFFF, no final XOR).
uint16_t ModbusCrc(const uint8_t* data, size_t count);

// True when the last two bytes are the CRC of the ones before, low byte first.
bool HasValidCrc(const uint8_t* data, size_t count);

// Appends the CRC, low byte first.
void AppendCrc(Bytes& frame);

struct Frame {
    Bytes bytes;
    int64_t firstNs = 0; // when its first and last bytes were read
    int64_t lastNs = 0;
};

// Cuts the received stream into request frames.
//
// A pty has no line timing: the master's bytes arrive whenever its writes and
// the scheduler let them, so a gap inside a request does not reliably mean
// the request was broken off. Requests of functions 3 and 6 (and every other
// 8-byte request) are therefore taken as soon as the last eight bytes carry a
// valid CRC, whatever came before them. A request of another length is taken
// when the line has been quiet for the frame gap (3.5 characters, rounded up)
// and everything received since the last frame checks out as one frame. Bytes
// that never form a frame are thrown away after a longer silence.
class FrameAssembler {
public:
    static constexpr int64_t kFrameGapNs = 4'000'000;
    static constexpr int64_t kStaleNs = 50'000'000;
    static constexpr size_t kMaxFrame = 256;

    // One received byte. Returns the frame it completes, if any.
    std::optional<Frame> push(uint8_t byte, int64_t nowNs);

    // Called when the line has been quiet; returns a frame of unusual length
    // once the frame gap has passed, and drops stale leftovers.
    std::optional<Frame> idle(int64_t nowNs);

    // The next moment idle() has something to do, or -1 if nothing is held.
    int64_t nextIdleDeadline() const;

    bool empty() const { return bytes_.empty(); }

    // Forgets whatever was received and not yet taken as a frame.
    void clear();

private:
    Frame take(size_t from);

    Bytes bytes_;
    std::vector<int64_t> times_;
    bool gapChecked_ = false;
};

// The value every register holds in a frame nobody asked for.
constexpr uint16_t kUnaskedMarker = 0xBEEF; // 48879

// A well-formed frame of the same slave and function as `reply`, sent when
// nobody asked for it: for a read reply the same byte count, for a write
// echo the same register, every value the marker. Empty after an exception
// reply (and anything else that is neither).
Bytes UnaskedFrameLike(const Bytes& reply);

// Modbus exception codes the relay uses.
namespace exc {
constexpr uint8_t IllegalFunction = 1;
constexpr uint8_t IllegalAddress = 2;
constexpr uint8_t IllegalValue = 3;
constexpr uint8_t DeviceFailure = 4;
} // namespace exc

Bytes ExceptionReply(uint8_t address, uint8_t function, uint8_t code);

// What the relay does with a function 6 write besides the register's own
// rules.
struct WriteRules {
    // A written value above it is stored and echoed as the clamp.
    std::optional<uint16_t> clamp;
    // Writes to these registers are refused with exception 4 (device
    // failure) and change nothing: the relay's own refusal, told apart from
    // exceptions 2 and 3, which say what was wrong with the request.
    std::bitset<256> refused;
};

// The relay's answer to a request addressed to it (address already checked):
// a read reply, a write echo, or an exception. A write is carried out here.
Bytes Answer(const Bytes& request, RegisterBank& bank, const WriteRules& rules);

} // namespace relaysim
