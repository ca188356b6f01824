// The receive judgement against the session over a line that timestamps its
// bytes as a real line would: the test moves the line's clock.
#include <gtest/gtest.h>

#include <functional>

#include "link/RelaySession.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int64_t kMs = 1'000'000;
const int64_t kTurn = LineTimeNs(8) + 3 * kMs;   // our request on the wire, then the relay's turn

struct TimedLine : FakeLine {
    int64_t now = 0;
    bool keeps = true;
    int64_t NowNs() const override { return now; }
    bool KeepsLineTime() const override { return keeps; }
};

Bytes Sealed(Bytes f)
{
    const uint16_t crc = ModbusCrc16(f.data(), f.size());
    return f.insert(f.end(), {uint8_t(crc), uint8_t(crc >> 8)}), f;
}
const Bytes kAnswer = ReadReply(1, CurrentParamRegisters());
const Bytes kForeign = ReadReply(1, std::vector<uint16_t>(29, 0xBEEF));

// A session of 1 ms ticks, a 50 ms time-out and one try, asking over the line.
struct Timed {
    TimedLine line;
    RelaySession session{SessionOptions{1, 50, 1, false}};
    std::string outcome;   // "values", "spoilt", "no reply", "refused", "unconfirmed"
    int others = 0;
    int64_t written = 0;

    explicit Timed(bool keeps = true, bool write = false)
    {
        line.keeps = keeps;
        session.SetLine(&line);
        session.SetSlaveAddress(1);
        QObject::connect(&session, &RelaySession::blockRead,
                         [&](const RegisterValues& v) { outcome = v.values == CurrentParamRegisters() ? "values" : "other values"; });
        QObject::connect(&session, &RelaySession::readFailed, [&](const ReadFailure& f) {
            outcome = f.why == ExchangeFailure::Spoilt ? "spoilt" : f.why == ExchangeFailure::Refused ? "refused" : "no reply";
        });
        QObject::connect(&session, &RelaySession::writeEnded,
                         [&](const WriteResult& w) {
                             outcome = w.how == Outcome::NoAnswer ? "unconfirmed" : w.how == Outcome::Refused ? "refused" : "answered";
                         });
        QObject::connect(&session, &RelaySession::otherMasterSeen, [&] { ++others; });
        Send(write ? Question::Write(0x51, 5) : Question::Read({50, 29}));
    }
    void Send(Question q)
    {
        outcome.clear();
        session.Ask(std::move(q));
        for (int i = 0; i < 20 && line.written.empty(); ++i)
            Tick();
        written = line.now;
        EXPECT_EQ(line.TakeWritten().size(), 8u);
    }
    void Tick() { line.now += kMs, session.Tick(); }
    // Bytes that reach the PC `at` ns after the request was written.
    void At(int64_t at, const Bytes& bytes)
    {
        line.now = std::max(line.now, written + at);
        line.Feed(bytes);
        session.Receive(line.BytesWaiting());
    }
    // A frame as a UART hands it on: two bytes at a time, at its line time from `from`.
    void Paced(int64_t from, const Bytes& frame)
    {
        for (size_t k = 0; k < frame.size(); k += 2) {
            const size_t end = std::min(k + 2, frame.size());
            At(from + LineTimeNs(int64_t(end)), Bytes(frame.begin() + long(k), frame.begin() + long(end)));
        }
    }
    void RunOut() { for (int i = 0; i < 1000 && outcome.empty(); ++i) Tick(); }
};

TEST(LineTiming, ReadIsJudgedByTheRequestAndTheWire)
{
    struct Case { const char* what; bool keeps; std::function<void(Timed&)> line; const char* outcome; };
    const Case cases[] = {
        {"the answer paced", true, [](Timed& t) { t.Paced(kTurn, kAnswer); }, "values"},
        {"the answer whole, as a device server's segment", true, [](Timed& t) { t.At(80 * kMs, kAnswer); }, "values"},
        {"a whole frame sooner than the wire allows", true, [](Timed& t) { t.At(20 * kMs, kForeign); }, "spoilt"},
        {"a header during our request, then the answer", true,
         [](Timed& t) { t.At(3 * kMs, {1, 3, 58}); t.Paced(kTurn, kAnswer); }, "values"},
        {"a frame begun during our request", true, [](Timed& t) { t.Paced(0, kForeign); }, "spoilt"},
        {"a count above the one asked", true, [](Timed& t) { t.At(kTurn, {1, 3, 60}); }, "spoilt"},
        {"a count below the one asked", true, [](Timed& t) { t.At(kTurn, {1, 3, 2}); }, "spoilt"},
        {"another slave", true, [](Timed& t) { t.At(kTurn, {2}); }, "spoilt"},
        {"a refusal", true, [](Timed& t) { t.Paced(kTurn, Sealed({1, 0x83, 2})); }, "refused"},
        {"a refusal sooner than the wire allows", true, [](Timed& t) { t.At(9 * kMs, Sealed({1, 0x83, 2})); }, "spoilt"},
        {"silence", true, [](Timed&) {}, "no reply"},
        {"a virtual port hands the answer on at once", false, [](Timed& t) { t.At(kMs / 2, kAnswer); }, "values"},
    };
    for (const Case& c : cases) {
        Timed t(c.keeps);
        c.line(t), t.RunOut();
        EXPECT_EQ(t.outcome, c.outcome) << c.what;
    }
}

// A question's own time-out, longer than the session's, is its deadline's too.
TEST(LineTiming, AQuestionsOwnTimeOutSetsItsDeadline)
{
    Timed t;
    t.RunOut();
    Question q = Question::Read({50, 29});
    q.timeoutTicks = 250;
    t.Send(q);
    for (int ms = 0; ms < 160; ++ms)
        t.Tick();
    t.Paced(160 * kMs, kAnswer);
    t.RunOut();
    EXPECT_EQ(t.outcome, "values");
}

// A refusal is the write's final word, however soon it came: an echo-shaped
// frame behind it changes nothing, and the write is not sent again.
TEST(LineTiming, ARefusedWriteStaysRefusedWhateverFollows)
{
    for (const int64_t refusedAt : {int64_t(kTurn + LineTimeNs(5)), 9 * kMs})
        for (const int64_t gapMs : {5, 20, 40}) {
            SCOPED_TRACE(std::to_string(refusedAt / kMs) + " ms, echo " + std::to_string(gapMs) + " ms later");
            Timed t(true, true);
            t.At(refusedAt, Sealed({1, 0x86, 4}));
            t.At(refusedAt + gapMs * kMs, Sealed({1, 6, 0, 0x51, 0, 5}));
            t.RunOut();
            EXPECT_EQ(t.outcome, "refused");
            EXPECT_TRUE(t.line.TakeWritten().empty());
        }
}

// A byte that cannot belong to the answer ends a read at once (a write awaits
// its echo behind it); every shorter prefix still awaits the rest.
TEST(LineTiming, EveryPrefixOfASpoiltFrameWaitsUntilItsBadByte)
{
    const std::pair<bool, Bytes> cases[] = {
        {false, {9}}, {false, {1, 4}}, {false, {1, 3, 57}}, {false, {1, 0x86}},
        {true, {9}}, {true, {1, 3}}, {true, {1, 6, 1}}, {true, {1, 6, 0, 0x52}},
    };
    for (const auto& [write, frame] : cases) {
        Timed t(true, write);
        for (size_t k = 0; k + 1 < frame.size(); ++k)
            t.At(kTurn + LineTimeNs(int64_t(k) + 1), {frame[k]});
        EXPECT_EQ(t.outcome, "") << frame.size();
        t.At(kTurn + LineTimeNs(int64_t(frame.size())), {frame.back()});
        EXPECT_EQ(t.outcome, write ? "" : "spoilt") << frame.size();
    }
}

// Noise that never stops ends a write, which awaits its echo behind spoilt
// frames, by its deadline: the bytes do not keep the exchange open.
TEST(LineTiming, NoiseEndsAWriteByItsDeadline)
{
    Timed t(true, true);
    for (int64_t ms = 1; ms < 400 && t.outcome.empty(); ++ms) {
        if (ms % 3 == 0)
            t.At(ms * kMs, {1, 3, 0xFF});
        t.Tick();
    }
    EXPECT_EQ(t.outcome, "unconfirmed");
    EXPECT_LE((t.line.now - t.written) / kMs, (LineTimeNs(16) + kTurnaroundAllowanceNs) / kMs + 50 + 3);
}

TEST(LineTiming, AnotherMasterIsToldOnceAndTheRelaysOwnTrafficNever)
{
    const std::tuple<const char*, std::function<void(Timed&)>, int> cases[] = {
        {"another master's request", [](Timed& t) { t.At(200 * kMs, Sealed({2, 3, 0, 16, 0, 4})); }, 1},
        {"a second reply to our answered request",
         [](Timed& t) { t.Paced(kTurn, kAnswer); t.At(150 * kMs, kForeign); t.At(300 * kMs, kForeign); }, 1},
        {"a reply of another slave", [](Timed& t) { t.At(200 * kMs, ReadReply(3, {1, 2})); }, 1},
        {"the relay's answer after the time-out", [](Timed& t) { t.RunOut(), t.At(200 * kMs, kAnswer); }, 0},
        {"a reply to a lost request after a later one was answered",
         [](Timed& t) { t.RunOut(), t.Send(Question::Read({50, 29})), t.Paced(kTurn, kAnswer), t.At(150 * kMs, kForeign); }, 1},
        {"our own request heard back", [](Timed& t) { t.At(200 * kMs, Sealed({1, 3, 0, 50, 0, 29})); }, 0},
        {"line noise", [](Timed& t) { t.At(200 * kMs, {1, 3, 0xFF, 0x55, 0xAA}); }, 0},
    };
    for (const auto& [what, line, told] : cases) {
        Timed t;
        line(t);
        EXPECT_EQ(t.others, told) << what;
    }
}

}  // namespace
