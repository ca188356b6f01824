// What a script reads from zashchita-cli: files taken by their content, one
// key per quantity, a closed pipe, one line per failed poll, the device a
// default port opened, the journal's faults as exit codes, counts in words.
#include "test_cli_run.h"

#include <sys/resource.h>

#include "exchanges/RegisterCatalog.h"
#include "settings/Journal.h"

namespace {

const QString kSettings = QStringLiteral("settings");

// The journal of every run in `home` until the end of the scope.
struct DataHome {
    explicit DataHome(const QString& home) : old(qgetenv("XDG_DATA_HOME")) { qputenv("XDG_DATA_HOME", home.toUtf8()); }
    ~DataHome() { qputenv("XDG_DATA_HOME", old); }
    QByteArray old;
};

void WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(CliOutput, SettingsFilesAreReadByTheirContentWhateverTheirName)
{
    LoggedSim s;
    const QString ini = s.File("saved.ini"), json = s.File("saved.json");
    ASSERT_EQ(RunCli(Args(s, {kSettings, QStringLiteral("save"), ini})).exitCode, 0);
    ASSERT_EQ(RunCli(Args(s, {kSettings, QStringLiteral("save"), json})).exitCode, 0);
    const struct {
        const char* name;
        QString from;
    } same[] = {{"relay.ini.bak", ini}, {"relay_ini.txt", ini}, {"relay.json", ini}, {"relay.ini", json}};
    for (const auto& c : same) {
        ASSERT_TRUE(QFile::copy(c.from, s.File(c.name)));
        const CliRun diff = RunCli(Args(s, {kSettings, QStringLiteral("diff"), s.File(c.name)}));
        EXPECT_EQ(diff.exitCode, 0) << c.name << ": " << diff.err.toStdString();
    }
    const struct {
        QByteArray content;
        QString said;
    } broken[] = {{"\n  {\"format\": ", QStringLiteral("read as JSON")}, {"[file]\nformat\n", QStringLiteral("read as INI")}};
    for (const auto& c : broken) {
        WriteBytes(s.File("broken.json"), c.content);
        const CliRun diff = RunCli(Args(s, {kSettings, QStringLiteral("diff"), s.File("broken.json")}));
        EXPECT_EQ(diff.exitCode, 2);
        EXPECT_TRUE(diff.err.contains(c.said)) << diff.err.toStdString();
    }
}

// One key for one quantity in every record and every format; volts in Cyrillic.
TEST(CliOutput, MachineReadableKeysAreAlikeInEveryRecord)
{
    LoggedSim s;
    const CliRun jsonl = RunCli(Args(s, {QStringLiteral("records"), QStringLiteral("--format"), QStringLiteral("jsonl")}));
    const CliRun csv = RunCli(Args(s, {QStringLiteral("records"), QStringLiteral("--csv")}));
    ASSERT_EQ(jsonl.exitCode, 0);
    ASSERT_EQ(csv.exitCode, 0);
    const QStringList header = csv.OutLines().value(0).split(QLatin1Char(','));
    ASSERT_EQ(jsonl.OutLines().size(), 4);
    auto keys = [](const QString& line) { return QJsonDocument::fromJson(line.toUtf8()).object().keys(); };
    for (const QString& line : jsonl.OutLines())
        EXPECT_EQ(keys(line), keys(jsonl.OutLines()[0]));
    EXPECT_TRUE(header.contains(QStringLiteral("Значение сопротивления изоляции (кОм)")));
    EXPECT_TRUE(header.contains(QStringLiteral("Напряжение питания (В)")));

    const CliRun monitor = RunCli(Args(s, {QStringLiteral("monitor"), QStringLiteral("--seconds"), QStringLiteral("1"),
                                           QStringLiteral("--format"), QStringLiteral("jsonl")}));
    const QJsonObject poll = QJsonDocument::fromJson(monitor.OutLines().value(0).toUtf8()).object();
    EXPECT_TRUE(poll.contains(QStringLiteral("Напряжение питания (В)"))) << monitor.out.toStdString();
    EXPECT_FALSE(monitor.out.contains(QStringLiteral("(B)")));
}

// A reader that goes away ends the log quietly with 1, as the help says.
TEST(CliOutput, AClosedPipeEndsQuietlyWithOne)
{
    LoggedSim s;
    QProcess shell;
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"), QStringLiteral("\"$0\" --port \"$1\" monitor --interval 10 | head -2 >/dev/null; "
                                                      "echo \"${PIPESTATUS[0]}\""),
                 QStringLiteral(ZASHCHITA_CLI_PATH), s.Port()});
    ASSERT_TRUE(shell.waitForFinished(kRunTimeoutMs));
    EXPECT_EQ(shell.readAllStandardOutput().trimmed(), "1");
    EXPECT_EQ(shell.readAllStandardError(), "");
}

// A poll that fails is one line, on stdout; a relay that does not answer on
// the default port says which device COM1 opened.
TEST(CliOutput, AFailedPollIsToldOnceAndTheDefaultPortIsNamed)
{
    LoggedSim s;
    const CliRun monitor = RunCli({QStringLiteral("--port"), s.Port(), QStringLiteral("--address"), QStringLiteral("9"),
                                   QStringLiteral("--timeout"), QStringLiteral("50"), QStringLiteral("--retries"),
                                   QStringLiteral("0"), QStringLiteral("monitor"), QStringLiteral("--seconds"),
                                   QStringLiteral("1")});
    EXPECT_EQ(monitor.exitCode, 1);
    EXPECT_GT(monitor.out.count(QStringLiteral("poll failed")), 0);
    EXPECT_FALSE(monitor.err.contains(QStringLiteral("from the relay"))) << monitor.err.toStdString();
    EXPECT_TRUE(monitor.err.contains(QStringLiteral("0 replies and "))) << monitor.err.toStdString();

    const QByteArray old = qgetenv("ZASHCHITA_COM1");
    qputenv("ZASHCHITA_COM1", s.Port().toUtf8());
    const CliRun records = RunCli({QStringLiteral("--address"), QStringLiteral("9"), QStringLiteral("--timeout"),
                                   QStringLiteral("50"), QStringLiteral("records")});
    qputenv("ZASHCHITA_COM1", old);
    EXPECT_EQ(records.exitCode, 1);
    EXPECT_TRUE(records.err.contains(QStringLiteral("the default COM1 was used: %1").arg(s.Port())))
        << records.err.toStdString();
}

// A journal that cannot be read is exit 1 (one that cannot be written: see
// test_journal); a journal of any size is read a line at a time (a file far
// beyond the data limit, one line of it longer still).
TEST(CliOutput, JournalFaultsAreErrorsAndAHugeJournalIsStreamed)
{
    QTemporaryDir home;
    const DataHome data(home.path());
    WriteBytes(home.filePath(QStringLiteral("zashchita")), "a file where the folder should be");
    const CliRun blocked = RunCli({QStringLiteral("journal")});
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("Not a directory"))) << blocked.err.toStdString();

    QFile::remove(home.filePath(QStringLiteral("zashchita")));
    QDir(home.path()).mkpath(QStringLiteral("zashchita"));
    constexpr rlim_t kDataLimit = 64u << 20;
    {
        QFile big(JournalPath());
        ASSERT_TRUE(big.open(QIODevice::WriteOnly));
        const QByteArray chunk(1 << 20, 'x');
        for (rlim_t written = 0; written < 2 * kDataLimit; written += rlim_t(chunk.size()))
            big.write(chunk);
        big.write("\n{}\n");
    }
    const CliRun huge = RunCli({QStringLiteral("journal"), QStringLiteral("--format"), QStringLiteral("jsonl")}, [] {
        const rlimit limit{kDataLimit, kDataLimit};
        setrlimit(RLIMIT_DATA, &limit);
    });
    EXPECT_EQ(huge.exitCode, 0) << huge.err.toStdString();
    EXPECT_TRUE(huge.err.contains(QStringLiteral("2 lines are no journal entry"))) << huge.err.toStdString();
}

TEST(CliOutput, CountsAndTheAddressRangeAgreeWithTheRelay)
{
    LoggedSim s;
    const CliRun scan = RunCli(Args(s, {QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("1"),
                                        QStringLiteral("--to"), QStringLiteral("1")}));
    EXPECT_TRUE(scan.err.contains(QStringLiteral("1 of 1 address answered"))) << scan.err.toStdString();
    const CliRun help = RunCli({kSettings, QStringLiteral("save"), QStringLiteral("--help")});
    EXPECT_TRUE(help.out.simplified().contains(QStringLiteral("%1 settings").arg(SettingSpecs().size())))
        << help.out.toStdString();
    const struct {
        const char* option;
        const char* value;
        int exitCode;
    } addresses[] = {{"--address", "246", 1}, {"--address", "247", 2}, {"--to", "247", 1}};
    for (const auto& c : addresses) {
        const QStringList command = QLatin1String(c.option) == QLatin1String("--to")
            ? QStringList{QStringLiteral("scan"), QStringLiteral("--from"), QStringLiteral("247")}
            : QStringList{QStringLiteral("records")};
        const CliRun run = RunCli(QStringList{QStringLiteral("--port"), s.Port(), QStringLiteral("--timeout"),
                                              QStringLiteral("20"), QStringLiteral("--retries"), QStringLiteral("0"),
                                              QLatin1String(c.option), QLatin1String(c.value)} + command);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.option << ' ' << c.value << ": " << run.err.toStdString();
    }
}
