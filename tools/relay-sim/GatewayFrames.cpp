#include "GatewayFrames.h"

#include <algorithm>

namespace relaysim {

Bytes MbapFrame::rtu() const
{
    Bytes frame(1 + pdu.size());
    frame[0] = unit;
    std::copy(pdu.begin(), pdu.end(), frame.begin() + 1);
    AppendCrc(frame);
    return frame;
}

std::optional<MbapFrame> MbapAssembler::push(uint8_t byte, int64_t nowNs)
{
    if (broken_)
        return std::nullopt;
    if (bytes_.empty())
        firstNs_ = nowNs;
    bytes_.push_back(byte);
    if (bytes_.size() < kHeader)
        return std::nullopt;
    const size_t length = size_t(bytes_[4] << 8 | bytes_[5]);
    if (length < kMinLength || length > kMaxLength) {
        broken_ = true;
        return std::nullopt;
    }
    if (bytes_.size() < kHeader - 1 + length)
        return std::nullopt;
    MbapFrame frame;
    frame.transaction = uint16_t(bytes_[0] << 8 | bytes_[1]);
    frame.protocol = uint16_t(bytes_[2] << 8 | bytes_[3]);
    frame.unit = bytes_[6];
    frame.pdu.assign(bytes_.begin() + kHeader, bytes_.end());
    frame.firstNs = firstNs_;
    frame.lastNs = nowNs;
    bytes_.clear();
    return frame;
}

void MbapAssembler::clear()
{
    bytes_.clear();
    broken_ = false;
}

Bytes MbapWrap(uint16_t transaction, uint8_t unit, const uint8_t* pdu, size_t count)
{
    const size_t length = count + 1;
    Bytes frame(MbapAssembler::kHeader + count);
    frame[0] = uint8_t(transaction >> 8);
    frame[1] = uint8_t(transaction);
    frame[4] = uint8_t(length >> 8); // protocol 0 in 2 and 3
    frame[5] = uint8_t(length);
    frame[6] = unit;
    std::copy(pdu, pdu + count, frame.begin() + MbapAssembler::kHeader);
    return frame;
}

Bytes MbapReply(const MbapFrame& request, const Bytes& rtu)
{
    constexpr size_t kAddressAndCrc = 3;
    if (rtu.size() <= kAddressAndCrc)
        return MbapWrap(request.transaction, request.unit, nullptr, 0);
    return MbapWrap(request.transaction, rtu[0], rtu.data() + 1, rtu.size() - kAddressAndCrc);
}

Bytes MbapException(const MbapFrame& request, uint8_t code)
{
    const uint8_t function = request.pdu.empty() ? 0 : request.pdu[0];
    const uint8_t pdu[] = {uint8_t(function | 0x80), code};
    return MbapWrap(request.transaction, request.unit, pdu, sizeof pdu);
}

Bytes RtuException(const MbapFrame& request, uint8_t code)
{
    return ExceptionReply(request.unit, request.pdu.empty() ? 0 : request.pdu[0], code);
}

} // namespace relaysim
