// The window across losing and regaining its relay, driven through its
// controls: pages emptied without a link fill again when the relay answers,
// masks follow the relay after a reset and an Ok with nothing to write says
// so, a second clock click survives the refusal of the field in flight, a
// long burst of garbage is one miss, and a reopened port starts afresh.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "support/FakeLine.h"
#include "support/ModbusFrames.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"
#include "app/SpinEdit.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Sealed(Bytes frame)
{
    const uint16_t crc = ModbusCrc16(frame.data(), frame.size());
    frame.push_back(uint8_t(crc));
    frame.push_back(uint8_t(crc >> 8));
    return frame;
}

// The window polling over a line in memory: the test is the relay.
struct LineInMemory : ::testing::Test {
    MessageCatcher boxes;
    TForm1 form;
    WindowDriver ui{form};
    FakeLine line;

    void SetUp() override
    {
        form.show();
        form.SetLine(&line);
        form.Session().SetSlaveAddress(1);
        form.Exchanges().PollMode = 5;
    }
    // Ticks until a request goes out (at most `limit` ticks) and takes it.
    Bytes Request(int limit = 40)
    {
        for (int i = 0; i < limit && line.written.empty(); ++i)
            form.TimerTimer();
        return line.TakeWritten();
    }
    void Deliver(const Bytes& bytes)
    {
        line.Feed(bytes);
        form.Receive(nullptr, line.BytesWaiting());
    }
    // Answers the request that goes out next: a read with `values` (each
    // register its own number unless given), a write with its echo.
    Bytes Answer(const std::map<int, uint16_t>& values = {})
    {
        const Bytes request = Request();
        if (request.size() != 8)
            return request;
        if (request[1] == 6) {
            Deliver(request);
            return request;
        }
        const int first = request[3], count = request[5];
        std::vector<uint16_t> regs;
        for (int r = first; r < first + count; ++r)
            regs.push_back(values.count(r) ? values.at(r) : uint16_t(r));
        Deliver(ReadReply(1, regs));
        return request;
    }
    // Requests go unanswered until the no-link look shows.
    void LoseTheLink()
    {
        while (!form.Link().LinkLost())
            form.TimerTimer();
        form.TimerTimer();   // the look follows on the next tick
        line.TakeWritten();
    }
    void ShowPage(int index)
    {
        ui.SelectPage(index);
        form.Timer2Timer();   // its content shows at once, not 250 ms later
    }
    QString Text(const char* name) { return ui.Text(name); }
};

TEST_F(LineInMemory, PageEmptiedWithoutALinkFillsAgainWhenTheRelayAnswers)
{
    Answer();
    form.TimerTimer();
    LoseTheLink();
    ShowPage(1);
    auto* se2 = form.ControlAs<TSpinEdit>(QStringLiteral("SE2"));
    EXPECT_EQ(se2->Value(), 0) << "emptied while there is no link";

    // The relay answers again: the page asks for its own read, unasked.
    Answer();
    Answer();
    EXPECT_EQ(Answer({{81, 650}}), RelaySim::readRequest(1, 80, 44));
    EXPECT_EQ(se2->Value(), 650);
}

TEST_F(LineInMemory, MasksFollowTheRelayAfterAResetAndAnOkWithNothingToWriteSaysSo)
{
    Answer();
    ShowPage(7);
    Answer();
    EXPECT_EQ(Answer({{96, 0x0005}}), RelaySim::readRequest(1, 96, 12));
    EXPECT_EQ(Text("EditMask1"), QStringLiteral("00000000 00000101"));
    auto* box = form.ControlAs<QCheckBox>(QStringLiteral("M1CB2"));
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    EXPECT_TRUE(ui.Button("ButtonM1")->isVisible());

    // Entered again without a link, the page is emptied and every mask
    // follows the relay: no Ok, and the next read fills them.
    LoseTheLink();
    ShowPage(0);
    ShowPage(7);
    EXPECT_TRUE(Text("EditMask1").isEmpty());
    EXPECT_FALSE(ui.Button("ButtonM1")->isVisible());
    Answer({{96, 0x0007}});
    EXPECT_EQ(Text("EditMask1"), QStringLiteral("00000000 00000111"));

    // A box clicked while a mask shows nothing: its Ok writes nothing and says so.
    LoseTheLink();
    ShowPage(0);
    ShowPage(7);
    QTest::mouseClick(box, Qt::LeftButton, {}, QPoint(5, box->height() / 2));
    ui.Click("ButtonM1");
    EXPECT_EQ(form.Exchanges().WriteMaskRequest, 0);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Маска не записана"));
}

// A click while the clock is being written starts the write again; a
// refusal of the field that was on its way then ends only the old sequence.
TEST_F(LineInMemory, SecondClockClickSurvivesTheRefusalOfTheFieldInFlight)
{
    form.SetNow([] { return QDateTime(QDate(2026, 3, 3), QTime(14, 5, 9)); });
    Answer();
    form.TimerTimer();
    ui.Click("ButtonSys");
    Answer();
    const Bytes month = Request();
    ASSERT_EQ(month, RelaySim::writeRequest(1, 67, 3));
    ui.Click("ButtonSys");
    Deliver(Sealed({1, 0x86, 4}));
    std::vector<Bytes> writes;
    for (int i = 0; i < 5; ++i)
        writes.push_back(Answer());
    EXPECT_EQ(writes, (std::vector<Bytes>{RelaySim::writeRequest(1, 67, 3), RelaySim::writeRequest(1, 68, 3),
                                          RelaySim::writeRequest(1, 69, 14), RelaySim::writeRequest(1, 70, 5),
                                          RelaySim::writeRequest(1, 71, 9)}));
    EXPECT_EQ(Request(), RelaySim::readRequest(1, 50, 29));
}

// However it is cut up on its way, a long burst of garbage in answer to one
// request is one failed exchange: one miss, not one per piece.
TEST_F(LineInMemory, LongBurstOfGarbageIsOneMiss)
{
    Answer();
    for (int burst = 1; burst <= 2; ++burst) {
        ASSERT_FALSE(Request().empty());
        Bytes garbage;
        for (int i = 0; i < 200; ++i)
            garbage.push_back(uint8_t(i * 37 + burst));
        for (size_t at = 0; at < garbage.size(); at += 40)
            Deliver(Bytes(garbage.begin() + long(at), garbage.begin() + long(at + 40)));
        EXPECT_EQ(form.Link().MissCount, burst);
    }
    form.TimerTimer();
    EXPECT_FALSE(form.Timer3()->isActive()) << "two failed exchanges are no lost link";
}

// A reopened port starts with the current parameters, whatever ran before
// the close, and never sends a write left unanswered before it.
struct Reopen : SimWindowTest {
    std::vector<Frame> Logged(const QString& path) { return LoggedFrames(path); }
    bool WaitForFrames(const QString& path, size_t count)
    {
        return QTest::qWaitFor([&] { return Logged(path).size() >= count; }, 10000);
    }
};

TEST_F(Reopen, FirstRequestReadsTheCurrentParametersWhateverRanBefore)
{
    StartSim({"--no-pace", "--log", logPath.toStdString()});
    ui.SelectPage(7);
    const Frame masks = RelaySim::readRequest(1, 96, 12);
    ASSERT_TRUE(QTest::qWaitFor([&] { return Logged(logPath).back() == masks; }, 10000));
    ASSERT_TRUE(ui.Close());
    const size_t before = Logged(logPath).size();
    ASSERT_TRUE(ui.Open());
    ASSERT_GT(Logged(logPath).size(), before);
    EXPECT_EQ(Logged(logPath)[before], RelaySim::readRequest(1, 50, 29));
}

TEST_F(Reopen, WriteLeftUnansweredIsNotSentAfterTheReopen)
{
    StartSim({"--no-pace", "--no-echo", "--log", logPath.toStdString()});
    ui.SelectPage(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Control(QStringLiteral("Panel2"))->isVisible(); }, 5000));
    auto* se5 = form.ControlAs<TSpinEdit>(QStringLiteral("SE5"));
    se5->setFocus();
    se5->selectAll();
    QTest::keyClicks(se5, QStringLiteral("2222"));
    QTest::keyClick(se5, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !Writes(Logged(logPath)).empty(); }, 10000));
    ASSERT_TRUE(ui.Close());

    RelaySim answering({"--no-pace", "--log", dir.filePath(QStringLiteral("second.log")).toStdString()});
    PortEnv second(1, answering.path());
    ASSERT_TRUE(ui.Open());
    const QString secondLog = dir.filePath(QStringLiteral("second.log"));
    ASSERT_TRUE(WaitForFrames(secondLog, 20));
    EXPECT_TRUE(Writes(Logged(secondLog)).empty());
    ASSERT_TRUE(ui.Close());
}

}  // namespace
