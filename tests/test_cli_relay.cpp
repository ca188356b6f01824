// zashchita-cli against the relay simulator where the line or the relay does
// something out of the way: the relay's own address changed, a load cut short
// by a lost line or a stop signal, a port that is no serial line, a relay that
// does not answer, and a scan that finds the relays on a line.
#include "test_cli_run.h"

#include <QElapsedTimer>
#include <QTest>

#include <csignal>
#include <grp.h>
#include <sys/stat.h>

#include "serial/PortMessages.h"
#include "settings/Journal.h"

namespace {

// Generous: the suite may run under sanitizers on a busy machine.
constexpr int kWaitMs = 60000;

const QString kSettings = QStringLiteral("settings");
const QString kLoad = QStringLiteral("load");
const QString kYes = QStringLiteral("--yes");

// The simulator's backup with SE2 to SE5 changed: a load of it writes those
// four, in that order.
QString FourChanges(const LoggedSim& s)
{
    const QString file = s.File("backup.json");
    EXPECT_EQ(RunCli(Args(s, {kSettings, QStringLiteral("save"), file})).exitCode, 0);
    QString edited = file;
    const char* const edits[][2] = {
        {"\"register\": 81, \"value\": 600,", "\"register\": 81, \"value\": 610,"},
        {"\"register\": 82, \"value\": 50,", "\"register\": 82, \"value\": 55,"},
        {"\"register\": 83, \"value\": 500,", "\"register\": 83, \"value\": 510,"},
        {"\"register\": 84, \"value\": 1000,", "\"register\": 84, \"value\": 1100,"},
    };
    for (const auto& edit : edits)
        edited = Replaced(edited, QLatin1String(edit[0]), QLatin1String(edit[1]));
    return edited;
}

// The backup with the relay's own address changed to `to`.
QString AddressChange(const LoggedSim& s, int to)
{
    const QString file = s.File("address.json");
    EXPECT_EQ(RunCli(Args(s, {kSettings, QStringLiteral("save"), file})).exitCode, 0);
    return Replaced(file, QStringLiteral("\"register\": 80, \"value\": 1,"),
                    QStringLiteral("\"register\": 80, \"value\": %1,").arg(to));
}

// A load running as its own process, stopped from outside while it writes.
struct LoadRun {
    LoadRun(const LoggedSim& s, const QString& file) : journal(s.File("data/zashchita/journal.jsonl"))
    {
        // The journal of writes in the test's own folder.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), s.File("data"));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ZASHCHITA_CLI_PATH), Args(s, {kSettings, kLoad, file, kYes}));
        EXPECT_TRUE(process.waitForStarted(kRunTimeoutMs));
    }
    CliRun Finish()
    {
        CliRun run;
        EXPECT_TRUE(process.waitForFinished(kRunTimeoutMs));
        run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromUtf8(process.readAllStandardOutput());
        run.err = QString::fromUtf8(process.readAllStandardError());
        return run;
    }
    void Signal(int signal) { ::kill(pid_t(process.processId()), signal); }
    // Each journalled write as "SE2 echoed".
    QStringList Journalled() const
    {
        QStringList lines;
        for (const JournalEntry& e : ReadJournal(journal).entries)
            lines << e.name + QLatin1Char(' ') + OutcomeWord(e.outcome);
        return lines;
    }
    QString journal;
    QProcess process;
};

bool WritesSeen(const LoggedSim& s, size_t count)
{
    return QTest::qWaitFor([&] { return s.WriteFrames().size() >= count; }, kWaitMs);
}

const QStringList kFourNames{QStringLiteral("SE2"), QStringLiteral("SE3"), QStringLiteral("SE4"), QStringLiteral("SE5")};

}  // namespace

// A relay that takes its new address after the echo, or at once (its echo
// then comes from the new address): either way the change holds, is read
// back at the new address, and ends with 0.
TEST(CliAddress, ChangedAddressIsReadBackWhereTheRelayNowAnswers)
{
    for (const char* mode : {"after-echo", "at-once"}) {
        LoggedSim s({"--address-change", mode});
        const QString file = AddressChange(s, 5);
        const CliRun load = RunCli(Args(s, {QStringLiteral("--timeout"), QStringLiteral("1000"), kSettings, kLoad, file,
                                            kYes, QStringLiteral("--include-address")}));
        EXPECT_EQ(load.exitCode, 0) << mode << load.out.toStdString() << load.err.toStdString();
        EXPECT_TRUE(load.out.startsWith(QStringLiteral("wrote NSE1 (80) Адрес подчиненного устройства: 1 -> 5")))
            << load.out.toStdString();
        EXPECT_EQ(load.out.contains(QStringLiteral("confirmed by a read at address 5")), std::string(mode) == "at-once");
        EXPECT_TRUE(load.err.endsWith(QStringLiteral("zashchita-cli: read back: the relay holds the file's settings\n")))
            << load.err.toStdString();
        EXPECT_FALSE(load.err.contains(QStringLiteral("trying address")));
        ExpectMessagesNamed(load.err);

        // Nobody answered at 5 before the write; the write went to 1; the
        // read-back went to 5 and nowhere else.
        const std::vector<Frame> frames = s.Frames();
        const auto write = std::find(frames.begin(), frames.end(), WriteFrame(80, 5));
        ASSERT_NE(write, frames.end());
        EXPECT_EQ(*(write - 1), RelaySim::readRequest(5, 80, 1));
        EXPECT_EQ(frames.back(), RelaySim::readRequest(5, 80, 44));
        s.slave = 5;
        EXPECT_EQ(s.Get(80), 5);
    }
}

// Two devices at one address spoil each other's replies, and the new address
// could not confirm the change: an address that answers already is not written.
TEST(CliAddress, AnAddressAnotherDeviceAnswersAtIsNotWritten)
{
    LoggedSim s({"--address", "1", "--address", "5", "--address-change", "at-once"});
    const QString file = AddressChange(s, 5);
    const CliRun load = RunCli(Args(s, {kSettings, kLoad, file, kYes, QStringLiteral("--include-address")}));
    EXPECT_EQ(load.exitCode, 1);
    EXPECT_TRUE(load.out.startsWith(QStringLiteral("unsent NSE1 (80) Адрес подчиненного устройства: 1 -> 5: address 5 "
                                                   "is taken: a device answers there")))
        << load.out.toStdString();
    EXPECT_TRUE(load.err.contains(QStringLiteral("zashchita-cli: stopped at NSE1 after 0 of 1 writes; 1 not sent\n")))
        << load.err.toStdString();
    EXPECT_TRUE(s.WriteFrames().empty());
    EXPECT_EQ(s.Get(80), 1);
}

// The line goes away after one write was confirmed and while the next was on
// its way: every setting is named as written, sent but not confirmed, or not
// sent, in Linux's words, and the load ends with 1.
TEST(CliInterrupted, LostLineAfterSomeWritesNamesWhatWasAndWasNotWritten)
{
    LoggedSim s({"--turnaround-ms", "300"}, SimPace::Line);
    const QString file = FourChanges(s);
    LoadRun load(s, file);
    ASSERT_TRUE(WritesSeen(s, 2));
    s.sim->stop();   // the pty closes as under a pulled adapter
    const CliRun run = load.Finish();
    EXPECT_EQ(run.exitCode, 1);
    const QStringList lines = run.OutLines();
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("wrote SE2 (81)")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("unconfirmed SE3 (82)")));
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral("50 мс -> 55 мс sent, but the port went away before its echo; the relay "
                                                 "may hold either value")))
        << lines[1].toStdString();
    EXPECT_TRUE(lines[2].startsWith(QStringLiteral("unsent SE4 (83)")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("unsent SE5 (84)")));
    EXPECT_EQ(load.Journalled(), (QStringList{"SE2 echoed", "SE3 unconfirmed"}));
    EXPECT_EQ(run.err, QStringLiteral("zashchita-cli: the port went away: Input/output error\n"
                                      "zashchita-cli: stopped at SE3 after 1 of 4 writes; SE3 was sent but not confirmed "
                                      "(the relay may hold it); 2 not sent\n"));
}

// SIGINT, SIGTERM or SIGHUP (a closed terminal) during the writes: the write
// in flight is finished, the rest are not sent, and the exit code is the
// shell's for the signal.
TEST(CliInterrupted, StopSignalEndsTheLoadAfterTheWriteInFlight)
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        LoggedSim s({"--turnaround-ms", "300"}, SimPace::Line);
        const QString file = FourChanges(s);
        LoadRun load(s, file);
        ASSERT_TRUE(WritesSeen(s, 1));
        QElapsedTimer clock;
        clock.start();
        load.Signal(signal);
        const CliRun run = load.Finish();
        EXPECT_LT(clock.elapsed(), 5000);   // within the write's turnaround; a bound against a hang
        EXPECT_EQ(run.exitCode, 128 + signal);
        // Each setting once, those written first; each write that went out
        // was finished and confirmed.
        const QStringList lines = run.OutLines();
        ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
        const qsizetype written = LinesStartingWith(lines, QStringLiteral("wrote ")).size();
        for (qsizetype k = 0; k < lines.size(); ++k)
            EXPECT_TRUE(lines[k].startsWith(QStringLiteral("%1 %2 ").arg(k < written ? QStringLiteral("wrote")
                                                                                   : QStringLiteral("unsent"),
                                                                         kFourNames[k])))
                << lines[k].toStdString();
        EXPECT_GE(written, 1);
        EXPECT_LT(written, 4);
        EXPECT_EQ(s.WriteFrames().size(), size_t(written));
        EXPECT_EQ(load.Journalled().size(), written);
        EXPECT_EQ(run.err, QStringLiteral("zashchita-cli: interrupted by %1\nzashchita-cli: stopped after %2 of 4 writes; "
                                          "%3 not sent\n")
                               .arg(signal == SIGINT ? QStringLiteral("SIGINT")
                                                     : signal == SIGTERM ? QStringLiteral("SIGTERM") : QStringLiteral("SIGHUP"))
                               .arg(written).arg(4 - written));
    }
}

// A second signal gives up the write in flight at once: it was sent, so the
// relay may hold it. (Two of the same signal sent at once may arrive as one,
// where a user's second Ctrl+C comes later; of two different ones either may
// be taken first.)
TEST(CliInterrupted, SecondSignalAbandonsTheWriteInFlight)
{
    LoggedSim s({"--turnaround-ms", "3000"}, SimPace::Line);
    const QString file = FourChanges(s);
    LoadRun load(s, file);
    ASSERT_TRUE(WritesSeen(s, 1));
    load.Signal(SIGINT);
    load.Signal(SIGTERM);
    const CliRun run = load.Finish();
    ASSERT_TRUE(run.exitCode == 128 + SIGINT || run.exitCode == 128 + SIGTERM) << run.exitCode;
    const QString first = run.exitCode == 128 + SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM");
    const QStringList lines = run.OutLines();
    ASSERT_EQ(lines.size(), 4) << run.out.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("unconfirmed SE2 (81)")));
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral("600 % -> 610 % sent, but abandoned on %1 before its echo; the relay "
                                                 "may hold either value").arg(first)))
        << lines[0].toStdString();
    EXPECT_EQ(LinesStartingWith(lines, QStringLiteral("unsent ")).size(), 3);
    EXPECT_EQ(run.err, QStringLiteral("zashchita-cli: interrupted by %1\nzashchita-cli: stopped at SE2 after 0 of 4 "
                                      "writes; SE2 was sent but not confirmed (the relay may hold it); 3 not sent\n")
                           .arg(first));
    EXPECT_EQ(s.WriteFrames().size(), 1u);
    EXPECT_EQ(load.Journalled(), QStringList{"SE2 unconfirmed"});
}

// A relay that goes away under monitor ends the log with a row saying so, in
// Linux's words, not the serial component's.
TEST(CliMessages, ALineThatGoesAwayMidRunIsSaidInLinuxTerms)
{
    LoggedSim s({"--gone-after", "1"});
    const CliRun run = RunCli(Args(s, {QStringLiteral("monitor")}));
    EXPECT_EQ(run.exitCode, 1);
    ASSERT_FALSE(run.OutLines().isEmpty());
    EXPECT_TRUE(run.OutLines().last().endsWith(QStringLiteral("  poll failed: the port went away: Input/output error")))
        << run.OutLines().last().toStdString();
    EXPECT_FALSE(run.err.contains(QStringLiteral("the port went away")));   // told once, as the log's row
    EXPECT_FALSE(run.err.contains(QStringLiteral("error code")));
    ExpectMessagesNamed(run.err);
}

// A plain file or /dev/null is no serial line; group advice only where the
// device's group may read and write it.
TEST(CliMessages, PortThatIsNoSerialDeviceAndGroupAdvice)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain"));
    {
        QFile f(plain);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    for (const QString& port : {QStringLiteral("/dev/null"), plain}) {
        const CliRun run = RunCli({QStringLiteral("--port"), port, QStringLiteral("records")});
        EXPECT_EQ(run.exitCode, 1);
        EXPECT_EQ(run.err, QStringLiteral("zashchita-cli: cannot open the port %1: not a serial device\n").arg(port));
    }

    const QByteArray path = QFile::encodeName(plain);
    ASSERT_EQ(::chmod(path.constData(), 0600), 0);
    EXPECT_TRUE(AccessGroup(plain, EACCES).isEmpty());
    EXPECT_FALSE(PortFailureDetail(plain, EACCES).contains(QStringLiteral("группу")));
    ASSERT_EQ(::chmod(path.constData(), 0660), 0);
    struct stat st {};
    ASSERT_EQ(::stat(path.constData(), &st), 0);
    const QString group = QString::fromLocal8Bit(::getgrgid(st.st_gid)->gr_name);
    EXPECT_EQ(AccessGroup(plain, EACCES), group);
    EXPECT_TRUE(PortFailureDetail(plain, EACCES).contains(QStringLiteral("«%1»").arg(group)));
    EXPECT_TRUE(AccessGroup(plain, ENOENT).isEmpty());

    // A bad command line speaks in the program's voice too.
    const CliRun bad = RunCli({QStringLiteral("--frobnicate"), QStringLiteral("records")});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.endsWith(QStringLiteral("zashchita-cli: try zashchita-cli --help\n")));
    ExpectMessagesNamed(bad.err);
}

// No reply, to a read or to a write: one line with the address, the line's
// settings and what to check.
TEST(CliMessages, NoReplyNamesTheAddressTheLineAndTheUsualCauses)
{
    const QString causes = QStringLiteral("check the relay's address, the A/B wiring and the line's termination");
    LoggedSim silent({"--silent"});
    const CliRun read = RunCli(Args(silent, {QStringLiteral("--timeout"), QStringLiteral("100"), QStringLiteral("--retries"),
                                             QStringLiteral("0"), QStringLiteral("records")}));
    EXPECT_EQ(read.exitCode, 1);
    EXPECT_EQ(read.err, QStringLiteral("zashchita-cli: no reply from the relay at address 1 on %1 (9600 8N1) to a read of "
                                       "registers 128 to 144 after 1 try of 100 ms: %2\n")
                            .arg(silent.Port(), causes));

    // With this seed the simulator answers the first request and drops the
    // second: the load's read, then its first write.
    LoggedSim plain;
    const QString file = FourChanges(plain);
    LoggedSim dropping({"--drop", "0.5", "--seed", "6"});
    const CliRun write = RunCli(Args(dropping, {QStringLiteral("--timeout"), QStringLiteral("2000"),
                                                QStringLiteral("--retries"), QStringLiteral("0"), kSettings, kLoad, file,
                                                kYes}));
    EXPECT_EQ(write.exitCode, 1);
    EXPECT_EQ(write.OutLines().value(0),
              QStringLiteral("unconfirmed SE2 (81) Ток МТЗ (отсечка): no echo from the relay at address 1 on %1 (9600 "
                             "8N1) to the write of 610 to register 81 after 1 try of 2000 ms: %2")
                  .arg(dropping.Port(), causes))
        << write.out.toStdString();
}

// Addresses 7 and 200 on one line, each address asked with a short
// time-out and those two once more: exactly they are found.
TEST(CliScan, FindsExactlyTheRelaysOnTheLine)
{
    LoggedSim s({"--address", "7", "--address", "200"});
    const QStringList quick{QStringLiteral("--timeout"), QStringLiteral("50"), QStringLiteral("scan")};
    const CliRun scan = RunCli(Args(s, quick));
    ASSERT_EQ(scan.exitCode, 0) << scan.err.toStdString();
    EXPECT_EQ(scan.OutLines(), (QStringList{QStringLiteral("address 7: NSE1 (80) Адрес подчиненного устройства: 7"),
                                            QStringLiteral("address 200: NSE1 (80) Адрес подчиненного устройства: 200")}));
    EXPECT_TRUE(scan.err.endsWith(QStringLiteral("zashchita-cli: 2 of 247 addresses answered: 7, 200\n")))
        << scan.err.toStdString();
    EXPECT_TRUE(scan.err.contains(QStringLiteral("zashchita-cli: scanned 24 of 247 addresses, 1 answered\n")));
    ExpectMessagesNamed(scan.err);
    // One request for register 80 to each address, in order, and a second to
    // those that answered; nothing else.
    std::vector<Frame> expected;
    for (int address = 1; address <= 247; ++address)
        expected.insert(expected.end(), address == 7 || address == 200 ? 2 : 1,
                        RelaySim::readRequest(uint8_t(address), 80, 1));
    EXPECT_EQ(s.Frames(), expected);

    const CliRun csv = RunCli(Args(s, quick + QStringList{QStringLiteral("--from"), QStringLiteral("5"),
                                                          QStringLiteral("--to"), QStringLiteral("10"),
                                                          QStringLiteral("--csv")}));
    EXPECT_EQ(csv.exitCode, 0);
    EXPECT_EQ(csv.out, QStringLiteral("address,NSE1,exception\n7,7,\n"));
    const CliRun jsonl = RunCli(Args(s, quick + QStringList{QStringLiteral("--from"), QStringLiteral("199"),
                                                            QStringLiteral("--to"), QStringLiteral("201"),
                                                            QStringLiteral("--format"), QStringLiteral("jsonl")}));
    EXPECT_EQ(jsonl.out, QStringLiteral("{\"address\": 200, \"NSE1\": 200}\n"));
}

// A device that answers with an exception is there all the same; a line where
// nobody answers ends with 1.
TEST(CliScan, RefusalsCountAndSilenceFails)
{
    LoggedSim refusing({"--exception", "1"});
    const QStringList two{QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"), QStringLiteral("--to"),
                          QStringLiteral("2"), QStringLiteral("--timeout"), QStringLiteral("200")};
    const CliRun refused = RunCli(Args(refusing, two));
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_EQ(refused.out, QStringLiteral("address 1: refused to read register 80: exception 4 (device failure)\n"));

    LoggedSim silent({"--silent"});
    const CliRun none = RunCli(Args(silent, two));
    EXPECT_EQ(none.exitCode, 1);
    EXPECT_TRUE(none.out.isEmpty());
    EXPECT_EQ(none.err, QStringLiteral("zashchita-cli: no device answered at addresses 1 to 2 on %1 (9600 8N1, 200 ms "
                                       "each): check the A/B wiring, the line's termination and the relay's power\n")
                            .arg(silent.Port()));
}
