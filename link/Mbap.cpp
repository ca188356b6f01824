#include "link/Mbap.h"

#include "link/LinkState.h"

namespace mbap {

namespace {

constexpr int kExceptionLength = 3;      // unit id, function | 0x80, code
constexpr int kWriteAnswerLength = 6;    // unit id, function, register 2, value 2
constexpr int kReadAnswerOverhead = 3;   // unit id, function, byte count
constexpr int kUnitAt = 6;
constexpr int kFunctionAt = 7;

uint16_t Word(const uint8_t* bytes)
{
    return uint16_t(bytes[0] << 8 | bytes[1]);
}

void PutWord(std::vector<uint8_t>& out, uint16_t word)
{
    out.push_back(uint8_t(word >> 8));
    out.push_back(uint8_t(word));
}

}  // namespace

std::vector<uint8_t> WrapRequest(uint16_t transaction, const uint8_t* rtu, int count)
{
    const int pduLength = count - 3;   // the address and the two CRC bytes stay behind
    std::vector<uint8_t> adu;
    adu.reserve(size_t(kHeaderLength + pduLength));
    PutWord(adu, transaction);
    PutWord(adu, 0);
    PutWord(adu, uint16_t(1 + pduLength));
    adu.push_back(rtu[0]);
    adu.insert(adu.end(), rtu + 1, rtu + 1 + pduLength);
    return adu;
}

Awaited AwaitedFor(uint16_t transaction, const uint8_t* rtu)
{
    Awaited awaited;
    awaited.transaction = transaction;
    awaited.unit = rtu[0];
    awaited.function = rtu[1];
    const int registers = rtu[4] << 8 | rtu[5];
    awaited.answerLength = rtu[1] == kFunctionRead ? kReadAnswerOverhead + 2 * registers : kWriteAnswerLength;
    return awaited;
}

int AduLength(const uint8_t* bytes, int count)
{
    if (count < kHeaderLength)
        return 0;
    const int length = Word(bytes + 4);
    if (Word(bytes + 2) != 0 || length < kMinLength || length > kMaxLength)
        return -1;
    return kHeaderLength - 1 + length;
}

Reply Judge(const Awaited& awaited, const uint8_t* adu, int count)
{
    if (count < kHeaderLength + 1 || AduLength(adu, count) != count)
        return Reply::NotAnswer;
    if (Word(adu) != awaited.transaction)
        return Reply::OtherTransaction;
    const int length = Word(adu + 4);
    if (adu[kUnitAt] != awaited.unit)
        return Reply::NotAnswer;
    const uint8_t function = adu[kFunctionAt];
    if (function == (awaited.function | kExceptionBit) && length == kExceptionLength) {
        const uint8_t code = adu[kFunctionAt + 1];
        return code == kPathUnavailable || code == kTargetFailedToRespond ? Reply::GatewayNoReply : Reply::Answer;
    }
    if (function != awaited.function || length != awaited.answerLength)
        return Reply::NotAnswer;
    // A read's byte count must agree with the length that carried it.
    if (function == kFunctionRead && adu[kFunctionAt + 1] != length - kReadAnswerOverhead)
        return Reply::NotAnswer;
    return Reply::Answer;
}

std::vector<uint8_t> ToRtu(const uint8_t* adu, int count)
{
    std::vector<uint8_t> rtu(adu + kUnitAt, adu + count);
    const uint16_t crc = ModbusCrc16(rtu.data(), rtu.size());
    rtu.push_back(uint8_t(crc));
    rtu.push_back(uint8_t(crc >> 8));
    return rtu;
}

}  // namespace mbap
