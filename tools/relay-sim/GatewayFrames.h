// Modbus TCP on a gateway's network side: requests with an MBAP header
// (transaction id, protocol 0, length, unit id) and no CRC, cut from the
// byte stream by their length; replies wrapped the same way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "Protocol.h"

namespace relaysim {

struct MbapFrame {
    uint16_t transaction = 0;
    uint16_t protocol = 0;
    uint8_t unit = 0;
    Bytes pdu;           // function code and data
    int64_t firstNs = 0; // when its first and last bytes were read
    int64_t lastNs = 0;

    // As the gateway puts it on the line: unit id, PDU, CRC.
    Bytes rtu() const;
};

// Modbus exception codes of a gateway.
namespace gatewayexc {
constexpr uint8_t PathUnavailable = 0x0A;
constexpr uint8_t TargetFailedToRespond = 0x0B;
} // namespace gatewayexc

class MbapAssembler {
public:
    static constexpr size_t kHeader = 7;
    // The length field counts the unit id and the PDU: at least a function
    // code, at most the 253 bytes a PDU may have.
    static constexpr size_t kMinLength = 2;
    static constexpr size_t kMaxLength = 254;

    // One received byte. Returns the frame it completes, if any.
    std::optional<MbapFrame> push(uint8_t byte, int64_t nowNs);

    // True once a header's length was out of bounds: the stream cannot be
    // followed any more.
    bool broken() const { return broken_; }

    void clear();

private:
    Bytes bytes_;
    int64_t firstNs_ = 0;
    bool broken_ = false;
};

// The MBAP frame of `transaction` and `unit` carrying `pdu`, protocol 0.
Bytes MbapWrap(uint16_t transaction, uint8_t unit, const uint8_t* pdu, size_t count);

// The reply to `request` carrying the RTU frame `rtu`: its address and last
// two bytes (the CRC) dropped, whatever is left is the PDU.
Bytes MbapReply(const MbapFrame& request, const Bytes& rtu);

// The gateway's own exception reply to `request`, and the same as an RTU
// frame for the logs.
Bytes MbapException(const MbapFrame& request, uint8_t code);
Bytes RtuException(const MbapFrame& request, uint8_t code);

} // namespace relaysim
