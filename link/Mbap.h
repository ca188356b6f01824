// Modbus TCP framing for a gateway in front of the relay's line: each RTU
// request goes out behind an MBAP header (transaction id, protocol 0, the
// length of what follows, unit id = the relay's address) without its CRC,
// and each reply comes back the same way. Pure functions of the bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace mbap {

inline constexpr int kHeaderLength = 7;       // transaction 2, protocol 2, length 2, unit id 1
inline constexpr int kMinLength = 2;          // the length field: unit id and a function code at least
inline constexpr int kMaxLength = 254;        // unit id and the longest PDU (253 bytes)
inline constexpr int kLongestAdu = kHeaderLength - 1 + kMaxLength;
// A gateway's own exceptions: it could not reach the relay, or the relay did
// not answer it. Neither is a word of the relay's.
inline constexpr uint8_t kPathUnavailable = 0x0A;
inline constexpr uint8_t kTargetFailedToRespond = 0x0B;

// The request ADU that carries the RTU request `rtu` (address, PDU, CRC):
// the address becomes the unit id and the CRC stays behind.
std::vector<uint8_t> WrapRequest(uint16_t transaction, const uint8_t* rtu, int count);

// What the answer to a request must look like.
struct Awaited {
    uint16_t transaction = 0;
    uint8_t unit = 0;
    uint8_t function = 0;
    int answerLength = 0;   // the length field of the relay's regular answer
};
// For the RTU request `rtu` (a read of function 3 or a write of function 6).
Awaited AwaitedFor(uint16_t transaction, const uint8_t* rtu);

// The whole length of the ADU whose first `count` bytes are at `bytes`: 0
// while its header is not in; -1 when the header is no MBAP header (another
// protocol, or a length out of bounds), so that the stream cannot be
// followed any further.
int AduLength(const uint8_t* bytes, int count);

enum class Reply {
    Answer,             // the relay's answer to the request (or its refusal)
    NotAnswer,          // the transaction's reply, but of another unit, function or length
    OtherTransaction,   // the reply of another transaction (a late or a doubled one)
    GatewayNoReply,     // the gateway's exception 0x0A or 0x0B: the relay did not answer
};
// What the whole ADU `adu` of `count` bytes is to the request awaited.
Reply Judge(const Awaited& awaited, const uint8_t* adu, int count);

// The RTU frame the relay sent behind the gateway: unit id, PDU and its CRC.
std::vector<uint8_t> ToRtu(const uint8_t* adu, int count);

}  // namespace mbap
