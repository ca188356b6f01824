// Churn: the window's port opened and closed 200 times against the relay
// simulator while it answers, closing at different moments of an exchange,
// sometimes by destroying the window itself. Nothing may hang, and no
// descriptor or thread may be left behind.
#include <gtest/gtest.h>

#include <QDir>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

constexpr int kCycles = 200;
constexpr int kNewWindowEvery = 50;     // cycles between windows destroyed while open
constexpr int kLongestDelayMs = 90;     // a little more than one paced exchange
constexpr int kDelayStepMs = 7;         // walks the close across the exchange
constexpr int kOpenWaitMs = 10000;      // generous bounds: only a hang may fail them
constexpr int kCloseWaitMs = 10000;

int EntriesOf(const char* folder)
{
    return int(QDir(QLatin1String(folder)).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}
int DescriptorCount() { return EntriesOf("/proc/self/fd"); }
int ThreadCount() { return EntriesOf("/proc/self/task"); }

void RunEventLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// How a cycle ends.
enum class CloseMoment {
    AtOnce,          // the button twice in a row: before the first request is out
    AfterDelay,      // somewhere in the first exchange
    AfterReply,      // once page 0 shows values
    UnderTheCycle,   // the port closed directly mid-exchange, as a lost device does
};

CloseMoment MomentFor(int cycle) { return CloseMoment(cycle % 4); }

} // namespace

TEST(Churn, OpenCloseCyclesUnderTrafficLeaveNoDescriptorOrThreadBehind)
{
    // Paced and one byte at a time, so closes land in the middle of replies.
    QTemporaryDir dir;
    const std::string link = (dir.path() + QStringLiteral("/COM1")).toStdString();
    RelaySim sim({"--piece-bytes", "1", "--link", link});
    PortEnv env(1, link);
    MessageCatcher boxes;

    auto form = std::make_unique<TForm1>();
    form->show();
    auto waitOpen = [&] { return QTest::qWaitFor([&] { return form->ComPort()->Connected(); }, kOpenWaitMs); };
    auto waitClosed = [&] { return QTest::qWaitFor([&] { return !form->ComPort()->Connected(); }, kCloseWaitMs); };

    // One full cycle first, so whatever the toolkit makes once is there before counting.
    {
        WindowDriver ui{*form};
        ASSERT_TRUE(ui.Open());
        ASSERT_TRUE(ui.Close());
        form = std::make_unique<TForm1>();
        form->show();
        RunEventLoop(50);
    }
    const int descriptors = DescriptorCount();
    const int threads = ThreadCount();

    for (int cycle = 0; cycle < kCycles; ++cycle) {
        SCOPED_TRACE(cycle);
        WindowDriver ui{*form};
        ui.Click("ButtonCOM");
        ASSERT_TRUE(waitOpen());

        switch (MomentFor(cycle)) {
        case CloseMoment::AtOnce:
            break;
        case CloseMoment::AfterDelay:
            RunEventLoop(1 + (cycle * kDelayStepMs) % kLongestDelayMs);
            break;
        case CloseMoment::AfterReply:
            ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.Text("E0").isEmpty(); }, kOpenWaitMs));
            break;
        case CloseMoment::UnderTheCycle:
            RunEventLoop(1 + (cycle * kDelayStepMs) % kLongestDelayMs);
            form->CloseComPort();
            ASSERT_FALSE(form->ComPort()->Connected());
            continue;
        }

        if ((cycle + 1) % kNewWindowEvery == 0) {
            form.reset();   // the window closed with its port open and a reply on the way
            form = std::make_unique<TForm1>();
            form->show();
            continue;
        }
        ui.Click("ButtonCOM");
        ASSERT_TRUE(waitClosed());
    }
    RunEventLoop(100);   // let the last closes' queued calls run

    EXPECT_EQ(DescriptorCount(), descriptors);
    EXPECT_EQ(ThreadCount(), threads);
    EXPECT_TRUE(boxes.shown.empty()) << boxes.shown.front().text.toStdString();

    // And the window still polls.
    WindowDriver ui{*form};
    EXPECT_TRUE(ui.Open());
    EXPECT_TRUE(ui.Close());
    EXPECT_TRUE(sim.running());
}
