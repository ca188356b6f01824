// A trip the simulated relay records reaches the exporter's archive once and
// zashchita_trips_total once (the records before it as history); after a
// restart the archive is not added to again, and zashchita-cli records --archive prints it.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <cerrno>
#include <csignal>

#include "report/TripArchive.h"
#include "serial/OsError.h"
#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

QList<QByteArray> ArchiveLines(const QString& path)
{
    return SimLogLines(path);
}

double RequestsSent(const ExporterProcess& exporter)
{
    return SampleSum(exporter.Metrics(), "zashchita_relay_requests_total");
}

}  // namespace

TEST(ExporterArchive, ATripIsArchivedOnceAndNotAgainAfterARestart)
{
    QTemporaryDir dir;
    const std::vector<std::string> held{"--freeze", "--set", "50=93"};
    std::vector<std::string> args = held;
    args.push_back("--log");
    args.push_back(dir.filePath(QStringLiteral("sim.log")).toStdString());
    RelaySim sim(args);
    const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                          .arg(QString::fromStdString(sim.path())).toUtf8());
    const QString state = dir.filePath(QStringLiteral("state"));
    const QString archive = state + QStringLiteral("/records.jsonl");

    // The record the trip makes: the relay's frozen clock, the status of an
    // overload trip, then the values it holds.
    const std::map<int, int> r = RelaySim::dumpRegisters(held);
    const QJsonArray trip{r.at(67), r.at(68), r.at(69), r.at(70), r.at(71), 0x0208, r.at(50), r.at(51), r.at(52),
                          r.at(53), r.at(54), r.at(55), r.at(56), r.at(57), r.at(60), r.at(59), r.at(58)};
    {
        ExporterProcess exporter(config, state);
        // The four records there before, then the trip's.
        ASSERT_TRUE(WaitFor([&] { return ArchiveLines(archive).size() >= 4; }, 30000));
        EXPECT_EQ(SampleSum(exporter.Metrics(), "zashchita_trips_total"), 0);
        kill(sim.pid(), SIGUSR1);
        ASSERT_TRUE(WaitFor([&] { return ArchiveLines(archive).size() >= 5; }, 30000));
        // The rest of the slow blocks the trip made due (at most four
        // records and their current parameters between): a record archived
        // twice would show by then.
        const double asked = RequestsSent(exporter);
        ASSERT_TRUE(WaitFor([&] { return RequestsSent(exporter) >= asked + 10; }, 30000));
        const QByteArray metrics = exporter.Metrics();
        EXPECT_EQ(SampleSum(metrics, "zashchita_trips_total"), 1);
        EXPECT_EQ(Sample(metrics, "zashchita_status_flag{address=\"1\",flag=\"overload\",line=\"mill\",relay=\"D1\"}"), 1);
    }
    const QList<QByteArray> lines = ArchiveLines(archive);
    ASSERT_EQ(lines.size(), 5);
    int trips = 0;
    for (const QByteArray& line : lines) {
        const QJsonObject o = QJsonDocument::fromJson(line).object();
        EXPECT_EQ(o.value(QStringLiteral("relay")).toString(), QStringLiteral("D1"));
        EXPECT_EQ(o.value(QStringLiteral("history")).toBool(), o.value(QStringLiteral("registers")).toArray() != trip);
        if (o.value(QStringLiteral("registers")).toArray() == trip) {
            ++trips;
            EXPECT_EQ(o.value(QStringLiteral("cause")).toString(), QStringLiteral("overload"));
        }
    }
    EXPECT_EQ(trips, 1);

    {
        // Started again: every record read once more, none new, the trip counted as before.
        ExporterProcess exporter(config, state);
        ASSERT_TRUE(WaitFor([&] { return RequestsSent(exporter) >= 14; }, 30000));
        EXPECT_EQ(SampleSum(exporter.Metrics(), "zashchita_trips_total"), 1);
        EXPECT_EQ(ArchiveLines(archive).size(), 5);
    }

    QProcess cli;
    cli.start(QStringLiteral(ZASHCHITA_CLI_PATH), {QStringLiteral("records"), QStringLiteral("--archive"), archive,
                                                  QStringLiteral("--format"), QStringLiteral("jsonl")});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 0);
    const QList<QByteArray> printed = cli.readAllStandardOutput().trimmed().split('\n');
    ASSERT_EQ(printed.size(), 5);
    EXPECT_EQ(QJsonDocument::fromJson(printed[0]).object().value(QStringLiteral("relay")).toString(), QStringLiteral("D1"));

    for (const Frame& f : LoggedFrames(dir.filePath(QStringLiteral("sim.log"))))
        ASSERT_EQ(f.at(1), 3) << "the exporter sent function " << int(f.at(1));
}

// The archive keeps each relay's last eight trips for the recent-trip series,
// oldest first, and counts them all, in the running archive and after a restart.
TEST(ExporterArchive, TheRecentTripsAreTheLastEightOfAllCounted)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    TripArchive archive(path);
    for (uint16_t n = 1; n <= 10; ++n) {
        ArchivedRecord r{QDateTime::currentDateTimeUtc(), QStringLiteral("mill"), QStringLiteral("D1"), 1, 1,
                         QStringLiteral("overload"), std::vector<uint16_t>(17, n), false};
        ASSERT_TRUE(archive.Add(r));
    }
    TripArchive again(path);
    ASSERT_TRUE(again.Load());
    for (const TripArchive* a : {&archive, &again}) {
        const ArchivedRelay* relay = a->Relay(QStringLiteral("mill"), 1);
        ASSERT_TRUE(relay);
        EXPECT_EQ(relay->trips.at(QStringLiteral("overload")), 10);
        ASSERT_EQ(relay->recent.size(), ArchivedRelay::kRecentTrips);
        EXPECT_EQ(relay->recent.front().registers[0], 3);
        EXPECT_EQ(relay->recent.back().registers[0], 10);
    }
    // The system's reason in its own words; none given is said as such.
    EXPECT_EQ(OsErrorText(ENOENT), QStringLiteral("ENOENT (No such file or directory)"));
    EXPECT_EQ(OsErrorText(0), QStringLiteral("no reason given"));
}
