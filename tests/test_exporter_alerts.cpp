// The alert path as a plant runs it: the exporter on simulated lines, Debian's Prometheus and Alertmanager with
// the shipped rules and configuration, a webhook receiver of the test's own; what is asserted is what reached it.
// The test's timings: the rules' minutes taken as seconds, Alertmanager's group waits and intervals a second.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <iostream>
#include <set>

#include "exchanges/TripCause.h"
#include "report/TripArchive.h"
#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

// Appends the body of each POST, one JSON a line, to the file named.
const char kReceiver[] = R"(
import http.server, json, sys
class Receiver(http.server.BaseHTTPRequestHandler):
    log_message = lambda *args: None
    def do_POST(self):
        print(json.dumps(json.loads(self.rfile.read(int(self.headers['Content-Length'])))), file=open(sys.argv[2], 'a'), flush=True)
        self.send_response(200), self.end_headers()
http.server.HTTPServer(('127.0.0.1', int(sys.argv[1])), Receiver).serve_forever()
)";

QString Shipped(const char* name)
{
    QFile f(QStringLiteral(ZASHCHITA_TESTS_DIR "/../packaging/exporter/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

struct Server : QProcess {
    Server(const QString& program, const QStringList& args) { setProcessChannelMode(ForwardedErrorChannel), start(program, args); }
    ~Server() override { terminate(), waitForFinished(10000) || (kill(), true); }
};

// The labels of every firing alert named `name` received.
std::vector<QJsonObject> Alerts(const QString& file, const char* name)
{
    std::vector<QJsonObject> alerts;
    for (const QByteArray& line : SimLogLines(file))
        for (const QJsonValue& a : QJsonDocument::fromJson(line)[QStringLiteral("alerts")].toArray())
            if (a[QStringLiteral("status")] == QStringLiteral("firing") && a[QStringLiteral("labels")][QStringLiteral("alertname")] == QLatin1String(name))
                alerts.push_back(a[QStringLiteral("labels")].toObject());
    return alerts;
}

}  // namespace

TEST(ExporterAlerts, EveryTripPagesOnceAndALineDownOnce)
{
    QTemporaryDir dir;
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const QString notified = at("notified.jsonl"), state = at("state"), archive = state + QStringLiteral("/records.jsonl");
    const int receiverPort = FreePort(), amPort = FreePort(), promPort = FreePort(), exporterPort = FreePort();
    Server receiver(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kReceiver), QString::number(receiverPort), notified});
    // Each relay holds the simulator's four records; their clocks run, so that two trips make two records.
    RelaySim pumps;
    auto compressor = std::make_unique<RelaySim>(std::vector<std::string>{"--address", "1", "--address", "2", "--link", at("compressor").toStdString()});
    WriteText(at("exporter.yaml"), QStringLiteral("lines:\n  - {name: pumps, port: %1, relays: [{name: M1, address: 1}]}\n"
                                                  "  - {name: compressor, port: %2, relays: [{name: C1, address: 1}, {name: C2, address: 2}]}\n")
                                       .arg(QString::fromStdString(pumps.path()), at("compressor")).toUtf8());
    auto exporter = std::make_unique<ExporterProcess>(at("exporter.yaml"), state, QStringList(), at("exporter.log"), exporterPort);
    QString am = Shipped("alertmanager.yml");
    am.replace(QRegularExpression(QStringLiteral("url: \\S+")), QStringLiteral("url: http://127.0.0.1:%1/").arg(receiverPort));
    WriteText(at("alertmanager.yml"), am.replace(QRegularExpression(QStringLiteral("group_(wait|interval): \\S+")), QStringLiteral("group_\\1: 1s")).toUtf8());
    WriteText(at("rules.yml"), Shipped("zashchita-rules.yml").replace(QRegularExpression(QStringLiteral("(for: |\\[)(\\d+)m\\b")), QStringLiteral("\\1\\2s")).toUtf8());
    WriteText(at("prometheus.yml"), QStringLiteral("global: {scrape_interval: 1s, evaluation_interval: 1s}\nrule_files: [%1]\n"
                                                   "alerting: {alertmanagers: [{static_configs: [{targets: ['127.0.0.1:%2']}]}]}\n"
                                                   "scrape_configs: [{job_name: zashchita, static_configs: [{targets: ['127.0.0.1:%3']}]}]\n")
                                        .arg(at("rules.yml")).arg(amPort).arg(exporterPort).toUtf8());
    Server alertmanager(QStringLiteral("/usr/bin/prometheus-alertmanager"), {QStringLiteral("--config.file=") + at("alertmanager.yml"), QStringLiteral("--storage.path=") + at("am"),
                        QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(amPort), QStringLiteral("--cluster.listen-address="), QStringLiteral("--log.level=error")});
    Server prometheus(QStringLiteral("/usr/bin/prometheus"), {QStringLiteral("--config.file=") + at("prometheus.yml"), QStringLiteral("--storage.tsdb.path=") + at("tsdb"),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(promPort), QStringLiteral("--log.level=error")});
    const auto trip = [&](size_t count) { kill(pumps.pid(), SIGUSR1); return WaitFor([&] { return Alerts(notified, "ZashchitaTrip").size() >= count; }, 40000); };

    // The first start: twelve records of history; then a trip, the first to page.
    ASSERT_TRUE(WaitFor([&] { return SimLogLines(archive).size() == 12; }, 30000));
    ASSERT_TRUE(trip(1));
    const QDateTime first = QDateTime::currentDateTime();
    // A line cut: its alert, and its relays' held back by it.
    compressor.reset();
    ASSERT_TRUE(WaitFor([&] { return !Alerts(notified, "ZashchitaLineDown").empty(); }, 30000));
    const QByteArray inhibited = "/api/v2/alerts?active=false&silenced=false&unprocessed=false&filter=alertname%3D%22ZashchitaRelayDown%22";
    ASSERT_TRUE(WaitFor([&] { return QJsonDocument::fromJson(HttpGet(amPort, inhibited).body).array().size() == 2; }, 30000))
        << "the relays of the line cut are not held back";
    // A second trip of the same cause, 30 s after the first, while its alert fires.
    QThread::msleep(ulong(std::max<qint64>(0, 30000 - first.msecsTo(QDateTime::currentDateTime()))));
    ASSERT_TRUE(trip(2));

    // The archive cannot be written: the trip pages all the same, and the archive's alert.
    ASSERT_TRUE(QDir().rename(archive, archive + QStringLiteral(".kept")) && QDir().mkdir(archive));
    ASSERT_TRUE(trip(3));
    ASSERT_TRUE(WaitFor([&] { return !Alerts(notified, "ZashchitaArchiveFailing").empty(); }, 30000));
    ASSERT_TRUE(QDir().rmdir(archive) && QDir().rename(archive + QStringLiteral(".kept"), archive));
    ASSERT_TRUE(WaitFor([&] { return SimLogLines(archive).size() == 15; }, 30000));

    // A restart with a trip while the exporter is stopped: that trip pages once, the others never again,
    // and every trip counter is back at its value (M1's overloads 3 and the new one, the rest 0).
    exporter.reset();
    kill(pumps.pid(), SIGUSR1);
    exporter = std::make_unique<ExporterProcess>(at("exporter.yaml"), state, QStringList(), at("restarted.log"), exporterPort);
    ASSERT_TRUE(WaitFor([&] { return Alerts(notified, "ZashchitaTrip").size() >= 4; }, 40000));
    EXPECT_EQ(Sample(exporter->Metrics(), "zashchita_trips_total{address=\"1\",cause=\"overload\",line=\"pumps\",relay=\"M1\"}"), 4);
    EXPECT_EQ(exporter->Metrics().count("zashchita_trips_total{"), 3 * qsizetype(TripCauses().size()));
    EXPECT_EQ(SampleSum(exporter->Metrics(), "zashchita_trips_total"), 4);

    // Every trip paged once, named by its record; no record of the first look; the line once, none of its relays.
    std::multiset<std::string> paged, archived;
    for (const QJsonObject& labels : Alerts(notified, "ZashchitaTrip"))
        paged.insert((labels[QStringLiteral("relay")].toString() + QLatin1Char('/') + labels[QStringLiteral("record")].toString()).toStdString());
    for (const QByteArray& line : SimLogLines(archive))
        if (ArchivedRecord r; TripArchive::ParseLine(line, r) && !r.history)
            archived.insert((r.relay + QLatin1Char('/') + RecordId(r.line, r.address, r.registers)).toStdString());
    EXPECT_EQ(paged, archived);
    EXPECT_EQ(archived.size(), 4u);
    const std::vector<QJsonObject> lineDown = Alerts(notified, "ZashchitaLineDown");
    EXPECT_TRUE(lineDown.size() == 1 && lineDown[0][QStringLiteral("line")] == QStringLiteral("compressor")) << lineDown.size();
    EXPECT_TRUE(Alerts(notified, "ZashchitaRelayDown").empty());
    // And the log told it in the system's words.
    const QString log = QString::fromUtf8((SimLogLines(at("exporter.log")) + SimLogLines(at("restarted.log"))).join('\n'));
    for (const QString& told : {QStringLiteral("line \"compressor\" lost: EIO (Input/output error)"), at("compressor") + QStringLiteral(": ENOENT (No such file or directory)"),
                                QStringLiteral("relay M1 (address 1) tripped: overload (record 1, "), QStringLiteral("held in memory until the archive can be written")})
        EXPECT_TRUE(log.contains(told)) << told.toStdString() << "\n" << log.toStdString();
    std::cout << SimLogLines(notified).join('\n').constData() << '\n';
}
