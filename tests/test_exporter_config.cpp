// zashchita-exporter --check-config: each fault of a configuration named by
// file, line and column, the exit codes scripts rely on, and nothing opened.
#include <gtest/gtest.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTimeZone>

#include <ctime>
#include <optional>

#include "ExporterConfig.h"
#include "RelayMetrics.h"
#include "StatusFlags.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RelayClock.h"
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

// Every current parameter of the register map is exported, every status lamp
// has a flag of its own, and a trip's cause is one of the flags' names.
TEST(ExporterConfig, MetricsCoverTheRegisterMap)
{
    std::set<QString> exported;
    for (const ReadingMetric& m : ReadingMetrics())
        exported.insert(QString::fromLatin1(m.key));
    for (const RegisterEntry* e : EntriesIn(kCurrentParamsBlock, {RegisterKind::Reading}))
        EXPECT_TRUE(exported.count(e->key)) << e->key.toStdString() << " is not exported";
    std::set<QString> flags;
    for (const StatusFlag& f : StatusFlags()) {
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[a-z][a-z0-9_]*$")).match(f.name).hasMatch()) << f.name.toStdString();
        flags.insert(f.name);
    }
    EXPECT_EQ(flags.size(), EntriesIn(kCurrentParamsBlock, {RegisterKind::StatusBit}).size());
    EXPECT_EQ(TripCause(0x0208), QStringLiteral("overload"));          // overload, motor off
    EXPECT_EQ(TripCause(0x8201), QStringLiteral("instantaneous_overcurrent"));
    EXPECT_EQ(TripCause(0x0600), QStringLiteral("other"));             // states only
}

// The relay's clock against the PC's local time, Berlin's summer time
// included: the nearest year counts, and each moment is taken at its own
// offset from UTC.
TEST(ExporterConfig, ClockOffsetTakesTheNearestYearAndItsOwnZoneOffset)
{
    const QByteArray savedTz = qgetenv("TZ");
    qputenv("TZ", "Europe/Berlin");
    tzset();
    const QTimeZone berlin("Europe/Berlin");
    struct Case {
        QDateTime now;
        RelayClockFields relay;   // month, day, hour, minute, second
        std::optional<qint64> offsetMs;
    };
    const auto at = [&](int y, int mo, int d, int h, int mi, int s) { return QDateTime(QDate(y, mo, d), QTime(h, mi, s), berlin); };
    const std::vector<Case> cases{
        {at(2026, 6, 15, 12, 0, 0), {6, 15, 12, 0, 30}, 30000},
        {at(2026, 12, 31, 23, 59, 50), {1, 1, 0, 0, 10}, 20000},        // the relay in the next year
        {at(2027, 1, 1, 0, 0, 5), {12, 31, 23, 59, 55}, -10000},        // the relay in the last year
        {at(2026, 3, 29, 3, 0, 10), {3, 29, 1, 59, 50}, -20000},        // before the clocks went forward
        {at(2026, 10, 25, 12, 0, 0), {10, 24, 12, 0, 0}, -25 * 3600 * 1000LL},   // across their going back
        {at(2028, 2, 29, 12, 0, 0), {2, 29, 12, 0, 1}, 1000},
        {at(2026, 6, 15, 12, 0, 0), {13, 1, 0, 0, 0}, std::nullopt},
        {at(2026, 6, 15, 12, 0, 0), {6, 15, 24, 0, 0}, std::nullopt},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ClockOffsetMs(c.relay, c.now.toMSecsSinceEpoch()), c.offsetMs) << c.now.toString(Qt::ISODate).toStdString();
    if (savedTz.isNull())
        qunsetenv("TZ");
    else
        qputenv("TZ", savedTz);
    tzset();
}
