// zashchita-exporter --check-config: each fault of a configuration named by
// file, line and column, and nothing opened; the flags; the exit codes.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

#include <optional>
#include <sys/stat.h>

#include "Arguments.h"
#include "ExporterConfig.h"
#include "RelayMetrics.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"
#include "support/ExporterRun.h"

namespace {

struct Checked {
    int status;
    QString text;
};

Checked Check(const QString& path)
{
    const ConfigReading r = ReadConfigFile(path);
    return {r.faults.isEmpty() ? 0 : 2, r.faults.isEmpty() ? ConfigSummary(path, r.config) : r.faults.join(QLatin1Char('\n'))};
}

const char* const kSound = "modbus_listen: 127.0.0.1:5020\n"
                           "modbus_max_age: {current: 2s, records: 60s}\n"
                           "lines:\n"
                           "  - name: pumps\n"
                           "    port: /nonexistent/ttyUSB9\n"
                           "    poll_interval: 250ms\n"
                           "    relays:\n"
                           "      - {name: M1, address: 1, labels: {motor: feed}}\n"
                           "      - {name: M2, address: 2, unit: 2}\n"
                           "  - name: fans\n"
                           "    port: modbus-tcp://192.0.2.1\n"
                           "    relays: [{name: F1, address: 246}]\n";

}  // namespace

TEST(ExporterConfig, FaultsAreNamedWithLineAndColumn)
{
    const struct {
        const char* name;
        QByteArray text;
        int status;
        const char* expected;   // in the output
    } cases[] = {
        {"sound, and no port opened", kSound, 0, ": 2 line(s), 3 relay(s)"},
        {"unknown key in a relay", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, adress: 1}\n",
         2, ":5:20: unknown key \"adress\" in a relay"},
        {"unknown key at the top", "lines: []\nlisten: 1\n", 2, ":2:1: unknown key \"listen\""},
        {"duplicate address", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1}\n"
                              "      - {name: M2, address: 1}\n",
         2, ":6:29: address 1 is given twice on line \"a\""},
        {"duplicate relay name", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1}\n"
                                 "      - {name: M1, address: 2}\n",
         2, ":6:16: relay \"M1\" is given twice"},
        {"duplicate key", "lines:\n  - name: a\n    name: b\n    port: /dev/x\n    relays: [{name: M1, address: 1}]\n",
         2, ":3:5: key \"name\" given twice in a line"},
        {"duplicate line and port", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1}]}\n"
                                    "  - {name: a, port: /dev/x, relays: [{name: M1, address: 1}]}\n",
         2, ":3:12: line \"a\" is given twice"},
        {"address out of range", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 247}]}\n",
         2, ":2:58: a relay's address must be a whole number from 1 to 246 (not \"247\")"},
        {"bad endpoint", "lines:\n  - {name: a, port: \"tcp://host\", relays: [{name: M1, address: 1}]}\n",
         2, ":2:21: port \"tcp://host\""},
        {"bad interval", "lines:\n  - {name: a, port: /dev/x, poll_interval: 5 min, relays: [{name: M1, address: 1}]}\n",
         2, ":2:44: poll_interval must be a time"},
        {"reserved label", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1, labels: {line: x}}]}\n",
         2, ":2:70: label \"line\" is the exporter's own"},
        {"no relays", "lines:\n  - {name: a, port: /dev/x}\n", 2, ":2:5: a line needs \"relays\""},
        {"not YAML", "lines: [\n", 2, ":1:8: \"[\" is not closed (end of sequence flow not found at line 2, column 1)"},
        {"a map left open", "lines:\n  - name: a\n    port: /dev/x\n    relays:\n      - {name: M1, address: 1\n"
                            "      - {name: M2, address: 2}\n",
         2, ":5:9: \"{\" is not closed"},
        {"a list left open", "lines:\n  - name: a\n    port: /dev/x\n    relays: [{name: M1, address: 1}\n  - name: b\n",
         2, ":4:13: \"[\" is not closed"},
        {"Cyrillic names, 64 characters", "lines:\n  - name: " + QByteArray("Ж").repeated(64) +
                                          "\n    port: /dev/x\n    relays: [{name: ПНС-1, address: 1}]\n",
         0, ": 1 line(s), 1 relay(s)"},
        {"65 characters", "lines:\n  - {name: " + QByteArray("Ж").repeated(65) + ", port: /dev/x, relays: [{name: M, address: 1}]}\n",
         2, ":2:12: a line's name must be 1 to 64 characters, none of them a control character"},
        {"a control character", "lines:\n  - {name: a, port: /dev/x, relays: [{name: \"M\\u0007\", address: 1}]}\n",
         2, ":2:45: a relay's name must be 1 to 64 characters, none of them a control character (not \"M\\u0007\": "
            "it holds the control character U+0007)"},
        {"an empty name", "lines:\n  - {name: '', port: /dev/x, relays: [{name: M, address: 1}]}\n",
         2, ":2:12: a line's name must be 1 to 64"},
        {"a time without its unit", "lines:\n  - {name: a, port: /dev/x, timeout: 1, relays: [{name: M1, address: 1}]}\n",
         2, ":2:38: timeout: \"1\" needs a unit, e.g. 1s or 500ms"},
        {"a device server without its port", "lines:\n  - {name: a, port: \"tcp://192.168.1.20\", relays: [{name: M, address: 1}]}\n",
         2, ":2:21: port \"tcp://192.168.1.20\" needs its port: the device server's TCP port of the relays' line, "
            "e.g. tcp://192.168.1.20:4001"},
        {"empty", "", 2, ": the file is empty"},
        {"too large", "#" + QByteArray(kMaxConfigBytes, 'x') + "\nlines: []\n", 2, ": the file is larger than 1048576 bytes"},
        {"one unit, two relays", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1, unit: 5}]}\n"
                                 "  - {name: b, port: /dev/y, relays: [{name: M1, address: 1, unit: 5}]}\n",
         2, ":3:67: unit 5 of relay \"M1\" on line \"b\" is given already at 2:67 to relay \"M1\" on line \"a\""},
        {"unit out of range", "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1, unit: 248}]}\n", 2,
         ":2:67: a relay's unit must be a whole number from 1 to 247 (not \"248\")"},
        {"nothing to serve", "modbus_listen: 127.0.0.1:5020\nlines: [{name: a, port: /dev/x, relays: [{name: M1, address: 1}]}]\n",
         2, ":1:16: modbus_listen is given, but no relay has a unit"},
        {"listen without a port", "modbus_listen: localhost\nlines: [{name: a, port: /dev/x, relays: [{name: M1, address: 1, unit: 1}]}]\n",
         2, ":1:16: modbus_listen must be HOST:PORT (not \"localhost\")"},
        {"an age of no block", "modbus_max_age: {fast: 1s}\nlines: [{name: a, port: /dev/x, relays: [{name: M1, address: 1}]}]\n",
         2, ":1:18: unknown key \"fast\" in modbus_max_age (known: current, settings, records)"},
    };
    QTemporaryDir dir;
    for (const auto& c : cases) {
        const QString path = dir.filePath(QStringLiteral("exporter.yaml"));
        WriteText(path, c.text);
        const Checked checked = Check(path);
        EXPECT_EQ(checked.status, c.status) << c.name << "\n" << checked.text.toStdString();
        EXPECT_TRUE(checked.text.contains(path + QString::fromUtf8(c.expected)) ||
                    (c.status == 0 && checked.text.contains(QString::fromUtf8(c.expected))))
            << c.name << "\n" << checked.text.toStdString();
    }
    const ExporterConfig sound = ReadConfigText(QStringLiteral("sound"), kSound).config;
    EXPECT_EQ(std::make_tuple(sound.modbusCurrentMaxAgeMs, sound.modbusSettingsMaxAgeMs, sound.modbusRecordsMaxAgeMs,
                              sound.lines[0].relays[1].unit, sound.lines[0].relays[0].unit), std::make_tuple(2000, 0, 60000, 2, 0));
    const Checked missing = Check(dir.filePath(QStringLiteral("none.yaml")));
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.text.contains(QStringLiteral("none.yaml: cannot read"))) << missing.text.toStdString();
}

// Every time key takes a time with its unit, in whole milliseconds.
TEST(ExporterConfig, TimesNeedTheirUnit)
{
    const struct {
        const char* given;
        int ms;   // -1: refused
    } cases[] = {{"500ms", 500}, {"1.5s", 1500}, {"2m", 120000}, {"1h", 3600000}, {"0.02s", 20},
                 {"500", -1}, {"2.5", -1}, {"0.5ms", -1}, {"1.0001s", -1}, {"2 m", -1}, {"-1s", -1}};
    for (const auto& c : cases) {
        for (const char* key : {"poll_interval", "timeout"}) {
            if (std::string(key) == "timeout" && c.ms > 10000)
                continue;   // beyond the time-out's range
            SCOPED_TRACE(std::string(key) + ": " + c.given);
            const ConfigReading r = ReadConfigText(QStringLiteral("e.yaml"),
                std::string("lines: [{name: a, port: /dev/x, ") + key + ": " + c.given + ", relays: [{name: M, address: 1}]}]\n");
            ASSERT_EQ(r.faults.isEmpty(), c.ms >= 0) << r.faults.join(QLatin1Char('\n')).toStdString();
            if (c.ms >= 0)
                EXPECT_EQ(std::string(key) == "timeout" ? r.config.lines[0].timeoutMs : r.config.lines[0].pollIntervalMs, c.ms);
        }
    }
}

// Every flag's message and the exit status it ends with (none: go on).
TEST(ExporterConfig, EveryFlagKeepsItsMessageAndStatus)
{
    const struct {
        QStringList args;
        std::optional<int> status;
        const char* said;       // on stdout or stderr
    } cases[] = {
        {{}, 2, "--config FILE is needed\nTry 'zashchita-exporter --help'."},
        {{"--help"}, 0, "Usage: zashchita-exporter --config FILE"},
        {{"--version"}, 0, "zashchita-exporter "},
        {{"--bogus", "--help"}, 2, "unknown argument \"--bogus\"\nTry 'zashchita-exporter --help'."},
        {{"--config=a.yaml", "--help=x"}, 2, "unknown argument \"--help=x\""},
        {{"--config=a.yaml", "--listen=:80"}, 2, "--listen takes HOST:PORT, not \":80\""},
        {{"--config", "a", "--web.config.file="}, 2, "--web.config.file needs a value"},
        {{"--config"}, 2, "--config needs a value\nTry"},
        {{"--config", "a.yaml", "--state-dir"}, 2, "--state-dir needs a value"},
        {{"--config", "a.yaml", "--listen", ":80"}, 2, "--listen takes HOST:PORT, not \":80\""},
        {{"--config", "a.yaml", "--modbus-listen", "5020"}, 2, "--modbus-listen takes HOST:PORT, not \"5020\""},
        {{"--config", "a", "--config", "b", "--check-config", "--state-dir", "/s"}, std::nullopt, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const ArgumentsReading r = ReadExporterArguments(QStringList{QStringLiteral("zashchita-exporter")} + c.args);
        EXPECT_EQ(r.status, c.status);
        EXPECT_TRUE((r.out + r.error).contains(QString::fromUtf8(c.said))) << (r.out + r.error).toStdString();
    }
}

// The program as scripts and systemd run it: exit status, stdout, stderr,
// and on journald's stream each line with its priority.
TEST(ExporterConfig, TheProgramSaysItOnItsStreams)
{
    QTemporaryDir dir;
    const QString sound = dir.filePath(QStringLiteral("sound.yaml")), bad = dir.filePath(QStringLiteral("bad.yaml"));
    const QString err = dir.filePath(QStringLiteral("stderr"));
    WriteText(sound, kSound);
    WriteText(bad, "lines:\n  - {name: a, port: /dev/x, relays: [{name: M1, address: 1}, {name: M2, address: 1}]}\n");
    const struct {
        QStringList args;
        bool journal;
        int status;
        QString out, err;
    } cases[] = {
        {{"--config", sound, "--check-config"}, false, 0, sound + ": 2 line(s), 3 relay(s)\n", ""},
        {{"--config", bad, "--check-config"}, false, 2, "",
         bad + ":2:82: address 1 is given twice on line \"a\"\nzashchita-exporter: 1 fault(s) in " + bad + "\n"},
        {{"--bogus"}, true, 2, "", "<3>zashchita-exporter: unknown argument \"--bogus\"\nTry 'zashchita-exporter --help'.\n"},
        // A state folder that cannot be written ends it at once, saying why.
        {{"--config", sound, "--state-dir", sound + "/s"}, false, 1, "",
         "zashchita-exporter: cannot write to the state folder " + sound + "/s: cannot make " + sound + "/s: ENOTDIR (Not a directory)\n"},
        {{"--config", sound, "--state-dir", dir.path()}, false, 1, "", "zashchita-exporter: cannot write to the state folder "
         + dir.path() + ": cannot open records.jsonl for appending: EISDIR (Is a directory)\n"},
    };
    ASSERT_TRUE(QDir(dir.path()).mkdir(QStringLiteral("records.jsonl")));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        WriteText(err, "");
        struct stat st {};
        stat(QFile::encodeName(err).constData(), &st);
        QProcess p;
        p.setStandardErrorFile(err);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("JOURNAL_STREAM"), c.journal ? QStringLiteral("%1:%2").arg(st.st_dev).arg(st.st_ino) : QString());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(ZASHCHITA_EXPORTER_PATH), c.args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), c.status);
        EXPECT_EQ(p.readAllStandardOutput().toStdString(), c.out.toStdString());
        QFile said(err);
        EXPECT_TRUE(said.open(QIODevice::ReadOnly));
        EXPECT_EQ(said.readAll().toStdString(), c.err.toStdString());
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
