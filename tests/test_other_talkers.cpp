// Others on the simulator's line: another master's frames (whose registers
// hold 48879) at 0 to 40 ms after each reply, paced or delivered whole, are
// never printed or shown, and the companion says once that another master
// is there; line noise ends each command within its tries and the window
// shows the no-link notice on it.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>

#include "support/SimWindow.h"
#include "test_cli_run.h"

namespace {

const QString kMarker = QStringLiteral("48879");
constexpr int kTimeoutMs = 150, kRetries = 1;

QStringList Quick(const LoggedSim& s, const QStringList& rest)
{
    return QStringList{QStringLiteral("--port"), s.Port(), QStringLiteral("--timeout"), QString::number(kTimeoutMs),
                       QStringLiteral("--retries"), QString::number(kRetries)}
        + rest;
}
const QStringList kRecords{QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("csv")};
const QStringList kMonitor{QStringLiteral("monitor"), QStringLiteral("--seconds"), QStringLiteral("1"),
                           QStringLiteral("--interval"), QStringLiteral("0"), QStringLiteral("--format"),
                           QStringLiteral("csv")};

TEST(OtherTalkers, AnotherMastersFramesAreNeverPrinted)
{
    struct Case {
        const char* delayMs;
        bool whole;
    };
    for (const Case& c : {Case{"0", false}, Case{"5", true}, Case{"15", false}, Case{"25", true}, Case{"40", false}}) {
        std::vector<std::string> args{"--peer-after-ms", c.delayMs, "--refuse-writes", "81"};
        if (c.whole)
            args.push_back("--peer-whole");
        LoggedSim s(args, SimPace::Line);
        const std::string what = std::string(c.delayMs) + (c.whole ? " ms, whole" : " ms, paced");
        for (const QStringList& command : {kRecords, kMonitor}) {
            const CliRun run = RunCli(Quick(s, command));
            EXPECT_FALSE(run.out.contains(kMarker)) << what << run.out.toStdString();
            EXPECT_LE(run.err.count(QStringLiteral("another master")), 1) << what;
        }
        const CliRun scan = RunCli(Quick(s, {QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                             QStringLiteral("--to"), QStringLiteral("3")}));
        EXPECT_FALSE(scan.out.contains(QRegularExpression(QStringLiteral("^[23]\\b"), QRegularExpression::MultilineOption)))
            << what << scan.out.toStdString();
        // A load of SE2, which the relay refuses: never told as written.
        const QString file = s.File("se2.json");
        if (RunCli(Quick(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode != 0)
            continue;   // every reply garbled by the other master: nothing to load
        const QString edited = Replaced(file, QStringLiteral("\"register\": 81, \"value\": 600,"),
                                        QStringLiteral("\"register\": 81, \"value\": 610,"));
        const CliRun load = RunCli(Quick(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                             QStringLiteral("--yes")}));
        EXPECT_FALSE(load.out.contains(QStringLiteral("wrote SE2"))) << what << load.out.toStdString();
    }
}

TEST(OtherTalkers, TheCompanionSaysOnceThatAnotherMasterIsOnTheLine)
{
    LoggedSim s({"--unasked", "1", "--unasked-gap-ms", "3"}, SimPace::Line);
    const CliRun monitor = RunCli(Quick(s, kMonitor));
    EXPECT_EQ(monitor.exitCode, 0) << monitor.err.toStdString();
    EXPECT_EQ(monitor.err.count(QStringLiteral("zashchita-cli: another master is on the line")), 1)
        << monitor.err.toStdString();
    EXPECT_FALSE(monitor.out.contains(kMarker));
}

TEST(OtherTalkers, NoiseEndsEachCommandWithinItsTries)
{
    LoggedSim s({"--noise", "0103FF", "--noise-every-ms", "20"}, SimPace::Line);
    const QStringList scan{QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--to"),
                           QStringLiteral("2")};
    for (const QStringList& command : {kRecords, kMonitor, scan}) {
        QElapsedTimer clock;
        clock.start();
        const CliRun run = RunCli(Quick(s, command));
        // Each read ends by its deadline: a bound on the whole command, far
        // above what the tries take, that a command the noise kept open
        // would never meet.
        EXPECT_LT(clock.elapsed(), 20000) << command.join(' ').toStdString();
        EXPECT_FALSE(run.out.contains(kMarker));
    }
}

using NoisyWindow = SimWindowTest;

TEST_F(NoisyWindow, ShowsTheNoLinkNoticeOnANoisyLine)
{
    sim = std::make_unique<RelaySim>(std::vector<std::string>{"--noise", "0103FF", "--noise-every-ms", "20"});
    env = std::make_unique<PortEnv>(1, sim->path());
    form.show();
    ui.Click("ButtonCOM");
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Timer3->isActive(); }, 15000));
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());
    EXPECT_GE(form.Link().MissCount, 5);
}

TEST_F(NoisyWindow, TellsOfAnotherMasterOnTheLine)
{
    StartSim({"--unasked", "1", "--unasked-gap-ms", "3"});
    auto* notice = form.findChild<QLabel*>(QStringLiteral("LabelOtherMaster"));
    ASSERT_NE(notice, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice->isVisible(); }, 15000));
    EXPECT_TRUE(notice->text().contains(QStringLiteral("другой ведущий")));
}

}  // namespace
