// Others on the simulator's line: another master's frames (48879 in every
// register) and line noise, against the companion and the window.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QLabel>

#include "app/SpinEdit.h"
#include "history/TrendRecorder.h"
#include "support/SimWindow.h"
#include "test_cli_run.h"

namespace {

const QString kMarker = QStringLiteral("48879");

CliRun Quick(const LoggedSim& s, const QString& words, const char* timeoutMs = "150")
{
    return RunCli(QStringList{QStringLiteral("--port"), s.Port(), QStringLiteral("--timeout"), QLatin1String(timeoutMs),
                              QStringLiteral("--retries"), QStringLiteral("1")}
                  + words.split(QLatin1Char(' ')));
}
const QString kMonitor = QStringLiteral("monitor --seconds 1 --interval 0 --format csv");
const QStringList kCommands{QStringLiteral("records --format csv"), kMonitor, QStringLiteral("scan --from 1 --to 3")};

TEST(OtherTalkers, AnotherMastersFramesAreNeverPrinted)
{
    for (const auto& [delay, whole] : {std::pair{"0", false}, {"5", true}, {"15", false}, {"25", true}, {"40", false}}) {
        std::vector<std::string> args{"--peer-after-ms", delay, "--refuse-writes", "81"};
        if (whole)
            args.push_back("--peer-whole");
        LoggedSim s(args, SimPace::Line);
        for (const QString& command : kCommands) {
            const CliRun run = Quick(s, command);
            EXPECT_FALSE(run.out.contains(kMarker)) << delay << run.out.toStdString();
            if (command.startsWith(QLatin1String("scan"))) {   // only the relay at 1 answers
                EXPECT_FALSE(run.out.contains(QRegularExpression(QStringLiteral("^[23]\\b"), QRegularExpression::MultilineOption)));
            }
        }
        // A load of SE2, which the relay refuses, is never told as written.
        const QString file = s.File("se2.json");
        if (Quick(s, QStringLiteral("settings save ") + file).exitCode == 0) {
            const QString edited = Replaced(file, QStringLiteral("\"register\": 81, \"value\": 600,"),
                                            QStringLiteral("\"register\": 81, \"value\": 610,"));
            EXPECT_FALSE(Quick(s, QStringLiteral("settings load %1 --yes").arg(edited)).out.contains(QStringLiteral("wrote SE2")));
        }
    }
}

TEST(OtherTalkers, TheCompanionSaysOnceThatAnotherMasterIsOnTheLine)
{
    LoggedSim s({"--unasked", "1", "--unasked-gap-ms", "3"}, SimPace::Line);
    const CliRun monitor = Quick(s, kMonitor);
    EXPECT_EQ(monitor.err.count(QStringLiteral("zashchita-cli: another master is on the line")), 1) << monitor.err.toStdString();
    // Rows read after its first frame are marked; records read beside it are not printed.
    const QStringList rows = monitor.OutLines();
    ASSERT_GE(rows.size(), 4);
    EXPECT_TRUE(CsvFields(rows.last()).last() == QStringLiteral("1")) << rows.last().toStdString();
    const CliRun records = Quick(s, QStringLiteral("records"));
    EXPECT_EQ(records.exitCode, 1);
    EXPECT_TRUE(records.out.isEmpty()) << records.out.toStdString();
    EXPECT_TRUE(records.err.contains(QStringLiteral("while another master was on the line"))) << records.err.toStdString();
}

TEST(OtherTalkers, NoiseEndsEachCommandWithinItsTries)
{
    LoggedSim s({"--noise", "0103FF", "--noise-every-ms", "20"}, SimPace::Line);
    for (const QString& command : kCommands) {
        QElapsedTimer clock;
        clock.start();
        Quick(s, command);
        // A bound far above what the tries take, that a command the noise kept open would never meet.
        EXPECT_LT(clock.elapsed(), 20000) << command.toStdString();
    }
}

// A flood of random bytes, on a pty and over TCP: each command still ends by
// its deadlines (time-out × tries, the monitor's seconds) and says no reply came.
TEST(OtherTalkers, AFloodEndsEachCommandByItsDeadline)
{
    const std::tuple<std::vector<std::string>, QString, qint64> cases[] = {
        {{"--flood"}, QStringLiteral("records"), 2 * 300},
        {{"--flood", "--tcp", "0"}, QStringLiteral("records"), 2 * 300},
        {{"--flood", "--tcp", "0"}, QStringLiteral("monitor --interval 0 --seconds 8"), 8000},
    };
    for (const auto& [args, command, budgetMs] : cases) {
        LoggedSim s(args, SimPace::Line);
        QElapsedTimer clock;
        clock.start();
        const CliRun run = Quick(s, command, "300");
        const qint64 took = clock.elapsed();
        SCOPED_TRACE(command.toStdString() + " on " + s.Port().toStdString() + ", took " + std::to_string(took) + " ms");
        EXPECT_EQ(run.exitCode, 1) << run.err.toStdString();
        // Random bytes now and then hold a frame whose CRC checks: the timing rule refuses it as too early.
        EXPECT_TRUE((run.err + run.out).contains(QRegularExpression(QStringLiteral("no (sound )?reply|rejected by the line-timing rule"))))
            << run.err.toStdString();
        // Far above the budget for a loaded machine, far below a command the flood keeps going.
        EXPECT_LT(took, budgetMs + 12000);
    }
}

// A frame shaped as another address's answer 5 to 40 ms behind the relay's reply
// makes no relay there, timing rule on or off: it does not answer again on a quiet line.
TEST(OtherTalkers, ScanTellsNoAddressThatAnsweredOnlyOnce)
{
    for (const char* delay : {"5", "20", "40"})
        for (const QString timing : {QStringLiteral("on"), QStringLiteral("off")}) {
            SCOPED_TRACE(std::string(delay) + " ms, timing " + timing.toStdString());
            LoggedSim s({"--peer-after-ms", delay, "--peer-slave", "2"}, SimPace::Line);
            const CliRun run = Quick(s, QStringLiteral("--line-timing %1 scan --from 1 --to 3 --csv").arg(timing));
            EXPECT_EQ(run.OutLines().mid(1), QStringList{QStringLiteral("1,1,")}) << run.err.toStdString();
        }
}

using NoisyWindow = SimWindowTest;

TEST_F(NoisyWindow, ShowsTheNoLinkNoticeOnANoisyLine)
{
    sim = std::make_unique<RelaySim>(std::vector<std::string>{"--noise", "0103FF", "--noise-every-ms", "20"});
    env = std::make_unique<PortEnv>(1, sim->path());
    form.show();
    ui.Click("ButtonCOM");
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Timer3()->isActive(); }, 15000));
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());
}

// Beside another master, page 0 looks doubtful and the trend takes nothing; the
// notice goes by itself once its frames stop (another address asked) for the hold time.
TEST_F(NoisyWindow, TellsOfAnotherMasterOnTheLine)
{
    StartSim({"--unasked", "1", "--unasked-gap-ms", "3", "--log", logPath.toStdString()});
    auto* notice = form.findChild<QLabel*>(QStringLiteral("LabelOtherMaster"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return notice && notice->isVisible(); }, 15000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.ShowsDoubtful(); }, 5000));
    const TrendHistory& trend = form.findChild<TrendRecorder*>()->History();
    const size_t samples = trend.FullRate().size();
    const size_t requests = LoggedFrames(logPath).size();
    ASSERT_TRUE(QTest::qWaitFor([&] { return LoggedFrames(logPath).size() >= requests + 5; }, 10000));
    EXPECT_EQ(trend.FullRate().size(), samples);
    EXPECT_TRUE(ui.Edit("E2")->font().italic());
    EXPECT_NE(ui.Text("E2"), kMarker);

    auto* address = form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    address->setFocus();
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("9"));
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !notice->isVisible(); }, SessionOptions::kOtherMasterHoldMs + 5000));
}

}  // namespace
