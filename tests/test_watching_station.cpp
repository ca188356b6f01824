// A watching station's line cut and restored, over a pty (the simulator
// killed and started again on its link) and a device server (stopped and
// started again on its TCP port): growing pauses in the status bar, polling
// again by itself, and a user's close that stops the tries.
#include <gtest/gtest.h>

#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include "app/LineReopener.h"
#include "support/SimLog.h"
#include "support/WindowDriver.h"

namespace {

TEST(ReopenPause, DoublesFromOneSecondUpToThirtySeconds)
{
    const int seconds[] = {1, 2, 4, 8, 16, 30, 30, 30};
    for (int attempt = 0; attempt < 8; ++attempt)
        EXPECT_EQ(LineReopener::PauseMs(attempt), seconds[attempt] * 1000) << "try " << attempt;
    EXPECT_EQ(LineReopener::PauseMs(1000), 30000);
}

class WatchingStation : public ::testing::TestWithParam<bool> {};   // true: a device server over TCP

TEST_P(WatchingStation, LineCutAndRestoredPollsAgainByItselfAndCloseStopsTheTries)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    std::vector<std::string> args{"--no-pace", "--log", log.toStdString(), GetParam() ? "--tcp" : "--link",
                                  GetParam() ? "0" : dir.filePath(QStringLiteral("COM1")).toStdString()};
    auto sim = std::make_unique<RelaySim>(args);
    if (GetParam())
        args.back() = std::to_string(sim->port());   // started again on the same port
    PortEnv env(1, GetParam() ? sim->endpoint() : args.back());
    MessageCatcher boxes;
    TForm1 form;
    WindowDriver ui{form};
    form.SetReadOnly(true);
    form.show();
    ASSERT_TRUE(ui.Open());
    auto* status = form.findChild<QStatusBar*>(QStringLiteral("StatusBar"));
    auto* tries = form.findChild<QTimer*>(QStringLiteral("ReopenTimer"));
    auto says = [&](int seconds) {
        const QString text = QStringLiteral("Порт потерян, повторное открытие через %1 с").arg(seconds);
        return QTest::qWaitFor([&] { return status->currentMessage() == text; }, 10000);
    };

    sim->stop();
    ASSERT_TRUE(says(1));
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Закрыть"));
    ASSERT_TRUE(says(2));
    ASSERT_TRUE(says(4));
    QFile::remove(log);
    sim = std::make_unique<RelaySim>(args);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.Text("E0").isEmpty(); }, 35000)) << "polling again by itself";
    EXPECT_FALSE(LoggedFrames(log).empty());
    EXPECT_TRUE(ui.Lit());
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Порт открыт снова, опрос продолжается"));

    sim->stop();
    ASSERT_TRUE(says(1)) << "the relay had answered: the pauses begin again";
    ui.Click("ButtonCOM");
    EXPECT_FALSE(tries->isActive()) << "closed by the user: no more tries";
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_TRUE(boxes.shown.empty()) << "nobody is there to answer a box";
}

INSTANTIATE_TEST_SUITE_P(Lines, WatchingStation, ::testing::Values(false, true));

}  // namespace
