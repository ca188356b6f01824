// The relay link's shared state: the request frame, the reply being
// collected, the poll cycle's counters and the user's request flags.
// Every value starts at zero; one main window owns one LinkState.
#pragma once

#include <cstddef>
#include <cstdint>

// What the collected bytes amount to after a receive event.
enum class ReplyVerdict {
    Incomplete,     // keep collecting
    ReadValid,      // a whole read reply whose CRC matches
    ReadBadCrc,     // a whole read reply whose CRC does not match
    WriteEcho,      // a write reply equal, byte for byte, to the request sent
    WriteMismatch,  // a write reply that differs from the request sent
};

constexpr int kTxFrameSize = 11;    // room in the request buffer; 8 bytes are sent
constexpr int kRequestLength = 8;
constexpr int kRxBufferSize = 251;
constexpr int kMaxReplyDataLength = kRxBufferSize - 5;   // 246 data bytes at most

struct LinkState {
    // Request and reply buffers.
    uint8_t TxFrame[kTxFrameSize] = {};
    uint8_t RxBuffer[kRxBufferSize] = {};
    uint8_t RxCount = 0;
    uint8_t RxByte = 0;
    uint16_t CrcRegister = 0;
    uint8_t IsReadReply = 0;
    uint16_t ReplyDataLength = 0;

    // Poll cycle.
    int32_t PollMode = 0;
    uint8_t ExchangeContext = 0;
    uint8_t ReadyToSend = 0;
    uint16_t TickCount = 0;
    uint16_t MissCount = 0;
    uint8_t CloseRequested = 0;

    // Request flags, applied in this order at the end of a receive event.
    uint8_t ReadParamRequest = 0;
    uint8_t ReadUstNastRequest = 0;
    uint8_t ReadProtokolRequest = 0;
    uint8_t ReadMaskRequest = 0;
    uint8_t WriteClockRequest = 0;
    uint8_t WriteUstRequest = 0;
    uint8_t WriteMaskRequest = 0;
    uint8_t WriteFrameSent = 0;

    // Connection choices and the event record being read.
    int32_t ComNumber = 0;
    int32_t SlaveAddress = 0;
    uint8_t ProtokolNumber = 0;

    // Modbus RTU CRC of Buf[0..Count-1], left in CrcRegister.
    void MatchCRC(const uint8_t* Buf, uint8_t Count);

    // Appends CRC bytes 6 and 7 (low byte first) to the 6 bytes a builder wrote.
    void SealTxFrame();

    // Stores one received byte. Never writes past RxBuffer; a read reply whose
    // byte count could never fit the buffer is dropped at its third byte so
    // that collecting starts again with the next byte.
    void AppendRxByte(uint8_t b);

    // Decides what the collected bytes are, by the reply rules: the reply's
    // kind and length come from its first three bytes; a whole read reply is
    // checked by CRC (left in CrcRegister), a whole write reply against TxFrame.
    ReplyVerdict AssessReply();

    // Applies and clears the raised request flags in their fixed order.
    void ApplyRequestFlags();

    // Five misses in a row are the no-link state.
    static constexpr uint16_t kNoLinkMisses = 5;
    bool LinkLost() const { return MissCount >= kNoLinkMisses; }
};

// Pure helpers shared by the builders and decoders.
uint16_t ModbusCrc16(const uint8_t* data, size_t count);
void FillReadRequest(uint8_t* frame, int slaveAddress, int firstRegister, int registerCount);
void FillWriteRequest(uint8_t* frame, int slaveAddress, int reg, uint16_t value);
// Register `reg` of a read reply whose block starts at `firstRegister`.
uint16_t ReplyRegister(const uint8_t* rxBuffer, int firstRegister, int reg);
