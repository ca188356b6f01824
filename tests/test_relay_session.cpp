// The relay session's questions over a line in memory: each question queued
// in order and answered by its own reply, which finishes exactly once with
// the outcome its fate deserves, whatever happens to the line; asked again
// after a failed exchange and given up after its tries; every write that
// left the PC, asked or polled, told once by writeEnded.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <map>

#include "exchanges/ExchangePoller.h"
#include "link/QuestionQueue.h"
#include "link/RelaySession.h"
#include "serial/ComError.h"
#include "support/FakeLine.h"
#include "support/ModbusFrames.h"
#include "support/RelaySim.h"

namespace {

// A line in memory that can be pulled out from under a reply.
struct LosingLine : FakeLine {
    bool lost = false;
    int ReadBytes(uint8_t* bytes, int count) override
    {
        if (lost)
            throw EComPort(3, EIO);
        return FakeLine::ReadBytes(bytes, count);
    }
};

struct Harness {
    LosingLine line;
    ExchangePoller exchanges;   // the window's, for the questions between polled requests
    RelaySession session{SessionOptions{5, 30, 3, false}};
    std::vector<RegisterValues> reads;
    std::vector<ReadFailure> failures;
    std::vector<WriteResult> writes;
    std::vector<SessionReply*> replies;
    std::map<int, std::vector<Answer>> finished;   // by the order asked
    std::vector<bool> looks;
    std::vector<SentRequest> sent;

    Harness()
    {
        session.SetLine(&line);
        session.SetPolledRequests(&exchanges);
        session.SetSlaveAddress(7);
        QObject::connect(&session, &RelaySession::blockRead, [&](const RegisterValues& v) { reads.push_back(v); });
        QObject::connect(&session, &RelaySession::readFailed, [&](const ReadFailure& f) { failures.push_back(f); });
        QObject::connect(&session, &RelaySession::writeEnded, [&](const WriteResult& w) { writes.push_back(w); });
        QObject::connect(&session, &RelaySession::linkLookChanged, [&](bool present) { looks.push_back(present); });
        QObject::connect(&session, &RelaySession::requestSent, [&](const SentRequest& s) { sent.push_back(s); });
    }
    SessionReply* Ask(const Question& q, int tries = 0)
    {
        Question asked = q;
        asked.tries = tries;
        SessionReply* reply = session.Ask(asked);
        const int n = int(replies.size());
        replies.push_back(reply);
        QObject::connect(reply, &SessionReply::finished, [this, n](const Answer& a) { finished[n].push_back(a); });
        return reply;
    }
    // Ticks until a request goes out (at most `limit` ticks); returns it.
    std::vector<uint8_t> NextRequest(int limit = 40)
    {
        for (int i = 0; i < limit && line.written.empty(); ++i)
            session.Tick();
        return line.TakeWritten();
    }
    // Ticks until the exchange on the line has timed out, and no further.
    void TimeOut()
    {
        for (int i = 0; i < 100 && session.State().ReadyToSend == 0; ++i)
            session.Tick();
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
    void LoseLine()
    {
        line.lost = true;
        line.Feed({0});
        session.Receive(1);
        QCoreApplication::sendPostedEvents();   // the loss is told from the event loop
    }
};

struct Questions : ::testing::Test, Harness {};

TEST_F(Questions, ReadIsAnsweredOnceWithItsValuesAndNothingMoreIsSent)
{
    Ask(Question::Read({80, 2}));
    EXPECT_EQ(NextRequest(), RelaySim::readRequest(7, 80, 2));
    Deliver(ReadReply(7, {600, 12}), true);
    ASSERT_EQ(reads.size(), 1u);
    EXPECT_EQ(reads[0].block, (RegisterBlock{80, 2}));
    EXPECT_EQ(reads[0].At(81), 12);
    EXPECT_EQ(finished[0].at(0).values, (std::vector<uint16_t>{600, 12}));
    EXPECT_FALSE(session.Asking());
    EXPECT_TRUE(NextRequest(100).empty()) << "no question, no request";
}

// A refusal or a spoilt frame is a failed exchange like silence: the same
// question goes out again, and after the last try the failure names why.
TEST_F(Questions, ReadIsAskedAgainAfterEachFailureAndGivenUpAfterItsTries)
{
    Ask(Question::Read({80, 2}));
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

    Ask(Question::Read({80, 2}));
    for (int i = 0; i < 3; ++i)
        ASSERT_FALSE(NextRequest().empty()) << i;
    for (int i = 0; i < 40 && failures.size() < 2; ++i)
        session.Tick();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[1].why, ExchangeFailure::NoReply);
}

TEST_F(Questions, WriteEndsWithTheRelaysOwnWordOrNoAnswerAfterItsTries)
{
    Ask(Question::Write(84, 2222));
    const std::vector<uint8_t> frame = NextRequest();
    Deliver({7, 6, 0, 84, 0x04, 0x57});               // stored 1111
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].how, Outcome::Altered);
    EXPECT_EQ(writes[0].stored, 1111);

    Ask(Question::Write(84, 2222));
    EXPECT_EQ(NextRequest(), frame);
    Deliver(ReadReply(7, {1}), true);                 // not an echo: the write still awaits it
    EXPECT_EQ(writes.size(), 1u);
    EXPECT_EQ(NextRequest(), frame);
    EXPECT_EQ(NextRequest(), frame);
    for (int i = 0; i < 40 && writes.size() < 2; ++i)
        session.Tick();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1].how, Outcome::NoAnswer);
    EXPECT_EQ(writes[1].tries, 3);
    EXPECT_EQ(finished[1].at(0).outcome, Outcome::NoAnswer);
}

const std::vector<uint8_t> kEcho84{7, 6, 0, 84, 0x08, 0xAE};   // 2222 to register 84

struct Case {
    const char* name;
    std::function<void(Harness&)> drive;
    std::vector<Outcome> outcomes;   // of the questions, in the order asked
    std::vector<Outcome> writesEnded;    // writeEnded, in order
    std::function<void(Harness&)> check = [](Harness&) {};
};

TEST(SessionReplies, EachReplyFinishesOnceWithItsOutcome)
{
    using O = Outcome;
    const std::vector<Case> cases = {
        // Questions go out before the next polled request, whose polling goes
        // on after them; a question's answer is nobody's exchange (mode 0).
        {"a second question waits its turn, both before the polled request",
         [](Harness& h) {
             h.exchanges.State().PollMode = 5;
             h.Ask(Question::Read({80, 2}));
             h.Ask(Question::Write(84, 2222));
             EXPECT_EQ(h.session.PendingQuestions(), 2);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(7, 80, 2));
             h.Deliver(ReadReply(7, {600, 12}), true);
             EXPECT_EQ(h.NextRequest()[1], 6) << "the write follows, not overwritten";
             h.Deliver(kEcho84);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(7, 50, 29)) << "polling goes on";
             EXPECT_EQ(h.reads.at(0).mode, 0);
         },
         {O::Values, O::Echoed}, {Outcome::Echoed}},
        {"a question after the window's setting write carries no exchange's tags",
         [](Harness& h) {
             ExchangeState& x = h.exchanges.State();
             x.PollMode = pmWriteRegister;
             x.ExchangeContext = ecSettingWrite;
             x.WriteUstRegister = 84;
             x.WriteUstValue = 2222;
             h.NextRequest();
             h.Ask(Question::Read({80, 2}));
             h.Deliver(kEcho84);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(7, 80, 2));
             ASSERT_EQ(h.sent.size(), 2u);
             EXPECT_EQ(h.sent[0].context, ecSettingWrite);
             EXPECT_EQ(h.sent[1].mode, 0);
             EXPECT_EQ(h.sent[1].context, 0);
             h.Deliver(ReadReply(7, {600, 12}), true);
         },
         {O::Values}, {Outcome::Echoed}},
        {"closed with a write on the line and a read queued",
         [](Harness& h) {
             h.Ask(Question::Write(84, 2222));
             h.Ask(Question::Read({80, 2}));
             h.NextRequest();
             h.session.Close();
         },
         {O::Unconfirmed, O::Aborted}, {Outcome::Unconfirmed}},
        {"line lost with a write on the line",
         [](Harness& h) {
             h.Ask(Question::Write(84, 2222, 9));
             h.NextRequest();
             h.LoseLine();
         },
         {O::Unconfirmed}, {Outcome::Unconfirmed}, [](Harness& h) { EXPECT_EQ(h.writes[0].address, 9); }},
        {"line lost with a read on the line and a write queued; asked after the loss",
         [](Harness& h) {
             h.Ask(Question::Read({80, 2}));
             h.Ask(Question::Write(84, 2222));
             h.NextRequest();
             h.LoseLine();
             h.Ask(Question::Read({80, 2}));
             EXPECT_EQ(h.finished.size(), 2u) << "not before the asker has its reply";
         },
         {O::Aborted, O::Aborted, O::Aborted}, {}},
        // A question given up is over: its reply coming late, just before the
        // next question goes out, is not taken for the next one's answer (nor
        // for a polled exchange's). A question's answer is decoded by no exchange.
        {"a late answer to a question given up is nobody's",
         [](Harness& h) {
             h.exchanges.State().PollMode = 5;   // the window's current parameters stand behind the questions
             h.Ask(Question::Read({80, 1}, 9), 1);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(9, 80, 1));
             h.TimeOut();
             h.Ask(Question::Read({80, 1}, 10), 1);
             h.Deliver(ReadReply(9, {9}), true);   // address 9, late
             EXPECT_TRUE(h.reads.empty());
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(10, 80, 1));
             h.Deliver(ReadReply(10, {10}), true);
         },
         {O::NoAnswer, O::Values}, {},
         [](Harness& h) {
             ASSERT_EQ(h.reads.size(), 1u);
             EXPECT_EQ(h.reads[0].values, std::vector<uint16_t>{10});
             EXPECT_EQ(h.reads[0].mode, 0) << "no exchange decodes a question's answer";
         }},
        // An address probed in vain is no miss of the link: a search through
        // empty addresses leaves the link's look as the polled exchanges made
        // it; without the probe mark the same silence is five misses.
        {"probes unanswered count no miss, plain questions do",
         [](Harness& h) {
             for (int address = 1; address <= 13; ++address) {
                 Question q = Question::Read({80, 1}, address);
                 q.probe = address <= 8;
                 h.Ask(q, 1);
                 ASSERT_FALSE(h.NextRequest().empty());
                 h.TimeOut();
                 if (address == 8) {
                     EXPECT_EQ(h.session.State().MissCount, 0);
                     EXPECT_EQ(std::count(h.looks.begin(), h.looks.end(), false), 0);
                 }
             }
         },
         std::vector<O>(13, O::NoAnswer), {},
         [](Harness& h) {
             EXPECT_EQ(h.session.State().MissCount, 5);
             ASSERT_FALSE(h.looks.empty());
             EXPECT_FALSE(h.looks.back());
         }},
        {"abandoned: a queued write is not sent, one on the line is unconfirmed and its echo noise",
         [](Harness& h) {
             h.Ask(Question::Write(84, 2222));
             h.Ask(Question::Write(84, 1111))->abandon();
             h.NextRequest();
             h.replies[0]->abandon();
             h.Deliver(kEcho84);
             EXPECT_TRUE(h.NextRequest(100).empty());
         },
         {O::Unconfirmed, O::NotSent}, {Outcome::Unconfirmed}},
        {"asked on a closed line: aborted from the event loop",
         [](Harness& h) {
             h.line.open = false;
             h.Ask(Question::Write(84, 2222));
             EXPECT_TRUE(h.finished.empty()) << "not before the asker has its reply";
         },
         {O::Aborted}, {}},
        {"the window's write, switched away from unanswered, then its successor closed",
         [](Harness& h) {
             ExchangeState& s = h.exchanges.State();
             s.PollMode = pmWriteRegister;
             s.ExchangeContext = ecSettingWrite;
             s.WriteUstRegister = 84;
             s.WriteUstValue = 2222;
             h.NextRequest();
             h.TimeOut();
             h.NextRequest();   // the same write again: still one write
             h.TimeOut();
             s.WriteUstValue = 3333;
             h.NextRequest();   // another write in its place
             QCoreApplication::sendPostedEvents();
             h.session.Close();
         },
         {}, {Outcome::Unconfirmed, Outcome::Unconfirmed},
         [](Harness& h) {
             EXPECT_EQ(h.writes[0].value, 2222);
             EXPECT_EQ(h.writes[0].tries, 2);
             EXPECT_EQ(h.writes[1].value, 3333);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.drive(h);
        QCoreApplication::sendPostedEvents();
        ASSERT_EQ(h.replies.size(), c.outcomes.size());
        for (size_t i = 0; i < c.outcomes.size(); ++i) {
            ASSERT_EQ(h.finished[int(i)].size(), 1u) << "reply " << i;
            EXPECT_STREQ(OutcomeName(h.finished[int(i)][0].outcome), OutcomeName(c.outcomes[i])) << "reply " << i;
        }
        std::vector<Outcome> hows;
        for (const WriteResult& w : h.writes)
            hows.push_back(w.how);
        EXPECT_EQ(hows, c.writesEnded);
        EXPECT_EQ(h.session.PendingQuestions(), 0);
        c.check(h);
    }
}

// A reply its asker took over outlives its session (it ends aborted as the
// session goes), or its queue (given up then, it was not sent): once either way.
TEST(SessionReplies, AReplyOutlivingItsSessionEndsOnce)
{
    for (const bool viaSession : {true, false}) {
        auto* session = new RelaySession(SessionOptions{5, 30, 1, false});
        auto* queue = new QuestionQueue;
        QPointer<SessionReply> reply = viaSession ? session->Ask(Question::Write(84, 1)) : queue->Add(Question::Write(84, 1));
        reply->setParent(nullptr);
        std::vector<Outcome> ends;
        QObject::connect(reply, &SessionReply::finished, [&](const Answer& a) { ends.push_back(a.outcome); });
        delete session, delete queue;
        if (!reply->isFinished())
            reply->abandon();
        QCoreApplication::sendPostedEvents();
        EXPECT_EQ(ends, std::vector<Outcome>{viaSession ? Outcome::Aborted : Outcome::NotSent}) << viaSession;
        delete reply.data();
    }
}

}  // namespace
