// The relay session asked one question at a time over a line in memory, as
// the companion uses it: each question answered by a typed result, asked
// again after a failed exchange and given up after its tries.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/RelaySession.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"
#include "support/RelaySim.h"

namespace {

struct Questions : ::testing::Test {
    FakeLine line;
    RelaySession session{SessionOptions{5, 30, 3, false}};
    std::vector<RegisterValues> reads;
    std::vector<ReadFailure> failures;
    std::vector<WriteResult> writes;

    void SetUp() override
    {
        session.SetLine(&line);
        session.State().SlaveAddress = 7;
        session.State().ReadyToSend = 1;
        QObject::connect(&session, &RelaySession::blockRead, [&](const RegisterValues& v) { reads.push_back(v); });
        QObject::connect(&session, &RelaySession::readFailed, [&](const ReadFailure& f) { failures.push_back(f); });
        QObject::connect(&session, &RelaySession::writeEnded, [&](const WriteResult& w) { writes.push_back(w); });
    }
    // Ticks until a request goes out (at most `limit` ticks); returns it.
    std::vector<uint8_t> NextRequest(int limit = 40)
    {
        for (int i = 0; i < limit && line.written.empty(); ++i)
            session.Tick();
        return line.TakeWritten();
    }
    void Deliver(std::vector<uint8_t> frame, bool sealed = false)
    {
        if (!sealed) {
            const uint16_t crc = ModbusCrc16(frame.data(), frame.size());
            frame.push_back(uint8_t(crc));
            frame.push_back(uint8_t(crc >> 8));
        }
        line.Feed(frame);
        session.Receive(line.BytesWaiting());
    }
};

TEST_F(Questions, ReadIsAnsweredOnceWithItsValuesAndNothingMoreIsSent)
{
    session.AskRead({80, 2});
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(7, 80, 2));
    Deliver(ReadReply(7, {600, 12}), true);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].block, (RegisterBlock{80, 2}));
    EXPECT_EQ(reads[0].At(81), 12);
    EXPECT_FALSE(session.Asking());
    EXPECT_TRUE(NextRequest(100).empty()) << "no question, no request";
}

// A refusal or a spoilt frame is a failed exchange like silence: the same
// question goes out again, and after the last try the failure names why.
TEST_F(Questions, ReadIsAskedAgainAfterEachFailureAndGivenUpAfterItsTries)
{
    session.AskRead({80, 2});
    ASSERT_FALSE(NextRequest().empty());
    Deliver({7, 0x83, 2});                            // refused
    ASSERT_FALSE(NextRequest().empty());
    auto spoilt = ReadReply(7, {1, 2});
    spoilt[4] ^= 1;
    Deliver(spoilt, true);
    ASSERT_FALSE(NextRequest().empty());
    Deliver({7, 0x83, 2});
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].why, ExchangeFailure::Refused);
    EXPECT_EQ(failures[0].exceptionCode, 2);
    EXPECT_TRUE(failures[0].spoiltSeen);
    EXPECT_EQ(failures[0].tries, 3);
    EXPECT_TRUE(reads.empty());

    session.AskRead({80, 2});
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(NextRequest().empty()) << i;
    for (int i = 0; i < 40 && failures.size() < 2; ++i)
        session.Tick();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[1].why, ExchangeFailure::NoReply);
}

TEST_F(Questions, WriteEndsWithTheRelaysOwnWordOrNoAnswerAfterItsTries)
{
    session.AskWrite(84, 2222);
    const std::vector<uint8_t> frame = NextRequest();
    Deliver({7, 6, 0, 84, 0x04, 0x57});               // stored 1111
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].how, WriteHow::Altered);
    EXPECT_EQ(writes[0].stored, 1111);

    session.AskWrite(84, 2222);
    EXPECT_EQ(NextRequest(), frame);
    Deliver(ReadReply(7, {1}), true);                 // not an echo: the write still awaits it
    EXPECT_EQ(writes.size(), 1u);
    EXPECT_EQ(NextRequest(), frame);
    EXPECT_EQ(NextRequest(), frame);
    for (int i = 0; i < 40 && writes.size() < 2; ++i)
        session.Tick();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].how, WriteHow::NoAnswer);
    EXPECT_EQ(writes[1].tries, 3);
}

// A question given up is over: its reply coming late, just before the next
// question goes out, is not taken for the next one's answer (nor for a polled
// exchange's). A question's answer is decoded by no exchange.
TEST_F(Questions, LateReplyToAQuestionGivenUpIsNobodysAnswer)
{
    session.State().PollMode = 5;   // the window's current parameters stand behind the questions
    AskOptions once;
    once.tries = 1;
    once.address = 9;
    session.AskRead({80, 1}, once);
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(9, 80, 1));
    for (int i = 0; i < 40 && failures.empty(); ++i)
        session.Tick();
    ASSERT_EQ(failures.size(), 1u);
    once.address = 10;
    session.AskRead({80, 1}, once);
    Deliver(ReadReply(9, {9}), true);                 // address 9, late
    EXPECT_TRUE(reads.empty());
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(10, 80, 1));
    Deliver(ReadReply(10, {10}), true);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].values, std::vector<uint16_t>{10});
    EXPECT_EQ(reads[0].mode, 0) << "no exchange decodes a question's answer";
}

// An address probed in vain is no miss of the link: a search through empty
// addresses leaves the link's look as the polled exchanges made it.
TEST_F(Questions, ProbesLeftUnansweredCountNoMiss)
{
    std::vector<bool> looks;
    QObject::connect(&session, &RelaySession::linkLookChanged, [&](bool present) { looks.push_back(present); });
    AskOptions probe;
    probe.tries = 1;
    probe.probe = true;
    for (int address = 1; address <= 8; ++address) {
        probe.address = address;
        session.AskRead({80, 1}, probe);
        ASSERT_FALSE(NextRequest().empty());
        for (int i = 0; i < 40 && session.Asking(); ++i)
            session.Tick();
    }
    EXPECT_EQ(failures.size(), 8u);
    EXPECT_EQ(session.State().MissCount, 0);
    EXPECT_EQ(std::count(looks.begin(), looks.end(), false), 0);

    // Without the probe mark the same silence is five misses: the no-link look.
    AskOptions plain;
    plain.tries = 1;
    for (int n = 0; n < 5; ++n) {
        session.AskRead({80, 1}, plain);
        ASSERT_FALSE(NextRequest().empty());
        for (int i = 0; i < 40 && session.Asking(); ++i)
            session.Tick();
    }
    EXPECT_EQ(session.State().MissCount, 5);
    ASSERT_FALSE(looks.empty());
    EXPECT_FALSE(looks.back());
}

}  // namespace

namespace {

// A question asked while the session polls goes out before the next polled
// request; its answer is nobody's exchange (mode 0), and once a question is
// given up or abandoned, a late answer to it is noise.
TEST_F(Questions, QuestionsBetweenPolledExchangesAndLateAnswers)
{
    session.State().PollMode = 5;
    session.AskRead({80, 2});
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(7, 80, 2));
    Deliver(ReadReply(7, {1, 2}), true);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].mode, 0);
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(7, 50, 29)) << "polling goes on";

    session.State().PollMode = 0;
    session.AskRead({80, 1}, AskOptions{1, 0, 0});
    ASSERT_FALSE(NextRequest().empty());
    for (int i = 0; i < 40 && failures.empty(); ++i)
        session.Tick();
    ASSERT_EQ(failures.size(), 1u);
    Deliver(ReadReply(7, {9}), true);
    EXPECT_EQ(reads.size(), 1u) << "a late answer to a question given up";

    SessionReply* dropped = session.AskRead({80, 1});
    ASSERT_FALSE(NextRequest().empty());
    dropped->abandon();
    Deliver(ReadReply(7, {9}), true);
    EXPECT_EQ(reads.size(), 1u);
    EXPECT_TRUE(NextRequest(100).empty());
}

}  // namespace
