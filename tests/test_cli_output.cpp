// What a script reads from zashchita-cli.
#include "test_cli_run.h"

#include <sys/resource.h>
#include "exchanges/RegisterCatalog.h"
#include "settings/Journal.h"

namespace {
QStringList Words(const char* line) { return QString::fromUtf8(line).split(QLatin1Char(' ')); }

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
    for (const QString& saved : {ini, json})
        ASSERT_EQ(RunCli(Args(s, Words("settings save") << saved)).exitCode, 0);
    const struct {
        const char* name;
        QString from;
        QByteArray broken;   // else a copy of `from`
        int exitCode;
        const char* said;
    } cases[] = {{"relay.ini.bak", ini, {}, 0, ""},
                 {"relay_ini.txt", ini, {}, 0, ""},
                 {"relay.ini", json, {}, 0, ""},
                 {"a.json", {}, "\n  {\"format\": ", 2, "(read as JSON, for it begins with \"{\")"},
                 {"b.json", {}, "[file]\nformat\n", 2, "(read as INI, for it does not begin with \"{\")"},
                 // Sound syntax, a wrong setting: no word of how it was read.
                 {"c.json", {}, "{\"format\": \"another\", \"settings\": []}\n", 2, "not a settings file of this program"}};
    for (const auto& c : cases) {
        if (c.broken.isEmpty())
            ASSERT_TRUE(QFile::copy(c.from, s.File(c.name)));
        else
            WriteBytes(s.File(c.name), c.broken);
        const CliRun diff = RunCli(Args(s, Words("settings diff") << s.File(c.name)));
        EXPECT_EQ(diff.exitCode, c.exitCode) << c.name << ": " << diff.err.toStdString();
        EXPECT_TRUE(diff.err.contains(QString::fromUtf8(c.said))) << diff.err.toStdString();
        if (!QByteArray(c.said).contains("read as"))
            EXPECT_FALSE(diff.err.contains(QStringLiteral("read as"))) << diff.err.toStdString();
    }
}

// One key for one quantity in every record and every format; volts in Cyrillic.
TEST(CliOutput, MachineReadableKeysAreAlikeInEveryRecord)
{
    LoggedSim s;
    const CliRun jsonl = RunCli(Args(s, Words("records --format jsonl")));
    const CliRun csv = RunCli(Args(s, Words("records --csv")));
    const CliRun monitor = RunCli(Args(s, Words("monitor --seconds 1 --format jsonl")));
    auto keys = [](const QString& line) { return QJsonDocument::fromJson(line.toUtf8()).object().keys(); };
    ASSERT_EQ(jsonl.OutLines().size(), 4);
    for (const QString& line : jsonl.OutLines())
        EXPECT_EQ(keys(line), keys(jsonl.OutLines()[0]));
    const QStringList header = csv.OutLines().value(0).split(QLatin1Char(','));
    EXPECT_TRUE(header.contains(QStringLiteral("Значение сопротивления изоляции (кОм)")));
    EXPECT_TRUE(header.contains(QStringLiteral("Напряжение питания (В)")));
    EXPECT_TRUE(keys(monitor.OutLines().value(0)).contains(QStringLiteral("Напряжение питания (В)")));
}

// A failed poll is one line, on stdout; a relay that does not answer on the
// default port says which device COM1 opened.
TEST(CliOutput, AFailedPollIsToldOnceAndTheDefaultPortIsNamed)
{
    LoggedSim s;
    const QStringList silent = Words("--address 9 --timeout 50 --retries 0");
    const CliRun monitor = RunCli(QStringList{QStringLiteral("--port"), s.Port()} + silent + Words("monitor --seconds 1"));
    EXPECT_EQ(monitor.exitCode, 1);
    EXPECT_GT(monitor.out.count(QStringLiteral("poll failed")), 0);
    EXPECT_FALSE(monitor.err.contains(QStringLiteral("from the relay"))) << monitor.err.toStdString();

    const QByteArray old = qgetenv("ZASHCHITA_COM1");
    qputenv("ZASHCHITA_COM1", s.Port().toUtf8());
    const CliRun records = RunCli(silent + Words("records"));
    qputenv("ZASHCHITA_COM1", old);
    EXPECT_TRUE(records.err.contains(QStringLiteral("the default COM1 was used: %1").arg(s.Port())))
        << records.err.toStdString();
}

// A journal whose folder is a file is exit 1; a journal of any size is read a
// line at a time (a file far beyond the data limit, one line of it longer still).
TEST(CliOutput, AnUnreadableJournalIsAnErrorAndAHugeOneIsStreamed)
{
    QTemporaryDir home;
    const QByteArray old = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(home.path()));
    WriteBytes(home.filePath(QStringLiteral("zashchita")), "a file where the folder should be");
    const CliRun blocked = RunCli(Words("journal"));
    EXPECT_EQ(blocked.exitCode, 1);
    EXPECT_TRUE(blocked.err.contains(QStringLiteral("Not a directory"))) << blocked.err.toStdString();

    QFile::remove(home.filePath(QStringLiteral("zashchita")));
    QDir(home.path()).mkpath(QStringLiteral("zashchita"));
    constexpr rlim_t kDataLimit = 64u << 20;
#if defined(__SANITIZE_ADDRESS__)
    constexpr bool kSanitized = true;
#else
    constexpr bool kSanitized = false;
#endif
    QFile big(JournalPath());
    ASSERT_TRUE(big.open(QIODevice::WriteOnly));
    for (rlim_t written = 0; written < 2 * kDataLimit; written += 1 << 20)
        big.write(QByteArray(1 << 20, 'x'));
    big.write("\n{}\n");
    big.close();
    const CliRun huge = RunCli(Words("journal --format jsonl"), [] {
        // AddressSanitizer's shadow memory alone is more than the limit: there
        // the file is read without it (its reading is the same).
        if (!kSanitized) {
            const rlimit limit{kDataLimit, kDataLimit};
            setrlimit(RLIMIT_DATA, &limit);
        }
    });
    qputenv("XDG_DATA_HOME", old);
    EXPECT_EQ(huge.exitCode, 0) << huge.err.toStdString();
    EXPECT_TRUE(huge.err.contains(QStringLiteral("2 lines are no journal entry"))) << huge.err.toStdString();
}

// A reader that goes away ends the log quietly with 1, as the help says;
// counts are in words, the help's too.
TEST(CliOutput, AClosedPipeEndsQuietlyWithOneAndCountsAreInWords)
{
    LoggedSim s;
    QProcess shell;
    shell.start(QStringLiteral("bash"), {QStringLiteral("-c"),
                                         QStringLiteral("\"$0\" --port \"$1\" monitor --interval 10 | head -2 >/dev/null; "
                                                        "echo \"${PIPESTATUS[0]}\""),
                                         QStringLiteral(ZASHCHITA_CLI_PATH), s.Port()});
    ASSERT_TRUE(shell.waitForFinished(kRunTimeoutMs));
    EXPECT_EQ(shell.readAllStandardOutput().trimmed(), "1");
    EXPECT_EQ(shell.readAllStandardError(), "");
    EXPECT_TRUE(RunCli(Args(s, Words("scan --from 1 --to 1"))).err.contains(QStringLiteral("1 of 1 address answered")));
    EXPECT_TRUE(RunCli(Words("settings save --help")).out.simplified().contains(
        QStringLiteral("%1 settings").arg(SettingSpecs().size())));
}
