// The relay protocol core: CRC, request frames, reply assembly and
// acceptance, request flags, bit text and the relay clock's date checks.
#include <gtest/gtest.h>

#include <random>

#include "exchanges/ExchangeFlags.h"
#include "exchanges/RelayClock.h"
#include "exchanges/BitText.h"
#include "link/LinkState.h"
#include "link/ReplyExpectation.h"
#include "support/ModbusFrames.h"

namespace {
std::vector<uint8_t> Frame(const LinkState& s)
{
    return {s.TxFrame, s.TxFrame + kRequestLength};
}

void Append(LinkState& s, const std::vector<uint8_t>& bytes)
{
    for (uint8_t b : bytes)
        s.AppendRxByte(b);
}
}

TEST(Crc, ModbusCheckValueAndRegister)
{
    const char* text = "123456789";
    EXPECT_EQ(ModbusCrc16(reinterpret_cast<const uint8_t*>(text), 9), 0x4B37);
    LinkState s;
    s.MatchCRC(reinterpret_cast<const uint8_t*>(text), 9);
    EXPECT_EQ(s.CrcRegister, 0x4B37);
}

TEST(RequestFrames, KnownFramesOnTheWire)
{
    LinkState s;
    FillReadRequest(s.TxFrame, 1, 50, 29);
    s.SealTxFrame();
    EXPECT_EQ(Frame(s), (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x32, 0x00, 0x1D, 0x24, 0x0C}));

    FillWriteRequest(s.TxFrame, 1, 67, 12);
    s.SealTxFrame();
    EXPECT_EQ(Frame(s), (std::vector<uint8_t>{0x01, 0x06, 0x00, 0x43, 0x00, 0x0C, 0x78, 0x1B}));

    // Only the low byte of the address reaches the frame; bytes 8-10 stay unused.
    FillReadRequest(s.TxFrame, 0x105, 128, 17);
    s.SealTxFrame();
    EXPECT_EQ(s.TxFrame[0], 0x05);
    EXPECT_EQ(s.TxFrame[3], 128);
    EXPECT_EQ(s.TxFrame[8] | s.TxFrame[9] | s.TxFrame[10], 0);
    const uint16_t crc = ModbusCrc16(s.TxFrame, 6);
    EXPECT_EQ(s.TxFrame[6], crc & 0xFF);
    EXPECT_EQ(s.TxFrame[7], crc >> 8);
}

// A LinkState whose request in flight is `frame` (CRC added).
LinkState Sending(void (*fill)(uint8_t*, int, int, int), int slave, int reg, int operand)
{
    LinkState s;
    fill(s.TxFrame, slave, reg, operand);
    s.SealTxFrame();
    s.RecordSent();
    return s;
}
void FillWrite(uint8_t* frame, int slave, int reg, int value)
{
    FillWriteRequest(frame, slave, reg, uint16_t(value));
}

std::vector<uint8_t> WithCrc(std::vector<uint8_t> frame)
{
    const uint16_t crc = ModbusCrc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

TEST(ReplyAssembly, ReadReplyAcrossEventsAndWithTrailingBytes)
{
    LinkState s = Sending(FillReadRequest, 1, 50, 29);
    const auto reply = ReadReply(1, CurrentParamRegisters());
    ASSERT_EQ(reply.size(), 63u);

    // Everything but the last CRC byte: still incomplete.
    Append(s, {reply.begin(), reply.end() - 1});
    EXPECT_EQ(s.AssessReply(), ReplyVerdict::Incomplete);
    Append(s, {reply.back()});
    EXPECT_EQ(s.AssessReply(), ReplyVerdict::ReadValid);
    EXPECT_EQ(s.IsReadReply, 1);
    EXPECT_EQ(s.ReplyDataLength, 58);
    EXPECT_EQ(ReplyRegister(s.RxBuffer, 50, 66), 66);
    EXPECT_EQ(ReplyRegister(s.RxBuffer, 50, 78), 78);

    // Extra bytes after a whole reply do not spoil it.
    LinkState t = Sending(FillReadRequest, 1, 50, 29);
    Append(t, reply);
    Append(t, {0xAA, 0x55, 0x01});
    EXPECT_EQ(t.AssessReply(), ReplyVerdict::ReadValid);
}

// Sound frames that do not answer the request sent are never decoded: a
// short reply whose CRC is good would otherwise show its CRC bytes, or the
// previous reply's values, as live readings.
TEST(ReplyAcceptance, OnlyTheAnswerToTheRequestSentIsAccepted)
{
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        ReplyVerdict verdict;
    };
    const std::vector<uint16_t> regs = CurrentParamRegisters();
    const Case cases[] = {
        {"the answer", ReadReply(1, regs), ReplyVerdict::ReadValid},
        {"one register where 29 were asked", WithCrc({0x01, 0x03, 0x02, 0x03, 0xE8}), ReplyVerdict::NotAnswer},
        {"another slave", ReadReply(2, regs), ReplyVerdict::NotAnswer},
        {"function 4", [&] { auto r = ReadReply(1, regs); r[1] = 4; return WithCrc({r.begin(), r.end() - 2}); }(),
         ReplyVerdict::NotAnswer},
        {"a write echo", WithCrc({0x01, 0x06, 0x00, 0x32, 0x00, 0x1D}), ReplyVerdict::NotAnswer},
        {"exception to the read", WithCrc({0x01, 0x83, 0x02}), ReplyVerdict::Refused},
        {"exception to another function", WithCrc({0x01, 0x86, 0x02}), ReplyVerdict::NotAnswer},
        {"exception from another slave", WithCrc({0x02, 0x83, 0x02}), ReplyVerdict::NotAnswer},
        {"a spoilt CRC", [&] { auto r = ReadReply(1, regs); r.back() ^= 1; return r; }(), ReplyVerdict::BadCrc},
    };
    for (const Case& c : cases) {
        LinkState s = Sending(FillReadRequest, 1, 50, 29);
        Append(s, c.reply);
        EXPECT_EQ(s.AssessReply(), c.verdict) << c.what;
    }
    // Nothing sent yet: nothing is an answer.
    LinkState idle;
    Append(idle, ReadReply(1, regs));
    EXPECT_EQ(idle.AssessReply(), ReplyVerdict::NotAnswer);
}

TEST(ReplyAcceptance, WriteEchoesAlteredEchoesAndRefusals)
{
    LinkState w = Sending(FillWrite, 1, 100, 700);
    const std::vector<uint8_t> echo = Frame(w);
    Append(w, {echo.begin(), echo.begin() + 7});
    EXPECT_EQ(w.AssessReply(), ReplyVerdict::Incomplete);
    Append(w, {echo.back()});
    EXPECT_EQ(w.AssessReply(), ReplyVerdict::WriteEcho);
    EXPECT_EQ(w.IsReadReply, 0);

    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        ReplyVerdict verdict;
    };
    const Case cases[] = {
        // A relay that clamps answers with the value it stored: its final word.
        {"same register, another value", WithCrc({0x01, 0x06, 0x00, 100, 0x00, 0x10}), ReplyVerdict::WriteAltered},
        {"another register", WithCrc({0x01, 0x06, 0x00, 101, 0x02, 0xBC}), ReplyVerdict::NotAnswer},
        {"another slave", WithCrc({0x02, 0x06, 0x00, 100, 0x02, 0xBC}), ReplyVerdict::NotAnswer},
        {"garbled echo", [&] { auto r = echo; r[5] ^= 1; return r; }(), ReplyVerdict::BadCrc},
        {"refused", WithCrc({0x01, 0x86, 0x04}), ReplyVerdict::Refused},
        {"a read reply", ReadReply(1, {1, 2, 3}), ReplyVerdict::NotAnswer},
    };
    for (const Case& c : cases) {
        LinkState s = Sending(FillWrite, 1, 100, 700);
        Append(s, c.reply);
        EXPECT_EQ(s.AssessReply(), c.verdict) << c.what;
        // Each check holds by itself: the whole frame's, and the byte-by-byte look below.
        if (c.reply.size() == 8 && c.verdict != ReplyVerdict::BadCrc)
            EXPECT_EQ(JudgeReply(s.Sent, c.reply.data(), 8), c.verdict) << c.what;
    }
    const ReplyLook other = LookAtReply(Sending(FillWrite, 1, 100, 700).Sent, cases[1].reply.data(), 8);
    EXPECT_EQ(other.kind, ReplyLook::Kind::Spoilt);
    EXPECT_EQ(other.length, 4);
}

TEST(ReplyAssembly, OversizedByteCountIsDroppedAndCollectingStartsAgain)
{
    LinkState s = Sending(FillReadRequest, 1, 80, 123);
    // A byte count the request cannot have spoils the frame at its third byte.
    Append(s, {1, 3, 247});
    EXPECT_EQ(s.AssessReply(), ReplyVerdict::NotAnswer);
    EXPECT_EQ(s.ReplyLength, 3);
    s.RxCount = 0;   // the cycle drops the spoilt bytes
    // The largest reply that fits (246 data bytes) still completes.
    const auto big = ReadReply(1, std::vector<uint16_t>(123, 0xBEEF));
    ASSERT_EQ(big.size(), 251u);
    Append(s, big);
    EXPECT_EQ(s.RxCount, 251);
    EXPECT_EQ(s.AssessReply(), ReplyVerdict::ReadValid);
    // Anything beyond the buffer is not stored.
    Append(s, std::vector<uint8_t>(1000, 0x77));
    EXPECT_EQ(s.RxCount, 251);
}

// Random chunks of random and real bytes, judged after every chunk as the
// receive event does: the buffer is never overrun (checked by the sanitizer
// build too) and only whole answers to the request sent are accepted.
TEST(ReplyAssembly, RandomTrafficNeverOverrunsTheBufferNorPassesForAnAnswer)
{
    std::mt19937 rng(12345);
    LinkState s = Sending(FillReadRequest, 1, 50, 29);
    const auto good = ReadReply(1, CurrentParamRegisters());
    int valid = 0;
    for (int round = 0; round < 20000; ++round) {
        std::vector<uint8_t> chunk;
        if (rng() % 4 == 0)
            chunk = good;
        const int n = int(rng() % 300);
        for (int i = 0; i < n; ++i)
            chunk.push_back(uint8_t(rng()));
        Append(s, chunk);
        ASSERT_LE(s.RxCount, kRxBufferSize);
        const ReplyVerdict v = s.AssessReply();
        if (v != ReplyVerdict::Incomplete) {
            if (v == ReplyVerdict::ReadValid) {
                ++valid;
                ASSERT_EQ(s.RxBuffer[0], 1);
                ASSERT_EQ(s.RxBuffer[1], 3);
                ASSERT_EQ(s.RxBuffer[2], 58);
            }
            s.RxCount = 0;
        }
        if (rng() % 3 == 0)
            s.RxCount = 0;   // a send in between
    }
    EXPECT_GT(valid, 0);
}

TEST(RequestFlags, AppliedInFixedOrderAndCleared)
{
    ExchangeState s;
    s.ReadParamRequest = 1;
    s.ReadMaskRequest = 1;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 8);
    EXPECT_EQ(s.ReadParamRequest + s.ReadMaskRequest, 0);

    s.WriteClockRequest = 1;
    s.WriteUstRequest = 1;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 2);
    EXPECT_EQ(s.ExchangeContext, 4);

    s.ReadUstNastRequest = 1;
    s.ReadProtokolRequest = 1;
    s.WriteMaskRequest = 1;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 2);
    EXPECT_EQ(s.ExchangeContext, 6);

    s.ReadUstNastRequest = 1;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 1);
    EXPECT_EQ(s.ExchangeContext, 6);   // a read leaves the sub-selector alone
}

// For every two flags raised together, the later one in the fixed order
// decides: a change of that order anywhere is caught.
TEST(RequestFlags, OfAnyTwoTheLaterInTheOrderDecides)
{
    struct Flag {
        uint8_t ExchangeState::*flag;
        int mode;
        int context;   // -1: left as it was
    };
    const Flag order[] = {
        {&ExchangeState::ReadParamRequest, 5, -1},   {&ExchangeState::ReadUstNastRequest, 1, -1},
        {&ExchangeState::ReadProtokolRequest, 7, -1}, {&ExchangeState::ReadMaskRequest, 8, -1},
        {&ExchangeState::WriteClockRequest, 2, 0},   {&ExchangeState::WriteUstRequest, 2, 4},
        {&ExchangeState::WriteMaskRequest, 2, 6},
    };
    for (size_t i = 0; i < std::size(order); ++i) {
        for (size_t j = i + 1; j < std::size(order); ++j) {
            ExchangeState s;
            s.ExchangeContext = 12;
            s.*order[i].flag = 1;
            s.*order[j].flag = 1;
            ApplyRequestFlags(s);
            EXPECT_EQ(s.PollMode, order[j].mode) << i << " and " << j;
            const int context = order[j].context >= 0 ? order[j].context
                                : order[i].context >= 0 ? order[i].context : 12;
            EXPECT_EQ(s.ExchangeContext, context) << i << " and " << j;
            EXPECT_EQ(s.*order[i].flag + s.*order[j].flag, 0);
        }
    }
}

// A started clock write finishes before anything else is applied, so the
// relay's clock is never left part new and part old.
TEST(RequestFlags, WaitWhileTheClockSequenceRuns)
{
    ExchangeState s;
    s.PollMode = 2;
    s.ExchangeContext = 0;
    s.ClockStep = 3;
    s.ReadMaskRequest = 1;
    s.WriteUstRequest = 1;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 2);
    EXPECT_EQ(s.ExchangeContext, 0);
    EXPECT_EQ(s.ReadMaskRequest + s.WriteUstRequest, 2);
    s.ClockStep = 0;   // the fifth echo ended it
    s.PollMode = 5;
    ApplyRequestFlags(s);
    EXPECT_EQ(s.PollMode, 2);
    EXPECT_EQ(s.ExchangeContext, 4);
    EXPECT_EQ(s.ReadMaskRequest + s.WriteUstRequest, 0);
}

TEST(BitText, BothWaysForEveryWord)
{
    EXPECT_EQ(WordToBitText(0), QStringLiteral("00000000 00000000"));
    EXPECT_EQ(WordToBitText(0x8001), QStringLiteral("10000000 00000001"));
    EXPECT_EQ(WordToBitText(0x7FFF), QStringLiteral("01111111 11111111"));
    for (uint32_t w = 0; w <= 0xFFFF; ++w)
        ASSERT_EQ(BitTextToWord(WordToBitText(uint16_t(w))), w);
    EXPECT_EQ(BitTextToWord(QStringLiteral("00000000 00000011")), 3);
    EXPECT_EQ(BitTextToWord(QStringLiteral("11111111 11111111")), 65535);
}

TEST(BitText, OddTextsAreReadSafely)
{
    EXPECT_EQ(BitTextToWord(QString()), 0);
    EXPECT_EQ(BitTextToWord(QStringLiteral("101")), 5);
    // Seventeen digits: the seventeenth position adds nothing.
    EXPECT_EQ(BitTextToWord(QStringLiteral("11111111111111111")), 65535);
    // Only the first 17 characters count.
    EXPECT_EQ(BitTextToWord(QStringLiteral("00000000 00000001111")), 1);
    // Anything but "1" is a zero bit.
    EXPECT_EQ(BitTextToWord(QStringLiteral("x0000000 0000000z")), 0);
}

TEST(RelayClock, RangeChecksNonexistentDatesAndFallback)
{
    const QDate leapYear(2024, 6, 1), plainYear(2026, 6, 1);
    const QDateTime fallback(QDate(2001, 1, 1), QTime(1, 0, 0));
    EXPECT_EQ(RelayClockMoment(plainYear, {12, 31, 23, 59, 59}),
              QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
    const RelayClockFields outOfRange[] = {
        {0, 1, 0, 0, 0}, {13, 1, 0, 0, 0}, {1, 0, 0, 0, 0}, {1, 32, 0, 0, 0},
        {1, 1, 24, 0, 0}, {1, 1, 0, 60, 0}, {1, 1, 0, 0, 60}, {65535, 1, 0, 0, 0},
    };
    for (const RelayClockFields& f : outOfRange)
        EXPECT_EQ(RelayClockMoment(plainYear, f), fallback);
    // Dates that pass the checks but do not exist in the PC's year.
    EXPECT_EQ(RelayClockMoment(plainYear, {4, 31, 10, 0, 0}), fallback);
    EXPECT_EQ(RelayClockMoment(plainYear, {2, 30, 10, 0, 0}), fallback);
    EXPECT_EQ(RelayClockMoment(plainYear, {2, 29, 10, 0, 0}), QDateTime(QDate(2024, 2, 29), QTime(10, 0, 0)));
    EXPECT_EQ(RelayClockMoment(leapYear, {2, 29, 10, 0, 0}),
              QDateTime(QDate(2024, 2, 29), QTime(10, 0, 0)));
}

TEST(RecordMoment, LatestYearNotInTheFutureAndTheFallbacks)
{
    const QDateTime fifthOfJanuary(QDate(2027, 1, 5), QTime(8, 0, 0));
    const QDateTime fallback(QDate(2001, 1, 1), QTime(0, 0, 0));
    EXPECT_EQ(RecordMoment(fifthOfJanuary, {12, 31, 23, 59, 59}), QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59)));
    EXPECT_EQ(RecordMoment(fifthOfJanuary, {1, 5, 8, 0, 0}), QDateTime(QDate(2027, 1, 5), QTime(8, 0, 0)));
    EXPECT_EQ(RecordMoment(fifthOfJanuary, {1, 5, 8, 0, 1}), QDateTime(QDate(2026, 1, 5), QTime(8, 0, 1)));
    for (RelayClockFields f : std::initializer_list<RelayClockFields>{
             {0, 1, 0, 0, 0}, {13, 1, 0, 0, 0}, {1, 32, 0, 0, 0}, {1, 1, 24, 0, 0}, {1, 1, 0, 60, 0}, {1, 1, 0, 0, 60},
             {4, 31, 0, 0, 0}, {2, 30, 0, 0, 0}})
        EXPECT_EQ(RecordMoment(fifthOfJanuary, f), fallback);
    // 29 February: the latest year not in the future that has the day.
    EXPECT_EQ(RecordMoment(QDateTime(QDate(2028, 3, 1), QTime(0, 0)), {2, 29, 1, 0, 0}),
              QDateTime(QDate(2028, 2, 29), QTime(1, 0, 0)));
    EXPECT_EQ(RecordMoment(QDateTime(QDate(2028, 2, 28), QTime(0, 0)), {2, 29, 1, 0, 0}),
              QDateTime(QDate(2024, 2, 29), QTime(1, 0, 0)));
    EXPECT_EQ(RecordMoment(QDateTime(QDate(2029, 3, 1), QTime(0, 0)), {2, 29, 1, 0, 0}),
              QDateTime(QDate(2028, 2, 29), QTime(1, 0, 0)));
}
