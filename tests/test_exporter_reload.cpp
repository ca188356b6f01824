// zashchita-exporter's signals: SIGHUP applies a sound file (what it keeps
// polls on, its counters never starting again) and keeps the running one
// for a file with a fault, naming it; SIGTERM and SIGINT end it with 0.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <map>

#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

const QByteArray kApplied = "zashchita_exporter_config_last_reload_successful";

QByteArray Requests(const char* line, const char* relay, int address)
{
    return "zashchita_relay_requests_total{address=\"" + QByteArray::number(address) + "\",line=\"" + line + "\",relay=\"" + relay + "\"}";
}

// Scrapes until `done` holds of a scrape; every scrape on the way must
// show each of `kept` present and no lower than it was: a counter that
// went missing or fell was started again.
template <class Done>
void ScrapeUntil(const ExporterProcess& exporter, std::map<QByteArray, double>& kept, Done done)
{
    for (int scrape = 0; scrape < 3000; ++scrape) {   // a minute and more on a loaded machine
        const QByteArray metrics = exporter.Metrics();
        for (auto& [series, last] : kept) {
            const std::optional<double> now = Sample(metrics, series);
            ASSERT_TRUE(now.has_value()) << series.toStdString() << " went missing";
            ASSERT_GE(*now, last) << series.toStdString() << " started again";
            last = *now;
        }
        if (done(metrics))
            return;
        QThread::msleep(20);
    }
    FAIL() << "not seen in 3000 scrapes";
}

QByteArray Said(const QString& path)
{
    return SimLogLines(path).join('\n');
}

}  // namespace

TEST(ExporterReload, SighupAppliesASoundFileAndKeepsTheRunningOneForAFaultyOne)
{
    QTemporaryDir dir;
    const QString simLog = dir.filePath(QStringLiteral("sim.log"));
    RelaySim sim({"--freeze", "--lines", "3", "--address", "1", "--address", "2", "--link",
                  dir.filePath(QStringLiteral("line")).toStdString(), "--log", simLog.toStdString()});
    const QString config = dir.filePath(QStringLiteral("exporter.yaml")), said = dir.filePath(QStringLiteral("stderr"));
    const QByteArray north = "  - {name: north, port: " + dir.filePath(QStringLiteral("line.1")).toUtf8() +
                             ", relays: [{name: N1, address: 1}]}\n";
    const QByteArray south = "  - {name: south, port: " + dir.filePath(QStringLiteral("line.2")).toUtf8() + ", relays: [{name: S1, address: 1}";
    const QByteArray east = "  - {name: east, port: " + dir.filePath(QStringLiteral("line.3")).toUtf8() +
                            ", relays: [{name: E1, address: 2}]}\n";
    WriteText(config, "lines:\n" + north + south + "]}\n");
    ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")), {}, said);

    std::map<QByteArray, double> kept{{Requests("north", "N1", 1), 0}, {Requests("south", "S1", 1), 0}};
    ScrapeUntil(exporter, kept, [&](const QByteArray&) { return kept.begin()->second >= 20 && kept.rbegin()->second >= 20; });

    // A relay and a line added; the relays already there poll on.
    WriteText(config, "lines:\n" + north + south + ", {name: ПНС-2, address: 2}]}\n" + east);
    exporter.Signal(SIGHUP);
    ScrapeUntil(exporter, kept, [](const QByteArray& m) {
        return Sample(m, "zashchita_relay_up{address=\"2\",line=\"south\",relay=\"ПНС-2\"}") == 1 &&
               Sample(m, "zashchita_relay_up{address=\"2\",line=\"east\",relay=\"E1\"}") == 1;
    });
    kept.emplace(Requests("east", "E1", 2), 0);
    EXPECT_EQ(Sample(exporter.Metrics(), kApplied), 1);

    // A fault: the running configuration goes on, east included.
    WriteText(config, "lines:\n" + north + south + "]}\n  - {name: east, port: /dev/null, timeout: 1,\n     relays: []}\n");
    for (int k = 0; k < 3; ++k)
        exporter.Signal(SIGHUP);
    ScrapeUntil(exporter, kept, [&](const QByteArray& m) { return Sample(m, kApplied) == 0; });
    const double east1 = kept[Requests("east", "E1", 2)];
    ScrapeUntil(exporter, kept, [&](const QByteArray&) { return kept[Requests("east", "E1", 2)] >= east1 + 5; });
    EXPECT_TRUE(Said(said).contains(config.toUtf8() + ":4:44: timeout: \"1\" needs a unit, e.g. 1s or 500ms"))
        << Said(said).toStdString();
    EXPECT_TRUE(Said(said).contains("reload refused: 2 fault(s) in " + config.toUtf8()));

    // Sound again, without east: its series go, the others' stay.
    kept.erase(Requests("east", "E1", 2));
    WriteText(config, "lines:\n" + north + south + "]}\n");
    exporter.Signal(SIGHUP);
    ScrapeUntil(exporter, kept, [](const QByteArray& m) { return Sample(m, kApplied) == 1 && !m.contains("line=\"east\""); });
    EXPECT_TRUE(exporter.Running());
    EXPECT_EQ(exporter.Stop(), 0);
    for (const Frame& f : LoggedFrames(simLog))
        ASSERT_EQ(f.at(1), 3) << "the exporter sent function " << int(f.at(1));
}

TEST(ExporterReload, StopSignalsEndItWithStatus0)
{
    QTemporaryDir dir;
    RelaySim sim({"--freeze"});
    const QString config = dir.filePath(QStringLiteral("exporter.yaml")), said = dir.filePath(QStringLiteral("stderr"));
    WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                          .arg(QString::fromStdString(sim.path())).toUtf8());
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sigabbrev_np(signal));
        ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")), {}, said);
        ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_relay_up{address=\"1\",line=\"mill\",relay=\"D1\"}") == 1; }, 10000));
        exporter.Signal(signal);
        EXPECT_EQ(exporter.WaitExit(10000), 0);
        EXPECT_TRUE(Said(said).contains(QByteArray("SIG") + sigabbrev_np(signal) + ": stopping"));
    }
}
