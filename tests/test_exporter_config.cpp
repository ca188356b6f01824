// zashchita-exporter --check-config: each fault of a configuration named by
// file, line and column, the exit codes scripts rely on, and nothing opened.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>

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
    QProcess p;
    p.start(QStringLiteral(ZASHCHITA_EXPORTER_PATH), {QStringLiteral("--config"), path, QStringLiteral("--check-config")});
    p.waitForFinished(10000);
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError())};
}

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
        {"not YAML", "lines: [\n", 2, ":2:1: "},
        {"empty", "", 2, ": the file is empty"},
        {"too large", "#" + QByteArray(kMaxConfigBytes, 'x') + "\nlines: []\n", 2, ": the file is larger than 1048576 bytes"},
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
    const Checked missing = Check(dir.filePath(QStringLiteral("none.yaml")));
    EXPECT_EQ(missing.status, 2);
    EXPECT_TRUE(missing.text.contains(QStringLiteral("none.yaml: cannot read"))) << missing.text.toStdString();
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
