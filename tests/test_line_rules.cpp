// The line's two rules, kept by the one relay session under both front
// ends, checked on the wire as the simulator saw it:
// - every request follows at least 3.5 character times of silence after the
//   last byte the relay sent (the simulator logs both times; a wait can only
//   lengthen the silence, so noise never fails this);
// - a frame nobody asked for, well-formed and sent a few ms after each
//   reply, is never shown or printed as the relay's values.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <functional>

#include "support/SimWindow.h"
#include "test_cli_run.h"

namespace {

const QString kMarker = QStringLiteral("48879");   // what every register of a frame nobody asked for holds

// Runs a real event loop until `done` (QTest::qWaitFor sleeps between its
// passes, so the window would read a reply and what follows it as one).
bool RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(5);
    loop.exec();
    return done();
}

void ExpectSilenceBeforeEveryRequest(const QString& timing, size_t atLeast)
{
    const std::vector<SilenceBefore> silences = SilencesBeforeRequests(LoggedTimings(timing));
    EXPECT_GE(silences.size(), atLeast);
    for (const SilenceBefore& s : silences)
        EXPECT_GE(s.silenceNs, kRequiredSilenceNs) << "a request " << s.silenceNs << " ns after the last byte";
}

struct WindowOnTheWire : SimWindowTest {
    QString timing = dir.filePath(QStringLiteral("timing.log"));

    // Waits until the simulator has seen `requests` more requests.
    bool WaitForRequests(size_t requests)
    {
        const size_t from = LoggedFrames(logPath).size();
        return QTest::qWaitFor([&] { return LoggedFrames(logPath).size() >= from + requests; }, 20000);
    }
};

TEST_F(WindowOnTheWire, EveryRequestOnPageZeroFollowsTheSilence)
{
    StartSim({"--log", logPath.toStdString(), "--timing", timing.toStdString()});
    ASSERT_TRUE(WaitForRequests(20));
    ASSERT_TRUE(ui.Close());
    ExpectSilenceBeforeEveryRequest(timing, 20);
}

// The window waits out the frame nobody asked for before its next request,
// reads it as noise, and never paints its values.
TEST_F(WindowOnTheWire, FrameNobodyAskedForIsNeverShown)
{
    std::vector<QLineEdit*> fields;
    for (QLineEdit* edit : form.findChildren<QLineEdit*>())
        if (edit->objectName().startsWith(QLatin1Char('E')))
            fields.push_back(edit);
    int replies = 0;
    QObject scope;   // the hook goes with this test's locals, before the fixture's window
    QObject::connect(&form.Session(), &RelaySession::blockRead, &scope, [&] {
        ++replies;
        for (QLineEdit* edit : fields)
            EXPECT_NE(edit->text(), kMarker) << edit->objectName().toStdString();
        EXPECT_NE(ui.Text("E1"), QStringLiteral("10111110 11101111"));
    });
    // It begins 3 ms after each reply, in time to keep the next request back.
    StartSim({"--log", logPath.toStdString(), "--unasked", "1", "--unasked-gap-ms", "3", "--piece-bytes", "1"});
    ASSERT_TRUE(RunUntil([&] { return replies >= 15; }, 30000));
    EXPECT_GT(form.Link().UnaskedBytes, 0u);
    ASSERT_TRUE(ui.Close());
}

struct CompanionOnTheWire : ::testing::Test {
    QTemporaryDir dir;
    QString timing = dir.filePath(QStringLiteral("timing.log"));

    std::unique_ptr<RelaySim> Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--freeze", "--timing", timing.toStdString()});
        return std::make_unique<RelaySim>(args);
    }
    static QStringList On(const RelaySim& sim, QStringList args)
    {
        return args << QStringLiteral("--port") << QString::fromStdString(sim.path());
    }
};

TEST_F(CompanionOnTheWire, SaveRecordsAndMonitorFollowTheSilence)
{
    const auto sim = Start({});
    const CliRun save = RunCli(On(*sim, {QStringLiteral("settings"), QStringLiteral("save"), dir.filePath(QStringLiteral("s.json"))}));
    EXPECT_EQ(save.exitCode, 0) << save.err.toStdString();
    const CliRun records = RunCli(On(*sim, {QStringLiteral("records")}));
    EXPECT_EQ(records.exitCode, 0) << records.err.toStdString();
    const CliRun monitor = RunCli(On(*sim, {QStringLiteral("monitor"), QStringLiteral("--seconds"), QStringLiteral("2"),
                                            QStringLiteral("--interval"), QStringLiteral("0")}));
    EXPECT_EQ(monitor.exitCode, 0) << monitor.err.toStdString();
    ExpectSilenceBeforeEveryRequest(timing, 10);
}

TEST_F(CompanionOnTheWire, FrameNobodyAskedForIsNeverPrinted)
{
    const auto sim = Start({"--unasked", "1", "--unasked-gap-ms", "2", "--piece-bytes", "1"});
    const CliRun records = RunCli(On(*sim, {QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("csv")}));
    EXPECT_EQ(records.exitCode, 1) << records.err.toStdString();   // read beside another master: refused
    EXPECT_TRUE(records.out.isEmpty()) << records.out.toStdString();
    EXPECT_FALSE(records.out.contains(kMarker));
    const CliRun monitor = RunCli(On(*sim, {QStringLiteral("monitor"), QStringLiteral("--seconds"), QStringLiteral("2"),
                                            QStringLiteral("--interval"), QStringLiteral("0"), QStringLiteral("--format"),
                                            QStringLiteral("csv")}));
    EXPECT_EQ(monitor.exitCode, 0) << monitor.err.toStdString();
    EXPECT_GT(monitor.OutLines().size(), 3);
    EXPECT_FALSE(monitor.out.contains(kMarker));
}

}  // namespace
