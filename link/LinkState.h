// The relay link's shared state: the request frame, the reply being
// collected, the poll cycle's counters and the line between exchanges.
// Every value starts at zero; each relay session owns one LinkState.
#pragma once

#include <cstddef>
#include <cstdint>

#include "link/RegisterValues.h"

// What the collected bytes amount to after a receive event, judged against
// the request that was sent.
enum class ReplyVerdict {
    Incomplete,     // keep collecting
    ReadValid,      // a read reply from the slave asked, of the function and length asked
    WriteEcho,      // the write request sent, echoed byte for byte
    WriteAltered,   // a sound echo of the same register holding another value
                    // (the relay stored something else, e.g. a clamped value)
    Refused,        // a sound exception reply to the function sent
    BadCrc,         // a whole reply whose CRC does not match
    NotAnswer,      // a sound frame that does not answer the request sent
};

const char* VerdictName(ReplyVerdict v);

constexpr int kTxFrameSize = 11;    // room in the request buffer; 8 bytes are sent
constexpr int kRequestLength = 8;
constexpr int kRxBufferSize = 251;
constexpr int kMaxReplyDataLength = kRxBufferSize - 5;   // 246 data bytes at most
constexpr uint8_t kFunctionRead = 3;
constexpr uint8_t kFunctionWrite = 6;
constexpr uint8_t kExceptionBit = 0x80;

// The request that went out, kept with the exchange that built it, so that
// its reply is judged against it and decoded by that exchange whatever the
// user has switched to since.
struct SentRequest {
    bool valid = false;            // nothing has been sent yet
    uint8_t frame[kRequestLength] = {};
    int32_t mode = 0;              // the polled exchange that built it (TxMode); 0 for a question
    uint8_t context = 0;           // and its sub-selection (TxContext)

    uint8_t Slave() const { return frame[0]; }
    uint8_t Function() const { return frame[1]; }
    bool IsWrite() const { return frame[1] == kFunctionWrite; }
    int Register() const { return frame[2] << 8 | frame[3]; }          // first register, or the one written
    int Operand() const { return frame[4] << 8 | frame[5]; }           // register count, or the value written
    // A register that the read reply carries.
    bool Carries(int reg) const { return !IsWrite() && reg >= Register() && reg < Register() + Operand(); }
};

struct LinkState {
    // Request and reply buffers.
    uint8_t TxFrame[kTxFrameSize] = {};
    uint8_t RxBuffer[kRxBufferSize] = {};
    uint8_t RxCount = 0;
    uint8_t RxByte = 0;
    uint16_t CrcRegister = 0;
    uint8_t IsReadReply = 0;
    uint16_t ReplyDataLength = 0;
    uint8_t ReplyLength = 0;       // the frame AssessReply last judged: a whole one, or a spoilt prefix

    // Poll cycle.
    uint8_t ReadyToSend = 0;
    uint16_t TickCount = 0;
    uint16_t MissCount = 0;
    uint8_t CloseRequested = 0;

    // The line between exchanges. A frame is an answer only while its request
    // awaits one: from the send until a reply to it is concluded (a timed-out
    // request still awaits until the next send, so a late whole reply counts).
    uint8_t AwaitingReply = 0;
    uint16_t BlockedTicks = 0;     // ticks a due send has waited for the line to fall silent
    uint32_t UnaskedBytes = 0;     // bytes that came while no request awaited an answer

    // Who built TxFrame: the polled exchange's tags, kept with the request
    // when it is sent (SentRequest::mode, context); both 0 for a question.
    // The link does not read them; they are the polled source's own.
    int32_t TxMode = 0;
    uint8_t TxContext = 0;

    // The request in flight (or the last one sent).
    SentRequest Sent;

    // The relay asked.
    int32_t SlaveAddress = 0;

    // Modbus RTU CRC of Buf[0..Count-1], left in CrcRegister.
    void MatchCRC(const uint8_t* Buf, uint8_t Count);

    // Appends CRC bytes 6 and 7 (low byte first) to the 6 bytes a builder wrote.
    void SealTxFrame();

    // Stores one received byte. Never writes past RxBuffer.
    void AppendRxByte(uint8_t b);

    // Judges the collected bytes against Sent byte by byte (ReplyExpectation):
    // Incomplete while they may still become its answer; NotAnswer as soon as
    // one byte cannot belong to it (ReplyLength: the bytes up to that one); a
    // whole frame of the answer's length (ReplyLength) is judged by JudgeReply.
    ReplyVerdict AssessReply();

    // Keeps the frame just sealed as the request in flight.
    void RecordSent();


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
// The registers a read reply to `sent` carries, tagged as `sent` was.
RegisterValues ReadReplyValues(const SentRequest& sent, const uint8_t* rxBuffer);

// Judges one whole reply frame of `length` bytes against the request sent:
// - an exact echo of a write is confirmed without a CRC of its own;
// - every other frame must carry a good CRC;
// - a read reply must come from the slave asked, with function 3 and twice
//   the register count asked for as its byte count;
// - an exception reply must name the slave and function asked;
// - an echo of the same register written with another value is the relay's
//   own answer to the write, not a confirmation.
ReplyVerdict JudgeReply(const SentRequest& sent, const uint8_t* frame, int length);
