// The poll cycle against a line in memory: when requests go out, how replies
// are collected and handed on, time-outs, misses, the no-link state and the
// request flags.
#include <gtest/gtest.h>

#include "exchanges/ExchangeFlags.h"
#include "link/PollCycle.h"
#include "serial/LoopTimer.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

class RecordingClient : public PollClient {
public:
    RecordingClient(LinkState& s, ExchangeState& x) : s_(s), x_(x) {}
    int built = 0, readReplies = 0, writeEchoes = 0, writeFinalWords = 0, closes = 0;
    bool linkLost = false;
    std::vector<int> readModes;   // the sending exchange of each read reply handed on

    void BuildRequest() override
    {
        ++built;
        if (x_.PollMode == 5)
            FillReadRequest(s_.TxFrame, s_.SlaveAddress, 50, 29);
        s_.TxMode = x_.PollMode;
    }
    void HandleReadReply(const SentRequest& sent) override
    {
        ++readReplies;
        readModes.push_back(sent.mode);
        EXPECT_GT(s_.RxCount, 0) << "the handler sees the reply still collected";
    }
    void HandleWriteReply(const SentRequest&, ReplyVerdict verdict) override
    {
        if (verdict == ReplyVerdict::WriteEcho)
            ++writeEchoes;
        else
            ++writeFinalWords;
    }
    void ReceiveEnded() override { ApplyRequestFlags(x_); }   // as the window's exchanges do
    void CloseDue() override { ++closes; }
    int looks = 0;   // calls that change what the window shows of the link
    void LinkLookChanged(bool present) override
    {
        linkLost = !present;
        ++looks;
    }

private:
    LinkState& s_;
    ExchangeState& x_;
};

struct Cycle : ::testing::Test {
    LinkState s;
    ExchangeState x;   // the window's exchanges' flags, as its poller keeps them
    FakeLine line;
    RecordingClient client{s, x};
    PollCycle cycle{s, client};

    void SetUp() override
    {
        cycle.SetLine(&line);
        s.SlaveAddress = 1;
        x.PollMode = 5;
        s.ReadyToSend = 1;
    }
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i)
            cycle.Tick();
    }
    void Deliver(const std::vector<uint8_t>& bytes)
    {
        line.Feed(bytes);
        cycle.Receive(line.BytesWaiting());
    }
    // Sends the request and times it out `misses` times.
    void Miss(int misses)
    {
        for (int i = 0; i < misses; ++i)
            Ticks(32);
    }
};

TEST_F(Cycle, FirstRequestGoesOutOnTheSecondTickAsEightBytes)
{
    cycle.Tick();
    EXPECT_TRUE(line.written.empty());
    cycle.Tick();
    EXPECT_EQ(line.TakeWritten(),
              (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x32, 0x00, 0x1D, 0x24, 0x0C}));
    EXPECT_EQ(s.ReadyToSend, 0);
    EXPECT_EQ(s.TickCount, 0);
}

TEST_F(Cycle, TimeOutOnTick31AndResendOnTick32)
{
    Ticks(2);
    line.TakeWritten();
    Ticks(30);
    EXPECT_EQ(s.ReadyToSend, 0);
    EXPECT_EQ(s.MissCount, 0);
    cycle.Tick();   // the 31st
    EXPECT_EQ(s.ReadyToSend, 1);
    EXPECT_EQ(s.MissCount, 1);
    EXPECT_TRUE(line.written.empty());
    cycle.Tick();   // the 32nd sends the same request again
    EXPECT_EQ(line.TakeWritten().size(), 8u);
    EXPECT_EQ(client.built, 2);
}

TEST_F(Cycle, ReplyInPiecesIsHandedOnOnceAndTheNextSendFollowsTwoTicksLater)
{
    Ticks(2);
    line.TakeWritten();
    const auto reply = ReadReply(1, CurrentParamRegisters());
    Ticks(5);
    Deliver({reply.begin(), reply.begin() + 20});
    EXPECT_EQ(s.TickCount, 0);
    Ticks(30);   // 30 ticks between pieces are still waited for
    EXPECT_EQ(s.ReadyToSend, 0);
    Deliver({reply.begin() + 20, reply.end() - 1});
    EXPECT_EQ(client.readReplies, 0);
    Deliver({reply.back()});
    EXPECT_EQ(client.readReplies, 1);
    EXPECT_EQ(s.RxCount, 0);
    EXPECT_EQ(s.ReadyToSend, 1);
    cycle.Tick();
    EXPECT_TRUE(line.written.empty());
    cycle.Tick();
    EXPECT_EQ(line.TakeWritten().size(), 8u);
}

TEST_F(Cycle, WrongCrcIsOneMoreMissAndNoHandler)
{
    Ticks(2);
    s.MissCount = 3;
    auto reply = ReadReply(1, CurrentParamRegisters());
    reply[10] ^= 0xFF;
    Deliver(reply);
    EXPECT_EQ(client.readReplies, 0);
    EXPECT_EQ(s.MissCount, 4);
    EXPECT_EQ(s.ReadyToSend, 1);
    EXPECT_EQ(s.RxCount, 0);
}

TEST_F(Cycle, NoLinkAtFiveMissesEndsOnlyWithAnAcceptedReplyAndCounterWrapsTo10)
{
    Ticks(2);
    Miss(4);
    EXPECT_FALSE(client.linkLost);
    Miss(1);
    EXPECT_GE(s.MissCount, 5);
    EXPECT_TRUE(client.linkLost);

    Deliver({0x42});   // a stray byte proves nothing
    cycle.Tick();
    EXPECT_TRUE(client.linkLost);
    Ticks(40);
    Deliver(ReadReply(1, CurrentParamRegisters()));
    EXPECT_EQ(s.MissCount, 0);
    cycle.Tick();
    EXPECT_FALSE(client.linkLost);

    s.MissCount = 499;
    s.ReadyToSend = 0;
    s.TickCount = 30;
    cycle.Tick();
    EXPECT_EQ(s.MissCount, 10);
    EXPECT_TRUE(client.linkLost);
}

// Whatever bytes a relay sends, five exchanges in a row that bring no
// accepted reply are the no-link state, and nothing is decoded.
TEST_F(Cycle, EveryReplySpoiltReachesNoLink)
{
    auto bad = ReadReply(1, CurrentParamRegisters());
    bad[20] ^= 0x40;
    std::vector<uint8_t> exception{1, 0x83, 2};
    const uint16_t crc = ModbusCrc16(exception.data(), 3);
    exception.push_back(uint8_t(crc));
    exception.push_back(uint8_t(crc >> 8));
    std::vector<uint8_t> strayFirst{0x00};
    const auto good = ReadReply(1, CurrentParamRegisters());
    strayFirst.insert(strayFirst.end(), good.begin(), good.end());

    for (const auto& reply : {bad, exception, strayFirst}) {
        s.MissCount = 0;
        client.linkLost = false;
        for (int i = 0; i < 5; ++i) {
            Ticks(3);
            Deliver(reply);
            Ticks(40);   // anything left unfinished times out
        }
        EXPECT_GE(s.MissCount, 5);
        EXPECT_TRUE(client.linkLost);
    }
    EXPECT_EQ(client.readReplies, 0);
}

// The reply is decoded by the exchange whose request went out, even when a
// flag switched the mode while it was arriving.
TEST_F(Cycle, FlagRaisedBeforeTheReplyIsAppliedAtTheFirstReceiveEvent)
{
    Ticks(2);
    const auto reply = ReadReply(1, CurrentParamRegisters());
    x.ReadMaskRequest = 1;
    Deliver({reply.begin(), reply.begin() + 5});
    EXPECT_EQ(x.PollMode, 8);
    EXPECT_EQ(x.ReadMaskRequest, 0);
    Deliver({reply.begin() + 5, reply.end()});
    ASSERT_EQ(client.readModes.size(), 1u);
    EXPECT_EQ(client.readModes[0], 5);
}

TEST_F(Cycle, GarbledOrForeignWriteRepliesLeaveTheWriteStandingAndTheFlagsWaiting)
{
    FillWriteRequest(s.TxFrame, 1, 100, 500);
    x.PollMode = 2;
    Ticks(2);
    std::vector<uint8_t> echo = line.TakeWritten();
    ASSERT_EQ(echo.size(), 8u);

    x.ReadParamRequest = 1;
    std::vector<uint8_t> garbled = echo;
    garbled[5] ^= 0x01;   // the CRC no longer fits
    Deliver(garbled);
    Deliver(ReadReply(1, CurrentParamRegisters()));   // a read-shaped reply is no echo
    EXPECT_EQ(client.writeEchoes + client.writeFinalWords + client.readReplies, 0);
    EXPECT_EQ(x.ReadParamRequest, 1) << "flags wait while the write is unconfirmed";
    EXPECT_EQ(x.PollMode, 2);
    EXPECT_EQ(s.ReadyToSend, 0);

    // After the time-out the same write goes out again; an exact echo confirms it.
    Ticks(32);
    EXPECT_EQ(s.MissCount, 1);
    EXPECT_EQ(line.TakeWritten(), echo);
    x.PollMode = 5;   // a confirmation counts whatever the mode is by now
    Deliver(echo);
    EXPECT_EQ(client.writeEchoes, 1);
    EXPECT_EQ(s.MissCount, 0);
    EXPECT_EQ(x.ReadParamRequest, 0);
}

// A relay that stores another value, or refuses the write, has said its last
// word on it: the write ends and the flags are applied.
TEST_F(Cycle, AlteredEchoAndExceptionEndTheWrite)
{
    for (bool refuse : {false, true}) {
        FillWriteRequest(s.TxFrame, 1, 100, 500);
        x.PollMode = 2;
        s.ReadyToSend = 1;
        Ticks(2);
        const std::vector<uint8_t> echo = line.TakeWritten();
        x.ReadUstNastRequest = 1;
        std::vector<uint8_t> answer = refuse ? std::vector<uint8_t>{1, 0x86, 4}
                                             : std::vector<uint8_t>{echo.begin(), echo.begin() + 4};
        if (!refuse) {
            answer.push_back(0x00);
            answer.push_back(0x64);   // stored 100, not 500
        }
        const uint16_t crc = ModbusCrc16(answer.data(), answer.size());
        answer.push_back(uint8_t(crc));
        answer.push_back(uint8_t(crc >> 8));
        Deliver(answer);
        EXPECT_EQ(s.ReadyToSend, 1);
        EXPECT_EQ(x.PollMode, 1) << "flags applied after the final word";
    }
    EXPECT_EQ(client.writeFinalWords, 2);
    EXPECT_EQ(client.writeEchoes, 0);
}

TEST_F(Cycle, LateReplyAfterTheTimeOutIsStillHandedOnUnlessCutOffBySend)
{
    Ticks(2);
    Ticks(31);
    EXPECT_EQ(s.ReadyToSend, 1);
    Deliver(ReadReply(1, CurrentParamRegisters()));
    EXPECT_EQ(client.readReplies, 1);

    // A partial reply still incomplete at the second tick is dropped by the send.
    Ticks(2);
    line.TakeWritten();
    Ticks(31);
    const auto reply = ReadReply(1, CurrentParamRegisters());
    Deliver({reply.begin(), reply.begin() + 30});
    Ticks(2);
    EXPECT_EQ(line.TakeWritten().size(), 8u);
    EXPECT_EQ(s.RxCount, 0);
}

// A tick that changes nothing of the link touches no control: the look is
// shown on the first tick and on each change only.
TEST_F(Cycle, LinkLookIsShownOnlyWhenItChanges)
{
    Ticks(2);
    EXPECT_EQ(client.looks, 1);
    Ticks(100);
    Miss(5);
    EXPECT_TRUE(client.linkLost);
    EXPECT_EQ(client.looks, 2);
    Miss(3);
    EXPECT_EQ(client.looks, 2);
    Ticks(3);
    Deliver(ReadReply(1, CurrentParamRegisters()));
    Ticks(50);
    EXPECT_FALSE(client.linkLost);
    EXPECT_EQ(client.looks, 3);
    cycle.ForgetLinkLook();
    cycle.Tick();
    EXPECT_EQ(client.looks, 4);
}

// The ticks a caller may sleep through: up to the send after an exchange,
// up to the time-out while a reply is awaited; any receive event starts again.
TEST_F(Cycle, NextEventIsTheSendOrTheTimeOut)
{
    EXPECT_EQ(cycle.TicksToNextEvent(), 2);
    Ticks(2);
    ASSERT_EQ(line.TakeWritten().size(), 8u);
    EXPECT_EQ(cycle.TicksToNextEvent(), 31);
    cycle.CountIdleTicks(30);
    EXPECT_EQ(cycle.TicksToNextEvent(), 1);
    cycle.Tick();
    EXPECT_EQ(s.MissCount, 1);
    EXPECT_EQ(cycle.TicksToNextEvent(), 1);   // the time-out tick freed the cycle
    cycle.Tick();
    EXPECT_EQ(line.TakeWritten().size(), 8u);
    const auto reply = ReadReply(1, CurrentParamRegisters());
    cycle.CountIdleTicks(12);
    Deliver({reply.begin(), reply.begin() + 9});
    EXPECT_EQ(cycle.TicksToNextEvent(), 31);
    Deliver({reply.begin() + 9, reply.end()});
    EXPECT_EQ(cycle.TicksToNextEvent(), 2);
}

// What is still to come of a reply that so far answers the request sent:
// the port may look away that long; anything else is read at once.
TEST_F(Cycle, BytesStillExpectedOnlyForWhatLooksLikeTheAnswer)
{
    EXPECT_EQ(cycle.BytesStillExpected(), 0);
    Ticks(2);
    const auto reply = ReadReply(1, CurrentParamRegisters());
    EXPECT_EQ(cycle.BytesStillExpected(), 0) << "nothing collected yet";
    Deliver({reply.begin(), reply.begin() + 2});
    EXPECT_EQ(cycle.BytesStillExpected(), 0) << "an exception reply would be as long as its header";
    Deliver({reply.begin() + 2, reply.begin() + 3});
    EXPECT_EQ(cycle.BytesStillExpected(), 60);
    Deliver({reply.begin() + 3, reply.begin() + 20});
    EXPECT_EQ(cycle.BytesStillExpected(), 43);
    Deliver({reply.begin() + 20, reply.end()});
    EXPECT_EQ(cycle.BytesStillExpected(), 0);

    for (const std::vector<uint8_t>& start : {std::vector<uint8_t>{2, 3, 58}, {1, 4, 58}, {1, 3, 22}, {1, 0x83}}) {
        Ticks(40);
        Deliver(start);
        EXPECT_EQ(cycle.BytesStillExpected(), 0) << int(start[0]) << " " << int(start[1]);
    }
}

// How long the port looks away for a reply's rest: just past its last byte,
// inside the tick that byte lands in, when the tick leaves room; else until
// shortly before the rest is due, or not at all for a short rest.
TEST(RestHold, LooksBackAfterTheLastByteWithinItsTickOrShortlyBeforeTheRest)
{
    constexpr long long ms = 1'000'000;
    const long long rest55 = LineTimeNs(55);   // 57.29 ms: page 0 after a piece of 8
    const struct {
        const char* what;
        long long now;
        int tick;
        int rest;
        long long hold;
    } cases[] = {
        {"2.7 ms of the tick left after the last byte", 20 * ms, 5, 55, rest55 + 300'000},
        {"0.3 ms between the last byte and the look", 79 * ms - rest55, 5, 55, 79'300'000 - (79 * ms - rest55)},
        {"a nanosecond less", 79 * ms - rest55 + 1, 5, 55, 53 * ms},
        {"the last byte at the tick's end", 80 * ms - rest55 - 1, 5, 55, 53 * ms},
        {"a grid of 1 ms leaves no room", 20 * ms, 1, 55, 53 * ms},
        {"a short rest in its tick", 0, 5, 5, LineTimeNs(5) + 300'000},
        {"a short rest without room", 0, 1, 5, 0},
        {"a long rest without room: 60 ms at most", 0, 1, 255, 60 * ms},
        {"a long rest with room", 0, 5, 255, LineTimeNs(255) + 300'000},
        {"nothing due", 20 * ms, 5, 0, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RestHoldNs(c.now, c.tick, c.rest), c.hold) << c.what;
    // Where the event loop's timer ends the look-away, a millisecond late at
    // most: asked a whole millisecond less, it never ends after the look.
    using std::chrono::milliseconds, std::chrono::nanoseconds;
    for (const auto& [look, asked] : {std::pair{nanoseconds(0), milliseconds(0)}, {nanoseconds(1'500'000), milliseconds(0)},
                                      {nanoseconds(10'000'000), milliseconds(9)}, {nanoseconds(10'900'000), milliseconds(9)}})
        EXPECT_EQ(LoopTimerNoLaterThan(look), asked) << look.count();
}

TEST_F(Cycle, CloseHappensOnTheTickThatWouldSendWithinAbout32Ticks)
{
    Ticks(2);
    line.TakeWritten();
    s.CloseRequested = 1;
    int ticks = 0;
    while (client.closes == 0 && ticks < 100) {
        cycle.Tick();
        ++ticks;
    }
    EXPECT_EQ(client.closes, 1);
    EXPECT_LE(ticks, 33);
    EXPECT_EQ(s.CloseRequested, 0);
    EXPECT_TRUE(line.written.empty());
}

// A frame is an answer only while its request awaits one: a second,
// well-formed reply after the first was concluded is noise, counted and
// never decoded, whether it comes in its own event or behind the first.
TEST_F(Cycle, FramesAfterTheConcludedReplyAreNoise)
{
    Ticks(2);
    line.TakeWritten();
    auto foreign = CurrentParamRegisters();
    foreign[0] = 0xBEEF;
    const auto reply = ReadReply(1, CurrentParamRegisters());
    const auto unasked = ReadReply(1, foreign);
    std::vector<uint8_t> both = reply;
    both.insert(both.end(), unasked.begin(), unasked.begin() + 10);
    Deliver(both);
    Deliver({unasked.begin() + 10, unasked.end()});
    EXPECT_EQ(client.readReplies, 1);
    EXPECT_EQ(s.UnaskedBytes, unasked.size());
    EXPECT_EQ(s.MissCount, 0);

    // A write's echo doubled: the second echo confirms nothing more.
    FillWriteRequest(s.TxFrame, 1, 100, 500);
    x.PollMode = 2;
    Ticks(2);
    const std::vector<uint8_t> echo = line.TakeWritten();
    Deliver(echo);
    Deliver(echo);
    EXPECT_EQ(client.writeEchoes, 1);
    EXPECT_EQ(client.readReplies, 1);
}

// A request goes out only after 3.5 character times of silence: on the
// window's 5 ms grid the second tick after the last byte seen; bytes that
// came unread are taken first and start the silence again.
TEST_F(Cycle, RequestWaitsForTheSilenceAfterAnyByteOnTheLine)
{
    EXPECT_EQ(cycle.SendAfterTicks(), 1);
    Ticks(2);
    line.TakeWritten();
    Deliver(ReadReply(1, CurrentParamRegisters()));
    cycle.Tick();
    line.Feed({0x01, 0x03});   // a frame nobody asked for begins
    cycle.Tick();
    EXPECT_TRUE(line.written.empty()) << "no request while bytes are on the line";
    EXPECT_EQ(line.BytesWaiting(), 0) << "they were read as noise";
    EXPECT_EQ(s.UnaskedBytes, 2u);
    cycle.Tick();
    EXPECT_TRUE(line.written.empty());
    cycle.Tick();
    EXPECT_EQ(line.TakeWritten().size(), 8u);

    // A finer grid waits more ticks for the same silence, and the time-out is
    // never shorter than our own frame and the silence after it.
    PollCycle fine{s, client};
    fine.SetPacing(1, 3);
    EXPECT_EQ(fine.SendAfterTicks(), 4);
    EXPECT_EQ(fine.ReplyTimeoutTicks(), 13);
}

// A line that never falls silent keeps the request from going out; a send
// kept waiting a whole reply time-out counts a miss, so five of them show
// the no-link state instead of stale values without a word.
TEST_F(Cycle, LineThatNeverFallsSilentCountsMisses)
{
    Ticks(2);
    line.TakeWritten();
    Deliver(ReadReply(1, CurrentParamRegisters()));
    for (int i = 0; i < 5 * 32; ++i) {
        cycle.CountIdleTicks(1);
        Deliver({0x55});
    }
    EXPECT_TRUE(line.written.empty());
    EXPECT_EQ(s.MissCount, 5);
    EXPECT_TRUE(client.linkLost);
}

TEST_F(Cycle, FailedWritePropagatesAndLeavesTheCycleReady)
{
    line.failWrites = true;
    cycle.Tick();
    EXPECT_THROW(cycle.Tick(), std::runtime_error);
    EXPECT_EQ(s.ReadyToSend, 1);
}

}  // namespace
