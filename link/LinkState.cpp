#include "link/LinkState.h"

#include <array>
#include <cstring>

#include "link/ReplyExpectation.h"

namespace {

// The CRC's eight shifts of one byte, worked out once for every byte value.
constexpr std::array<uint16_t, 256> kCrcTable = [] {
    std::array<uint16_t, 256> table{};
    for (int value = 0; value < 256; ++value) {
        uint16_t crc = uint16_t(value);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
        table[size_t(value)] = crc;
    }
    return table;
}();

}  // namespace

uint16_t ModbusCrc16(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i)
        crc = uint16_t((crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFF]);
    return crc;
}

void FillReadRequest(uint8_t* frame, int slaveAddress, int firstRegister, int registerCount)
{
    frame[0] = uint8_t(slaveAddress);
    frame[1] = 3;
    frame[2] = 0;
    frame[3] = uint8_t(firstRegister);
    frame[4] = 0;
    frame[5] = uint8_t(registerCount);
}

void FillWriteRequest(uint8_t* frame, int slaveAddress, int reg, uint16_t value)
{
    frame[0] = uint8_t(slaveAddress);
    frame[1] = 6;
    frame[2] = 0;
    frame[3] = uint8_t(reg);
    frame[4] = uint8_t(value >> 8);
    frame[5] = uint8_t(value);
}

uint16_t ReplyRegister(const uint8_t* rxBuffer, int firstRegister, int reg)
{
    const int at = 3 + 2 * (reg - firstRegister);
    return uint16_t(rxBuffer[at] << 8 | rxBuffer[at + 1]);
}

RegisterValues ReadReplyValues(const SentRequest& sent, const uint8_t* rxBuffer)
{
    RegisterValues v;
    v.block = {sent.Register(), sent.Operand()};
    v.mode = sent.mode;
    v.context = sent.context;
    v.values.reserve(size_t(sent.Operand()));
    for (int reg = v.block.first; reg < v.block.first + v.block.count; ++reg)
        v.values.push_back(ReplyRegister(rxBuffer, v.block.first, reg));
    return v;
}

void LinkState::MatchCRC(const uint8_t* Buf, uint8_t Count)
{
    CrcRegister = ModbusCrc16(Buf, Count);
}

void LinkState::SealTxFrame()
{
    MatchCRC(TxFrame, 6);
    TxFrame[6] = uint8_t(CrcRegister);
    TxFrame[7] = uint8_t(CrcRegister >> 8);
}

const char* VerdictName(ReplyVerdict v)
{
    switch (v) {
    case ReplyVerdict::Incomplete: return "incomplete";
    case ReplyVerdict::ReadValid: return "accepted";
    case ReplyVerdict::WriteEcho: return "echo accepted";
    case ReplyVerdict::WriteAltered: return "echo of another value";
    case ReplyVerdict::Refused: return "exception reply";
    case ReplyVerdict::BadCrc: return "bad CRC";
    case ReplyVerdict::NotAnswer: return "not an answer to the request";
    }
    return "?";
}

namespace {
bool CrcMatches(const uint8_t* frame, int length)
{
    const uint16_t crc = ModbusCrc16(frame, size_t(length - 2));
    return frame[length - 2] == uint8_t(crc) && frame[length - 1] == uint8_t(crc >> 8);
}
}  // namespace

ReplyVerdict JudgeReply(const SentRequest& sent, const uint8_t* frame, int length)
{
    const uint8_t function = frame[1];
    if (function == kFunctionWrite && length == kRequestLength && sent.valid && sent.IsWrite()
        && std::memcmp(frame, sent.frame, kRequestLength) == 0)
        return ReplyVerdict::WriteEcho;
    if (!CrcMatches(frame, length))
        return ReplyVerdict::BadCrc;
    if (!sent.valid || frame[0] != sent.Slave())
        return ReplyVerdict::NotAnswer;
    if (function & kExceptionBit)
        return function == (sent.Function() | kExceptionBit) ? ReplyVerdict::Refused : ReplyVerdict::NotAnswer;
    if (sent.IsWrite())
        return function == kFunctionWrite && length == kRequestLength
                && std::memcmp(frame, sent.frame, 4) == 0
            ? ReplyVerdict::WriteAltered
            : ReplyVerdict::NotAnswer;
    if (function == kFunctionRead && sent.Function() == kFunctionRead && frame[2] == 2 * sent.Operand())
        return ReplyVerdict::ReadValid;
    return ReplyVerdict::NotAnswer;
}

void LinkState::AppendRxByte(uint8_t b)
{
    if (RxCount >= kRxBufferSize)
        return;   // a whole reply always fits; anything beyond is trailing noise
    RxBuffer[RxCount++] = b;
}

ReplyVerdict LinkState::AssessReply()
{
    const ReplyLook look = LookAtReply(Sent, RxBuffer, RxCount);
    ReplyLength = uint8_t(look.length);
    switch (look.kind) {
    case ReplyLook::Kind::Partial:
        return ReplyVerdict::Incomplete;
    case ReplyLook::Kind::Spoilt:
        return ReplyVerdict::NotAnswer;
    case ReplyLook::Kind::Whole:
        break;
    }
    IsReadReply = look.length != kExceptionReplyLength && !Sent.IsWrite();
    ReplyDataLength = uint16_t(look.length - 5);
    return JudgeReply(Sent, RxBuffer, look.length);
}

void LinkState::RecordSent()
{
    std::memcpy(Sent.frame, TxFrame, kRequestLength);
    Sent.mode = TxMode;
    Sent.context = TxContext;
    Sent.valid = true;
}
