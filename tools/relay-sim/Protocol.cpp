#include "Protocol.h"

#include "RegisterBank.h"

namespace relaysim {

uint16_t ModbusCrc(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

bool HasValidCrc(const uint8_t* data, size_t count)
{
    if (count < 3)
        return false;
    const uint16_t crc = ModbusCrc(data, count - 2);
    return data[count - 2] == uint8_t(crc) && data[count - 1] == uint8_t(crc >> 8);
}

void AppendCrc(Bytes& frame)
{
    const uint16_t crc = ModbusCrc(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
}

Frame FrameAssembler::take(size_t from)
{
    Frame f;
    f.bytes.assign(bytes_.begin() + long(from), bytes_.end());
    f.firstNs = times_[from];
    f.lastNs = times_.back();
    clear();
    return f;
}

std::optional<Frame> FrameAssembler::push(uint8_t byte, int64_t nowNs)
{
    if (bytes_.size() >= kMaxFrame) {
        bytes_.erase(bytes_.begin());
        times_.erase(times_.begin());
    }
    bytes_.push_back(byte);
    times_.push_back(nowNs);
    gapChecked_ = false;

    constexpr size_t kRequest = 8;
    if (bytes_.size() >= kRequest && HasValidCrc(bytes_.data() + bytes_.size() - kRequest, kRequest))
        return take(bytes_.size() - kRequest);
    return std::nullopt;
}

void FrameAssembler::clear()
{
    bytes_.clear();
    times_.clear();
    gapChecked_ = false;
}

std::optional<Frame> FrameAssembler::idle(int64_t nowNs)
{
    if (bytes_.empty())
        return std::nullopt;
    const int64_t quiet = nowNs - times_.back();
    if (quiet >= kStaleNs) {
        clear();
        return std::nullopt;
    }
    if (quiet >= kFrameGapNs && !gapChecked_) {
        gapChecked_ = true;
        // Shortest Modbus frame: address, function, CRC.
        if (bytes_.size() >= 4 && HasValidCrc(bytes_.data(), bytes_.size()))
            return take(0);
    }
    return std::nullopt;
}

int64_t FrameAssembler::nextIdleDeadline() const
{
    if (bytes_.empty())
        return -1;
    return times_.back() + (gapChecked_ ? kStaleNs : kFrameGapNs);
}

Bytes UnaskedFrameLike(const Bytes& reply)
{
    Bytes frame;
    if (reply.size() >= 5 && reply[1] == 3 && reply.size() == size_t(reply[2]) + 5) {
        frame.assign(reply.begin(), reply.begin() + 3);
        for (int k = 0; k < reply[2] / 2; ++k) {
            frame.push_back(uint8_t(kUnaskedMarker >> 8));
            frame.push_back(uint8_t(kUnaskedMarker));
        }
    } else if (reply.size() == 8 && reply[1] == 6) {
        frame.assign(reply.begin(), reply.begin() + 4);
        frame.push_back(uint8_t(kUnaskedMarker >> 8));
        frame.push_back(uint8_t(kUnaskedMarker));
    } else {
        return frame;
    }
    AppendCrc(frame);
    return frame;
}

Bytes ExceptionReply(uint8_t address, uint8_t function, uint8_t code)
{
    Bytes r{address, uint8_t(function | 0x80), code};
    AppendCrc(r);
    return r;
}

Bytes Answer(const Bytes& request, RegisterBank& bank, const WriteRules& rules)
{
    const uint8_t address = request[0];
    const uint8_t function = request[1];

    if (function != 3 && function != 6)
        return ExceptionReply(address, function, exc::IllegalFunction);
    if (request.size() != 8)
        return ExceptionReply(address, function, exc::IllegalValue);

    const int first = (request[2] << 8) | request[3];
    const int word = (request[4] << 8) | request[5];

    if (function == 3) {
        if (word < 1 || word > 125)
            return ExceptionReply(address, function, exc::IllegalValue);
        if (first + word > reg::Count)
            return ExceptionReply(address, function, exc::IllegalAddress);
        Bytes r{address, 3, uint8_t(word * 2)};
        for (int i = 0; i < word; ++i) {
            const uint16_t v = bank.get(first + i);
            r.push_back(uint8_t(v >> 8));
            r.push_back(uint8_t(v));
        }
        AppendCrc(r);
        return r;
    }

    if (first < int(rules.refused.size()) && rules.refused.test(size_t(first)))
        return ExceptionReply(address, function, exc::DeviceFailure);
    uint16_t value = uint16_t(word);
    if (rules.clamp && value > *rules.clamp)
        value = *rules.clamp;
    switch (bank.write(first, value)) {
    case RegisterBank::WriteResult::IllegalAddress:
        return ExceptionReply(address, function, exc::IllegalAddress);
    case RegisterBank::WriteResult::IllegalValue:
        return ExceptionReply(address, function, exc::IllegalValue);
    case RegisterBank::WriteResult::Stored:
        break;
    }
    if (value == word)
        return request;
    Bytes echo(request.begin(), request.begin() + 4);
    echo.push_back(uint8_t(value >> 8));
    echo.push_back(uint8_t(value));
    AppendCrc(echo);
    return echo;
}

} // namespace relaysim
