// The receive judgement against the session over a line that timestamps its
// bytes as a real line would (the test moves its clock): answers judged by
// the request sent byte by byte, physically possible only, every exchange
// ending by its deadline, another master's traffic told once.
#include <gtest/gtest.h>

#include <functional>

#include "link/RelaySession.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 1'000'000;

struct TimedLine : FakeLine {
    int64_t now = 0;
    bool keeps = true;
    int64_t NowNs() const override { return now; }
    bool KeepsLineTime() const override { return keeps; }
};

Bytes Sealed(Bytes f)
{
    const uint16_t crc = ModbusCrc16(f.data(), f.size());
    f.push_back(uint8_t(crc));
    f.push_back(uint8_t(crc >> 8));
    return f;
}
const Bytes kAnswer = ReadReply(1, CurrentParamRegisters());
const Bytes kForeign = ReadReply(1, std::vector<uint16_t>(29, 0xBEEF));

struct Session {
    TimedLine line;
    RelaySession session{SessionOptions{1, 50, 1, false}};   // 1 ms ticks, 50 ms time-out, one try
    std::vector<RegisterValues> reads;
    std::vector<ReadFailure> failures;
    std::vector<WriteResult> writes;
    int others = 0;
    int64_t written = 0;

    void Open(bool keeps)
    {
        line.keeps = keeps;
        session.SetLine(&line);
        session.State().SlaveAddress = 1;
        session.State().ReadyToSend = 1;
        QObject::connect(&session, &RelaySession::blockRead, [&](const RegisterValues& v) { reads.push_back(v); });
        QObject::connect(&session, &RelaySession::readFailed, [&](const ReadFailure& f) { failures.push_back(f); });
        QObject::connect(&session, &RelaySession::writeEnded, [&](const WriteResult& w) { writes.push_back(w); });
        QObject::connect(&session, &RelaySession::otherMasterSeen, [&] { ++others; });
    }
    bool Ended() const { return reads.size() + failures.size() + writes.size() > 0; }
    void Send()
    {
        for (int i = 0; i < 20 && line.written.empty(); ++i) {
            line.now += kMs;
            session.Tick();
        }
        written = line.now;
        ASSERT_EQ(line.TakeWritten().size(), 8u);
    }
    // Bytes that reach the PC `at` ns after the request was written.
    void At(int64_t at, const Bytes& bytes)
    {
        line.now = std::max(line.now, written + at);
        line.Feed(bytes);
        session.Receive(line.BytesWaiting());
    }
    // A frame as a UART delivers it: two bytes at a time, at its line time from `from`.
    void Paced(int64_t from, const Bytes& frame)
    {
        for (size_t k = 0; k < frame.size(); k += 2)
        {
            const size_t end = std::min(k + 2, frame.size());
            At(from + LineTimeNs(int64_t(end)), Bytes(frame.begin() + long(k), frame.begin() + long(end)));
        }
    }
    // Ticks until the exchange ends; the ms it took from the write.
    int64_t RunOut()
    {
        for (int i = 0; i < 1000 && !Ended(); ++i) {
            line.now += kMs;
            session.Tick();
        }
        return (line.now - written) / kMs;
    }
};
struct Timed : ::testing::Test, Session {};

TEST_F(Timed, ReadIsJudgedByTheRequestAndTheWire)
{
    enum Outcome { Values, Spoilt, NoReply, Refused };
    struct Case {
        const char* what;
        bool keeps;
        std::function<void(Session&)> line;
        Outcome outcome;
    };
    const int64_t turn = LineTimeNs(8) + 3 * kMs;   // our request on the wire, then the relay's turn
    const Case cases[] = {
        {"the answer paced", true, [&](Session& t) { t.Paced(turn, kAnswer); }, Values},
        {"the answer whole, as a device server's segment", true, [&](Session& t) { t.At(80 * kMs, kAnswer); }, Values},
        {"a whole frame sooner than the wire allows", true, [&](Session& t) { t.At(20 * kMs, kForeign); }, Spoilt},
        {"a header during our request, then the answer", true,
         [&](Session& t) { t.At(3 * kMs, {1, 3, 58}); t.Paced(turn, kAnswer); }, Values},
        {"a frame begun during our request", true, [&](Session& t) { t.Paced(0, kForeign); }, Spoilt},
        {"a count above the one asked", true, [&](Session& t) { t.At(turn, {1, 3, 60}); }, Spoilt},
        {"a count below the one asked", true, [&](Session& t) { t.At(turn, {1, 3, 2}); }, Spoilt},
        {"another slave", true, [&](Session& t) { t.At(turn, {2}); }, Spoilt},
        {"a refusal", true, [&](Session& t) { t.Paced(turn, Sealed({1, 0x83, 2})); }, Refused},
        {"a refusal sooner than the wire allows", true, [&](Session& t) { t.At(9 * kMs, Sealed({1, 0x83, 2})); }, Spoilt},
        {"silence", true, [](Session&) {}, NoReply},
        {"a virtual port hands the answer on at once", false, [&](Session& t) { t.At(kMs / 2, kAnswer); }, Values},
    };
    for (const Case& c : cases) {
        Session t;
        t.Open(c.keeps);
        t.session.AskRead({50, 29});
        t.Send();
        c.line(t);
        t.RunOut();
        if (c.outcome == Values) {
            ASSERT_EQ(t.reads.size(), 1u) << c.what;
            EXPECT_EQ(t.reads[0].values, CurrentParamRegisters()) << c.what;
            continue;
        }
        ASSERT_EQ(t.failures.size(), 1u) << c.what;
        EXPECT_TRUE(t.reads.empty()) << c.what;
        EXPECT_EQ(t.failures[0].why, c.outcome == Spoilt ? ExchangeFailure::Spoilt
                       : c.outcome == Refused           ? ExchangeFailure::Refused
                                                        : ExchangeFailure::NoReply)
            << c.what;
    }
}

// A byte that cannot belong to the answer ends the exchange at once; every
// shorter prefix still awaits the rest.
TEST_F(Timed, EveryPrefixOfASpoiltFrameWaitsUntilItsBadByte)
{
    struct Case {
        bool write;
        Bytes frame;   // its last byte is the bad one
    };
    const Case cases[] = {
        {false, {9}}, {false, {1, 4}}, {false, {1, 3, 57}}, {false, {1, 0x86}},
        {true, {9}}, {true, {1, 3}}, {true, {1, 6, 1}}, {true, {1, 6, 0, 0x52}},
    };
    for (const Case& c : cases) {
        Session t;
        t.Open(true);
        c.write ? t.session.AskWrite(0x51, 5) : t.session.AskRead({50, 29});
        t.Send();
        const int64_t from = LineTimeNs(8) + 3 * kMs;
        for (size_t k = 0; k + 1 < c.frame.size(); ++k)
            t.At(from + LineTimeNs(int64_t(k) + 1), {c.frame[k]});
        EXPECT_FALSE(t.Ended()) << c.frame.size();
        t.At(from + LineTimeNs(int64_t(c.frame.size())), {c.frame.back()});
        // A read fails at once; a write awaits its echo behind the spoilt
        // bytes until its deadline.
        EXPECT_EQ(t.failures.size(), c.write ? 0u : 1u) << c.frame.size();
    }
}

// Noise that never stops ends a write, which awaits its echo behind spoilt
// frames, by its deadline: the bytes do not keep the exchange open.
TEST_F(Timed, NoiseEndsAWriteByItsDeadline)
{
    Open(true);
    session.AskWrite(0x51, 5);
    Send();
    for (int64_t ms = 1; ms < 400 && !Ended(); ++ms) {
        line.now = written + ms * kMs;
        if (ms % 3 == 0)
            At(ms * kMs, {1, 3, 0xFF});
        session.Tick();
    }
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].how, WriteHow::NoAnswer);
    const int64_t deadlineMs = (LineTimeNs(16) + kTurnaroundAllowanceNs) / kMs + 50 + 2;
    EXPECT_LE((line.now - written) / kMs, deadlineMs);
}

TEST_F(Timed, AnotherMasterIsToldOnceAndTheRelaysOwnTrafficNever)
{
    struct Case {
        const char* what;
        std::function<void(Session&)> line;
        int told;
    };
    const int64_t turn = LineTimeNs(8) + 3 * kMs;
    const Case cases[] = {
        {"another master's request", [](Session& t) { t.At(200 * kMs, Sealed({2, 3, 0, 16, 0, 4})); }, 1},
        {"a second reply to our answered request",
         [&](Session& t) { t.Paced(turn, kAnswer); t.At(150 * kMs, kForeign); t.At(300 * kMs, kForeign); }, 1},
        {"a reply of another slave", [&](Session& t) { t.At(200 * kMs, ReadReply(3, {1, 2})); }, 1},
        {"the relay's late answer after the time-out", [&](Session& t) { t.At(200 * kMs, kAnswer); }, 0},
        {"our own request heard back", [&](Session& t) { t.At(200 * kMs, Sealed({1, 3, 0, 50, 0, 29})); }, 0},
        {"line noise", [](Session& t) { t.At(200 * kMs, {1, 3, 0xFF, 0x55, 0xAA}); }, 0},
    };
    for (const Case& c : cases) {
        Session t;
        t.Open(true);
        t.session.AskRead({50, 29});
        t.Send();
        c.line(t);
        EXPECT_EQ(t.others, c.told) << c.what;
    }
}

}  // namespace
