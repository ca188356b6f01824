// The exporter's configuration and command line: each fault of a
// configuration named by file, line and column, every flag with its message
// and exit status, read in-process; the program itself checked for what
// scripts rely on (exit codes, stdout, stderr, journald's priorities).
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <set>
#include <sys/stat.h>

#include "Arguments.h"
#include "ExporterConfig.h"
#include "RelayMetrics.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"
#include "support/ExporterRun.h"

namespace {

const char* const kSound = "lines:\n"
                           "  - name: pumps\n"
                           "    port: /nonexistent/ttyUSB9\n"
                           "    poll_interval: 250ms\n"
                           "    relays:\n"
                           "      - {name: M1, address: 1, labels: {motor: feed}}\n"
                           "      - {name: M2, address: 2}\n"
                           "  - name: fans\n"
                           "    port: modbus-tcp://192.0.2.1\n"
                           "    relays: [{name: F1, address: 246}]\n";

}  // namespace

TEST(ExporterConfig, FaultsAreNamedWithLineAndColumn)
{
    const struct {
        const char* name;
        QByteArray text;
        const char* expected;   // the fault, after the file's name
    } cases[] = {
        {"unknown key in a relay", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, adress: 1}\n",
         ":5:20: unknown key \"adress\" in a relay"},
        {"unknown key at the top", "lines: []\nlisten: 1\n", ":2:1: unknown key \"listen\""},
        {"duplicate address", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1}\n"
                              "      - {name: M2, address: 1}\n",
         ":6:29: address 1 is given twice on line \"a\""},
        {"duplicate relay name", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1}\n"
                                 "      - {name: M1, address: 2}\n",
         ":6:16: relay \"M1\" is given twice"},
        {"duplicate key", "lines:\n  - name: a\n    name: b\n    port: /dev/x\n    relays: [{name: M1, address: 1}]\n",
         ":3:5: key \"name\" given twice in a line"},
        {"duplicate line and port", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1}]}\n"
                                    "  - {name: a, port: /dev/x, relays: [{name: M1, address: 1}]}\n",
         ":3:12: line \"a\" is given twice"},
        {"address out of range", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 247}]}\n",
         ":2:58: a relay's address must be a whole number from 1 to 246 (not \"247\")"},
        {"bad endpoint", "lines:\n  - {name: a, port: \"tcp://host\", relays: [{name: M1, address: 1}]}\n",
         ":2:21: port \"tcp://host\""},
        {"bad interval", "lines:\n  - {name: a, port: /dev/x, poll_interval: 5 min, relays: [{name: M1, address: 1}]}\n",
         ":2:44: poll_interval must be a time"},
        {"reserved label", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1, labels: {line: x}}]}\n",
         ":2:70: label \"line\" is the exporter's own"},
        {"no relays", "lines:\n  - {name: a, port: /dev/x}\n", ":2:5: a line needs \"relays\""},
        {"not YAML", "lines: [\n", ":2:1: "},
        {"empty", "", ": the file is empty"},
        {"too large", "#" + QByteArray(kMaxConfigBytes, 'x') + "\nlines: []\n", ": the file is larger than 1048576 bytes"},
    };
    const QString path = QStringLiteral("/etc/exporter.yaml");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QStringList faults = ReadConfigText(path, c.text.toStdString()).faults;
        EXPECT_TRUE(faults.join(QLatin1Char('\n')).contains(path + QString::fromUtf8(c.expected)))
            << faults.join(QLatin1Char('\n')).toStdString();
    }
    const ConfigReading sound = ReadConfigText(path, kSound);
    EXPECT_TRUE(sound.faults.isEmpty()) << sound.faults.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(sound.config.lines.size(), 2u);
    EXPECT_EQ(sound.config.lines[0].relays.size() + sound.config.lines[1].relays.size(), 3u);
    const QStringList missing = ReadConfigFile(QStringLiteral("/nonexistent/none.yaml")).faults;
    EXPECT_TRUE(missing.join(QString()).contains(QStringLiteral("none.yaml: cannot read"))) << missing.join(QString()).toStdString();
}

// Every flag, its message and the exit status it ends with (none: the
// exporter goes on), as the manual page and scripts know them.
TEST(ExporterConfig, EveryFlagKeepsItsMessageAndStatus)
{
    const struct {
        QStringList args;
        std::optional<int> status;
        const char* said;       // in stdout's or stderr's text
    } cases[] = {
        {{}, 2, "--config FILE is needed\nTry 'zashchita-exporter --help'."},
        {{"--help"}, 0, "Usage: zashchita-exporter --config FILE"},
        {{"-h", "--bogus"}, 0, "Exit status: 0 done"},
        {{"--version"}, 0, "zashchita-exporter "},
        {{"--bogus", "--help"}, 2, "unknown argument \"--bogus\"\nTry 'zashchita-exporter --help'."},
        {{"--config=a.yaml"}, 2, "unknown argument \"--config=a.yaml\""},
        {{"--config"}, 2, "--config needs a value\nTry"},
        {{"--config", "", "--listen", "h:1"}, 2, "--config needs a value"},
        {{"--config", "a.yaml", "--state-dir"}, 2, "--state-dir needs a value"},
        {{"--config", "a.yaml", "--listen", ":80"}, 2, "--listen takes HOST:PORT, not \":80\""},
        {{"--config", "a.yaml", "--listen", "h:65536"}, 2, "--listen takes HOST:PORT, not \"h:65536\""},
        {{"--listen", "0.0.0.0:9847", "--config", "a.yaml", "--config", "b.yaml", "--check-config"}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ArgumentsReading r = ReadExporterArguments(QStringList{QStringLiteral("zashchita-exporter")} + c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE((r.out + r.error).contains(QString::fromUtf8(c.said))) << (r.out + r.error).toStdString();
    }
    const ArgumentsReading last = ReadExporterArguments({QStringLiteral("x"), QStringLiteral("--config"), QStringLiteral("a"),
                                                         QStringLiteral("--config"), QStringLiteral("b"),
                                                         QStringLiteral("--check-config"), QStringLiteral("--state-dir"),
                                                         QStringLiteral("/s")});
    EXPECT_EQ(last.args.config, QStringLiteral("b"));
    EXPECT_TRUE(last.args.check);
    EXPECT_EQ(last.args.listen, QStringLiteral("127.0.0.1:9847"));
    EXPECT_EQ(last.args.stateDir, QStringLiteral("/s"));
}

// The program as scripts and systemd run it: exit status, stdout, stderr,
// and under journald each line with its priority.
TEST(ExporterConfig, TheProgramSaysItOnItsStreams)
{
    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("sound.yaml"));
    const QString bad = dir.filePath(QStringLiteral("bad.yaml"));
    WriteText(sound, kSound);
    WriteText(bad, "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1}\n"
                   "      - {name: M2, address: 1}\n");
    const struct {
        QStringList args;
        bool journal;
        int status;
        QString out, err;
    } cases[] = {
        {{"--config", sound, "--check-config"}, false, 0, sound + ": 2 line(s), 3 relay(s)\n", ""},
        {{"--config", bad, "--check-config"}, false, 2, "",
         bad + ":6:29: address 1 is given twice on line \"a\"\n"
               "zashchita-exporter: 1 fault(s) in " + bad + "\n"},
        {{"--bogus"}, true, 2, "", "<3>zashchita-exporter: unknown argument \"--bogus\"\nTry 'zashchita-exporter --help'.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const QString errFile = dir.filePath(QStringLiteral("stderr"));
        WriteText(errFile, "");
        QProcess p;
        p.setStandardErrorFile(errFile);
        if (c.journal) {
            struct stat st {};
            ASSERT_EQ(stat(QFile::encodeName(errFile).constData(), &st), 0);
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("JOURNAL_STREAM"), QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino));
            p.setProcessEnvironment(env);
        }
        p.start(QStringLiteral(ZASHCHITA_EXPORTER_PATH), c.args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), c.status);
        EXPECT_EQ(p.readAllStandardOutput().toStdString(), c.out.toStdString());
        QFile err(errFile);
        err.open(QIODevice::ReadOnly);
        EXPECT_EQ(err.readAll().toStdString(), c.err.toStdString());
    }
}

// Every current parameter of the register map is exported.
TEST(ExporterConfig, MetricsCoverTheRegisterMap)
{
    std::set<QString> exported;
    for (const ReadingMetric& m : ReadingMetrics())
        exported.insert(QString::fromLatin1(m.key));
    for (const RegisterEntry* e : EntriesIn(kCurrentParamsBlock, {RegisterKind::Reading}))
        EXPECT_TRUE(exported.count(e->key)) << e->key.toStdString() << " is not exported";
}
