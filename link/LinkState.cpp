#include "link/LinkState.h"

uint16_t ModbusCrc16(const uint8_t* data, size_t count)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
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

void LinkState::AppendRxByte(uint8_t b)
{
    if (RxCount >= kRxBufferSize)
        return;   // a whole reply always fits; anything beyond is trailing noise
    RxBuffer[RxCount++] = b;
    if (RxCount == 3 && RxBuffer[1] != 6 && RxBuffer[2] > kMaxReplyDataLength)
        RxCount = 0;
}

ReplyVerdict LinkState::AssessReply()
{
    if (RxCount > 2) {
        if (RxBuffer[1] == 6) {
            IsReadReply = 0;
            ReplyDataLength = 3;
        } else {
            ReplyDataLength = RxBuffer[2];
            IsReadReply = 1;
        }
    }
    if (int(RxCount) < int(ReplyDataLength) + 5)
        return ReplyVerdict::Incomplete;

    if (IsReadReply == 1) {
        const int n = ReplyDataLength;
        MatchCRC(RxBuffer, uint8_t(n + 3));
        const uint16_t received = uint16_t(RxBuffer[n + 3] | RxBuffer[n + 4] << 8);
        return received == CrcRegister ? ReplyVerdict::ReadValid : ReplyVerdict::ReadBadCrc;
    }
    for (int i = 0; i < kRequestLength; ++i)
        if (RxBuffer[i] != TxFrame[i])
            return ReplyVerdict::WriteMismatch;
    return ReplyVerdict::WriteEcho;
}

void LinkState::ApplyRequestFlags()
{
    if (ReadParamRequest) { ReadParamRequest = 0; PollMode = 5; }
    if (ReadUstNastRequest) { ReadUstNastRequest = 0; PollMode = 1; }
    if (ReadProtokolRequest) { ReadProtokolRequest = 0; PollMode = 7; }
    if (ReadMaskRequest) { ReadMaskRequest = 0; PollMode = 8; }
    if (WriteClockRequest) { WriteClockRequest = 0; PollMode = 2; ExchangeContext = 0; }
    if (WriteUstRequest) { WriteUstRequest = 0; PollMode = 2; ExchangeContext = 4; }
    if (WriteMaskRequest) { WriteMaskRequest = 0; PollMode = 2; ExchangeContext = 6; }
}
