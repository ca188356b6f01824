// zashchita-cli's settings files against the relay simulator: a save that
// cannot be completed keeps the earlier backup, a save to standard output,
// what a relay holds beyond the window's ranges saved, compared and loaded
// back, a file of many faults, and the exit codes of settings diff.
#include "test_cli_run.h"

#include "exchanges/RegisterCatalog.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

QByteArray FileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The file size limit of a full disk, without one: writes past it fail with
// EFBIG ("File too large") instead of killing the program.
constexpr rlim_t kFullDiskBytes = 4096;
void FillDiskAt4096()
{
    const rlimit limit{kFullDiskBytes, kFullDiskBytes};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
}

}  // namespace

TEST(CliFiles, SaveOnAFullDiskKeepsTheEarlierBackupByteForByte)
{
    LoggedSim s;
    for (const char* name : {"relay.json", "relay.ini"}) {
        const QString file = s.File(name);
        ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
        const QByteArray before = FileBytes(file);
        ASSERT_GT(before.size(), qsizetype(kFullDiskBytes));   // the new one cannot fit either

        s.Set({{81, 703}});   // a new save would differ
        const CliRun full = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file}), FillDiskAt4096);
        EXPECT_EQ(full.exitCode, 1);
        EXPECT_EQ(full.err, QStringLiteral("zashchita-cli: cannot write %1: File too large; the earlier file is as it "
                                           "was\n").arg(file));
        EXPECT_FALSE(full.out.contains(QStringLiteral("saved")));
        EXPECT_EQ(FileBytes(file), before);
    }
    // No temporary file is left behind.
    EXPECT_EQ(QDir(s.dir.path()).entryList({QStringLiteral("relay*")}, QDir::Files | QDir::Hidden),
              (QStringList{QStringLiteral("relay.ini"), QStringLiteral("relay.json")}));
}

TEST(CliFiles, SaveToStandardOutputOrAnOwnerOnlyFileAndRefuseAPathBeforeReading)
{
    LoggedSim s;
    const QString file = s.File("relay.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // "-" is JSON on stdout; the message goes to stderr.
    const CliRun piped = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), QStringLiteral("-")}));
    ASSERT_EQ(piped.exitCode, 0) << piped.err.toStdString();
    EXPECT_EQ(piped.err, QStringLiteral("zashchita-cli: saved 43 settings of the relay at address 1 to the standard "
                                        "output\n"));
    const auto withoutStamp = [](QString text) {
        return text.replace(QRegularExpression(QStringLiteral("\"saved\": \"[^\"]*\"")), QStringLiteral("\"saved\": \"\""));
    };
    EXPECT_EQ(withoutStamp(piped.out), withoutStamp(QString::fromUtf8(FileBytes(file))));

    // A path that cannot be written is refused with nothing sent, not even a read.
    const size_t frames = s.Frames().size();
    const QStringList unwritable{file + QStringLiteral("/inside.json"), s.File("no-such-dir/relay.json"), s.dir.path()};
    for (const QString& path : unwritable) {
        const CliRun refused = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), path}));
        EXPECT_EQ(refused.exitCode, 2) << path.toStdString();
        EXPECT_TRUE(refused.err.startsWith(QStringLiteral("zashchita-cli: cannot write %1: ").arg(path)));
        EXPECT_TRUE(refused.err.endsWith(QStringLiteral("; nothing was sent to the relay\n"))) << refused.err.toStdString();
    }
    EXPECT_EQ(s.Frames().size(), frames);
}

// A relay may hold what the window would not let the user set; its backup
// compares and loads back, and a load writes none of those values.
TEST(CliFiles, WhatARelayHoldsSavesComparesAndLoadsBack)
{
    LoggedSim s({"--slave", "246", "--set", "113=5", "--set", "121=77"});
    s.slave = 246;
    const QStringList at246{QStringLiteral("--address"), QStringLiteral("246")};
    for (const char* name : {"odd.json", "odd.ini"}) {
        const QString file = s.File(name);
        ASSERT_EQ(RunCli(Args(s, at246 + QStringList{QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
        const CliRun diff = RunCli(Args(s, at246 + QStringList{QStringLiteral("settings"), QStringLiteral("diff"), file}));
        EXPECT_EQ(diff.exitCode, 0) << diff.err.toStdString();
        EXPECT_TRUE(diff.out.isEmpty());
        const CliRun load = RunCli(Args(s, at246 + QStringList{QStringLiteral("settings"), QStringLiteral("load"), file,
                                                            QStringLiteral("--yes"), QStringLiteral("--include-address")}));
        EXPECT_EQ(load.exitCode, 0) << load.err.toStdString();
        EXPECT_EQ(load.err, QStringLiteral("zashchita-cli: nothing to write: the relay holds the file's settings\n"));
    }
    EXPECT_TRUE(s.WriteFrames().empty());

    // The relay moves on: the differences show, and the load refuses the
    // values out of range, with nothing written.
    const QString file = s.File("odd.json");
    s.Set({{113, 0}, {121, 4}, {81, 704}});
    const size_t writes = s.WriteFrames().size();
    const CliRun diff = RunCli(Args(s, at246 + QStringList{QStringLiteral("settings"), QStringLiteral("diff"), file}));
    EXPECT_EQ(diff.exitCode, 1);
    EXPECT_TRUE(diff.out.contains(QStringLiteral("CB1 (113) Блокировка защиты: relay 0 (запретить), file 5 (нет пункта)")))
        << diff.out.toStdString();
    EXPECT_EQ(diff.OutLines().size(), 3);
    for (const QStringList& more : {QStringList{}, QStringList{QStringLiteral("--yes")}}) {
        const CliRun load = RunCli(Args(s, at246 + QStringList{QStringLiteral("settings"), QStringLiteral("load"), file} + more));
        EXPECT_EQ(load.exitCode, 2);
        EXPECT_TRUE(load.err.contains(QStringLiteral("%1: CB1 (113) Блокировка защиты: relay 0 (запретить), file 5 (нет "
                                                     "пункта): 5 is out of range 0 to 1; not written").arg(file)))
            << load.err.toStdString();
        EXPECT_TRUE(load.err.contains(QStringLiteral("77 is out of range 0 to 10; not written")));
        EXPECT_TRUE(load.err.endsWith(QStringLiteral("zashchita-cli: %1: refused; nothing was written to the relay\n").arg(file)));
        ExpectMessagesNamed(load.err);
        EXPECT_TRUE(load.out.isEmpty());
    }
    EXPECT_EQ(s.WriteFrames().size(), writes);
}

TEST(CliFiles, AddressOutOfRangeIsRefusedOnlyWhenItWouldBeWritten)
{
    LoggedSim s;
    const QString file = s.File("good.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    s.Set({{81, 705}});
    const QString edited = Replaced(file, QStringLiteral("\"name\": \"NSE1\", \"register\": 80, \"value\": 1,"),
                                    QStringLiteral("\"name\": \"NSE1\", \"register\": 80, \"value\": 247,"));
    const CliRun refused = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited,
                                           QStringLiteral("--yes"), QStringLiteral("--include-address")}));
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("247 is out of range 1 to 246")));
    EXPECT_TRUE(refused.err.contains(QStringLiteral("nothing was written to the relay")));
    EXPECT_TRUE(refused.out.isEmpty());
    EXPECT_EQ(s.WriteFrames().size(), 1u);   // only the test's own
    EXPECT_EQ(s.Get(81), 705);

    // Without --include-address the address is kept and the rest is loaded.
    const CliRun kept = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited, QStringLiteral("--yes")}));
    EXPECT_EQ(kept.exitCode, 0) << kept.err.toStdString();
    EXPECT_TRUE(kept.out.contains(QStringLiteral("kept NSE1 (80)")));
    EXPECT_EQ(s.Get(81), 600);
}

TEST(CliFiles, AFileOfManyFaultsListsTwentyAndCountsTheRest)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("many.json"));
    QStringList entries;
    for (int i = 0; i < 1000; ++i)
        entries << QStringLiteral("{\"name\": \"X%1\", \"value\": 1}").arg(i);
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": 1, \"settings\": [%1]}")
                .arg(entries.join(QStringLiteral(",\n"))).toUtf8());
    f.close();
    // Refused before the port is opened, so no relay is needed.
    const CliRun diff = RunCli({QStringLiteral("--port"), dir.filePath(QStringLiteral("no-port")), QStringLiteral("settings"),
                                QStringLiteral("diff"), file});
    EXPECT_EQ(diff.exitCode, 2);
    const QStringList lines = diff.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 22) << diff.err.toStdString();
    EXPECT_EQ(lines[19], QStringLiteral("zashchita-cli: %1: X19 (settings[19]): no setting has that name").arg(file));
    EXPECT_EQ(lines[20], QStringLiteral("zashchita-cli: %1: and 980 more faults").arg(file));
    EXPECT_EQ(lines[21], QStringLiteral("zashchita-cli: %1: refused; nothing was sent to the relay").arg(file));
}

TEST(CliSettings, DiffExitsLikeDiffAndCmp)
{
    LoggedSim s;
    const QString file = s.File("relay.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const CliRun same = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), file}));
    EXPECT_EQ(same.exitCode, 0);
    EXPECT_EQ(same.err, QStringLiteral("zashchita-cli: 0 of the file's 43 settings differ\n"));
    s.Set({{90, 31}});
    const CliRun differ = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), file}));
    EXPECT_EQ(differ.exitCode, 1);
    EXPECT_EQ(differ.err, QStringLiteral("zashchita-cli: 1 of the file's 43 settings differs\n"));

    // Trouble is 2, not "they differ": no reply, no port.
    LoggedSim silent({"--silent"});
    const CliRun unanswered = RunCli(Args(silent, {QStringLiteral("--timeout"), QStringLiteral("100"),
                                                   QStringLiteral("--retries"), QStringLiteral("0"),
                                                   QStringLiteral("settings"), QStringLiteral("diff"), file}));
    EXPECT_EQ(unanswered.exitCode, 2);
    EXPECT_TRUE(unanswered.err.startsWith(QStringLiteral("zashchita-cli: no reply from the relay at address 1")))
        << unanswered.err.toStdString();
    const CliRun noPort = RunCli({QStringLiteral("--port"), s.File("no-such-device"), QStringLiteral("settings"),
                                  QStringLiteral("diff"), file});
    EXPECT_EQ(noPort.exitCode, 2);
}


// What a load keeps as the relay holds it (a mask's bit without a box, the
// relay's own address without --include-address) is no difference: a load
// that ends with the relay holding the file's settings is followed by a diff
// that exits 0.
TEST(CliSettings, WhatALoadKeepsIsNoDifference)
{
    LoggedSim s;
    const int mask = RelaySim::dumpRegisters().at(107);
    const QString file = s.File("relay.json");
    ASSERT_EQ(RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("save"), file})).exitCode, 0);
    const auto value = [](int reg, int v) { return QStringLiteral("\"register\": %1, \"value\": %2,").arg(reg).arg(v); };
    const auto maskText = [](int v) {
        return QStringLiteral("\"register\": 107, \"value\": \"%1\"")
            .arg(SettingValueText(*FindSetting(QStringLiteral("EditMask2")), uint16_t(v)));
    };
    QString edited = Replaced(file, maskText(mask), maskText(mask ^ 0x8000));
    edited = Replaced(edited, value(80, 1), value(80, 7));
    edited = Replaced(edited, value(81, 600), value(81, 610));
    const CliRun load = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("load"), edited, QStringLiteral("--yes")}));
    EXPECT_EQ(load.exitCode, 0) << load.err.toStdString();
    EXPECT_EQ(FirstWords(load.OutLines(), 1), (QSet<QString>{"EditMask2", "NSE1", "SE2"})) << load.out.toStdString();
    EXPECT_TRUE(load.err.endsWith(QStringLiteral("read back: the relay holds the file's settings\n")));
    EXPECT_EQ(s.WriteFrames(), (std::vector<Frame>{WriteFrame(81, 610)}));

    const CliRun diff = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), edited}));
    EXPECT_EQ(diff.exitCode, 0) << diff.out.toStdString() << diff.err.toStdString();
    EXPECT_TRUE(diff.err.contains(QStringLiteral("not counted: NSE1 (80)")));
    const CliRun withAddress = RunCli(Args(s, {QStringLiteral("settings"), QStringLiteral("diff"), edited,
                                               QStringLiteral("--include-address")}));
    EXPECT_EQ(withAddress.exitCode, 1);
    EXPECT_EQ(FirstWords(withAddress.OutLines()), QSet<QString>{"NSE1"});
}
