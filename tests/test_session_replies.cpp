// Each question's reply finishes exactly once with the outcome its fate
// deserves, whatever happens to the line, and every write that left the PC,
// asked or polled, is told once by writeEnded.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QPointer>

#include <cerrno>
#include <functional>
#include <map>

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
    RelaySession session{SessionOptions{5, 30, 3, false}};
    std::vector<QPointer<SessionReply>> replies;
    std::map<int, std::vector<Answer>> finished;   // by the order asked
    std::vector<WriteResult> writes;

    Harness()
    {
        session.SetLine(&line);
        session.State().SlaveAddress = 7;
        session.State().ReadyToSend = 1;
        QObject::connect(&session, &RelaySession::writeEnded, [this](const WriteResult& w) { writes.push_back(w); });
    }
    SessionReply* Ask(const Question& q)
    {
        SessionReply* reply = session.Ask(q);
        const int n = int(replies.size());
        replies.push_back(reply);
        QObject::connect(reply, &SessionReply::finished, [this, n](const Answer& a) { finished[n].push_back(a); });
        return reply;
    }
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

const std::vector<uint8_t> kEcho84{7, 6, 0, 84, 0x08, 0xAE};   // 2222 to register 84

struct Case {
    const char* name;
    std::function<void(Harness&)> drive;
    std::vector<ReplyOutcome> outcomes;   // of the questions, in the order asked
    std::vector<WriteHow> writesEnded;    // writeEnded, in order
    std::function<void(Harness&)> check = nullptr;
};

TEST(SessionReplies, EachReplyFinishesOnceWithItsOutcome)
{
    const std::vector<Case> cases = {
        {"a second question waits its turn",
         [](Harness& h) {
             h.Ask(Question::Read({80, 2}));
             h.Ask(Question::Write(84, 2222));
             EXPECT_EQ(h.session.PendingQuestions(), 2);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(7, 80, 2));
             h.Deliver(ReadReply(7, {600, 12}), true);
             EXPECT_EQ(h.NextRequest()[1], 6) << "the write follows, not overwritten";
             h.Deliver(kEcho84);
         },
         {ReplyOutcome::Values, ReplyOutcome::Echoed},
         {WriteHow::Echoed},
         [](Harness& h) { EXPECT_EQ(h.finished[0][0].values, (std::vector<uint16_t>{600, 12})); }},
        {"closed with a write on the line and a read queued",
         [](Harness& h) {
             h.Ask(Question::Write(84, 2222));
             h.Ask(Question::Read({80, 2}));
             h.NextRequest();
             h.session.Close();
         },
         {ReplyOutcome::Unconfirmed, ReplyOutcome::Aborted},
         {WriteHow::Unconfirmed}},
        {"line lost with a write on the line",
         [](Harness& h) {
             h.Ask(Question::Write(84, 2222, 9));
             h.NextRequest();
             h.LoseLine();
         },
         {ReplyOutcome::Unconfirmed},
         {WriteHow::Unconfirmed},
         [](Harness& h) { EXPECT_EQ(h.writes[0].address, 9); }},
        {"line lost with a read on the line and a write queued",
         [](Harness& h) {
             h.Ask(Question::Read({80, 2}));
             h.Ask(Question::Write(84, 2222));
             h.NextRequest();
             h.LoseLine();
             h.Ask(Question::Read({80, 2}));
             QCoreApplication::sendPostedEvents();
         },
         {ReplyOutcome::Aborted, ReplyOutcome::Aborted, ReplyOutcome::Aborted},
         {}},
        {"a write unanswered after its tries",
         [](Harness& h) {
             Question q = Question::Write(84, 2222);
             q.tries = 2;
             h.Ask(q);
             h.NextRequest();
             h.TimeOut();
             h.NextRequest();
             h.TimeOut();
         },
         {ReplyOutcome::Unconfirmed},
         {WriteHow::NoAnswer},
         [](Harness& h) { EXPECT_EQ(h.finished[0][0].tries, 2); }},
        {"a late answer to a question given up is not the next one's",
         [](Harness& h) {
             Question q = Question::Read({80, 1}, 9);
             q.tries = 1;
             h.Ask(q);
             h.NextRequest();
             h.TimeOut();
             q.address = 10;
             h.Ask(q);
             h.Deliver(ReadReply(9, {9}), true);
             EXPECT_EQ(h.NextRequest(), RelaySim::readRequest(10, 80, 1));
             h.Deliver(ReadReply(10, {10}), true);
         },
         {ReplyOutcome::ReadFailed, ReplyOutcome::Values},
         {},
         [](Harness& h) { EXPECT_EQ(h.finished[1][0].values, std::vector<uint16_t>{10}); }},
        {"a probe unanswered is no miss; a refusing address is an answer",
         [](Harness& h) {
             Question q = Question::Read({80, 1}, 3);
             q.tries = 1;
             q.probe = true;
             h.Ask(q);
             h.NextRequest();
             h.TimeOut();
             q.address = 4;
             h.Ask(q);
             h.NextRequest();
             h.Deliver({4, 0x83, 2});
         },
         {ReplyOutcome::ReadFailed, ReplyOutcome::ReadFailed},
         {},
         [](Harness& h) {
             EXPECT_EQ(h.session.State().MissCount, 0);
             EXPECT_EQ(h.finished[0][0].why, ExchangeFailure::NoReply);
             EXPECT_EQ(h.finished[1][0].why, ExchangeFailure::Refused);
             EXPECT_EQ(h.finished[1][0].exceptionCode, 2);
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
         {ReplyOutcome::Unconfirmed, ReplyOutcome::NotSent},
         {WriteHow::Unconfirmed}},
        {"asked on a closed line: aborted from the event loop",
         [](Harness& h) {
             h.line.open = false;
             h.Ask(Question::Write(84, 2222));
             EXPECT_TRUE(h.finished.empty()) << "not before the asker has its reply";
             QCoreApplication::sendPostedEvents();
         },
         {ReplyOutcome::Aborted},
         {}},
        {"the window's write, switched away from unanswered, then its successor closed",
         [](Harness& h) {
             LinkState& s = h.session.State();
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
         {},
         {WriteHow::Unconfirmed, WriteHow::Unconfirmed},
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
        std::vector<WriteHow> hows;
        for (const WriteResult& w : h.writes)
            hows.push_back(w.how);
        EXPECT_EQ(hows, c.writesEnded);
        EXPECT_EQ(h.session.PendingQuestions(), 0);
        if (c.check)
            c.check(h);
    }
}

}  // namespace
