// The alert path as a plant runs it: the exporter on simulated lines,
// Debian's Prometheus with the shipped rules, Debian's Alertmanager with the
// shipped configuration, and a webhook receiver of the test's own. The
// shipped files run with the test's timings: every time of the rules a
// sixtieth (a minute a second), Alertmanager's group waits and intervals a
// second. What is asserted is what reached the receiver.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <iostream>
#include <set>

#include "report/TripArchive.h"
#include "exchanges/TripCause.h"
#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

// Appends the body of each POST, one JSON a line, to the file named.
const char kReceiver[] = R"(
import http.server, json, sys
out = open(sys.argv[2], 'a')
class Receiver(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        out.write(json.dumps(json.loads(self.rfile.read(int(self.headers['Content-Length'])))) + '\n')
        out.flush()
        self.send_response(200)
        self.end_headers()
    def log_message(self, *args):
        pass
http.server.HTTPServer(('127.0.0.1', int(sys.argv[1])), Receiver).serve_forever()
)";

QString Shipped(const char* name)
{
    QFile f(QStringLiteral(ZASHCHITA_TESTS_DIR "/../packaging/exporter/") + QLatin1String(name));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
}

// Every time of `rules` in `for:`, `keep_firing_for:` and range selectors, a sixtieth.
QString ScaledRules(const QString& rules)
{
    static const QRegularExpression time(QStringLiteral("((?:for|keep_firing_for): |\\[)(\\d+)([smh])\\b"));
    QString scaled;
    qsizetype done = 0;
    for (const QRegularExpressionMatch& m : time.globalMatch(rules)) {
        const qint64 ms = m.captured(2).toLongLong() * (m.captured(3) == u"s" ? 1000 : m.captured(3) == u"m" ? 60000 : 3600000);
        scaled += rules.mid(done, m.capturedStart() - done) + m.captured(1) + QString::number(ms / 60) + QStringLiteral("ms");
        done = m.capturedEnd();
    }
    return scaled + rules.mid(done);
}

struct Server {
    QProcess process;
    Server(const QString& program, const QStringList& args)
    {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(program, args);
        process.waitForStarted();
    }
    ~Server()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
    }
};

// The alerts of every notification received, firing or resolved as `status` says.
std::vector<QJsonObject> Alerts(const QString& file, const QString& name, const QString& status = QStringLiteral("firing"))
{
    std::vector<QJsonObject> alerts;
    for (const QByteArray& line : SimLogLines(file))
        for (const QJsonValue& a : QJsonDocument::fromJson(line).object().value(QStringLiteral("alerts")).toArray())
            if (a[QStringLiteral("status")] == status && a[QStringLiteral("labels")][QStringLiteral("alertname")] == name)
                alerts.push_back(a[QStringLiteral("labels")].toObject());
    return alerts;
}

}  // namespace

TEST(ExporterAlerts, EveryTripPagesOnceAndALineDownOnce)
{
    QTemporaryDir dir;
    const QString notified = dir.filePath(QStringLiteral("notified.jsonl"));
    const int receiverPort = FreePort(), amPort = FreePort(), promPort = FreePort(), exporterPort = FreePort();
    Server receiver(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), QString::fromLatin1(kReceiver),
                                                         QString::number(receiverPort), notified});
    // Each relay holds the simulator's four records; the relays' clocks run,
    // so that two trips make two records.
    RelaySim pumps;
    auto compressor = std::make_unique<RelaySim>(std::vector<std::string>{"--address", "1", "--address", "2"});
    const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    WriteText(config, QStringLiteral("lines:\n  - {name: pumps, port: %1, relays: [{name: M1, address: 1}]}\n"
                                     "  - {name: compressor, port: %2, relays: [{name: C1, address: 1}, {name: C2, address: 2}]}\n")
                          .arg(QString::fromStdString(pumps.path()), QString::fromStdString(compressor->path())).toUtf8());
    const QString state = dir.filePath(QStringLiteral("state")), archive = state + QStringLiteral("/records.jsonl");
    auto exporter = std::make_unique<ExporterProcess>(config, state, exporterPort);

    QString am = Shipped("alertmanager.yml");
    am.replace(QRegularExpression(QStringLiteral("url: \\S+")), QStringLiteral("url: http://127.0.0.1:%1/").arg(receiverPort));
    am.replace(QRegularExpression(QStringLiteral("group_(wait|interval): \\S+")), QStringLiteral("group_\\1: 1s"));
    WriteText(dir.filePath(QStringLiteral("alertmanager.yml")), am.toUtf8());
    WriteText(dir.filePath(QStringLiteral("rules.yml")), ScaledRules(Shipped("zashchita-rules.yml")).toUtf8());
    WriteText(dir.filePath(QStringLiteral("prometheus.yml")),
              QStringLiteral("global: {scrape_interval: 1s, evaluation_interval: 1s}\nrule_files: [%1]\n"
                             "alerting: {alertmanagers: [{static_configs: [{targets: ['127.0.0.1:%2']}]}]}\n"
                             "scrape_configs:\n  - {job_name: zashchita, static_configs: [{targets: ['127.0.0.1:%3']}]}\n")
                  .arg(dir.filePath(QStringLiteral("rules.yml"))).arg(amPort).arg(exporterPort).toUtf8());
    Server alertmanager(QStringLiteral("/usr/bin/prometheus-alertmanager"),
                        {QStringLiteral("--config.file=") + dir.filePath(QStringLiteral("alertmanager.yml")),
                         QStringLiteral("--storage.path=") + dir.filePath(QStringLiteral("am")),
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(amPort), QStringLiteral("--cluster.listen-address="),
                         QStringLiteral("--log.level=error")});
    Server prometheus(QStringLiteral("/usr/bin/prometheus"),
                      {QStringLiteral("--config.file=") + dir.filePath(QStringLiteral("prometheus.yml")),
                       QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("tsdb")),
                       QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(promPort), QStringLiteral("--log.level=error")});
    const auto trips = [&] { return Alerts(notified, QStringLiteral("ZashchitaTrip")); };
    const auto trip = [&](size_t count) {
        kill(pumps.pid(), SIGUSR1);
        return WaitFor([&] { return trips().size() >= count; }, 40000);
    };

    // The first start: twelve records of history, then a trip, the first to page.
    ASSERT_TRUE(WaitFor([&] { return SimLogLines(archive).size() == 12; }, 30000));
    ASSERT_TRUE(trip(1));
    QElapsedTimer sinceFirst;
    sinceFirst.start();
    // A line cut: its alert, and its relays' held back by it.
    compressor.reset();
    ASSERT_TRUE(WaitFor([&] { return !Alerts(notified, QStringLiteral("ZashchitaLineDown")).empty(); }, 30000));
    ASSERT_TRUE(WaitFor([&] {
        int held = 0;
        for (const QJsonValue& a : QJsonDocument::fromJson(HttpGet(amPort, "/api/v2/alerts").body).array())
            held += a[QStringLiteral("labels")][QStringLiteral("alertname")].toString() == u"ZashchitaRelayDown"
                && a[QStringLiteral("status")][QStringLiteral("inhibitedBy")].toArray().size() > 0;
        return held == 2;
    }, 30000)) << "the relays of the line cut are not held back";
    // A second trip of the same cause, 30 s after the first, while its alert fires.
    QThread::msleep(ulong(std::max<qint64>(0, 30000 - sinceFirst.elapsed())));
    ASSERT_TRUE(trip(2));

    // The archive cannot be written: the trip pages all the same, and the archive's alert.
    ASSERT_TRUE(QDir().rename(archive, archive + QStringLiteral(".kept")) && QDir().mkdir(archive));
    ASSERT_TRUE(trip(3));
    ASSERT_TRUE(WaitFor([&] { return !Alerts(notified, QStringLiteral("ZashchitaArchiveFailing")).empty(); }, 30000));
    EXPECT_EQ(Sample(exporter->Metrics(), "zashchita_archive_unwritten_records"), 1);
    ASSERT_TRUE(QDir().rmdir(archive) && QDir().rename(archive + QStringLiteral(".kept"), archive));
    ASSERT_TRUE(WaitFor([&] { return SimLogLines(archive).size() == 15; }, 30000));

    // A restart: every counter back at its value; the next trip is the next notification.
    exporter = std::make_unique<ExporterProcess>(config, state, exporterPort);
    ASSERT_TRUE(WaitFor([&] { return Sample(exporter->Metrics(), "zashchita_relay_up{address=\"1\",line=\"pumps\",relay=\"M1\"}") == 1; }, 10000));
    const QByteArray metrics = exporter->Metrics();
    for (const char* relay : {"address=\"1\",cause=\"%1\",line=\"pumps\",relay=\"M1\"", "address=\"1\",cause=\"%1\",line=\"compressor\",relay=\"C1\"",
                              "address=\"2\",cause=\"%1\",line=\"compressor\",relay=\"C2\""})
        for (const QString& cause : TripCauses())
            EXPECT_EQ(Sample(metrics, "zashchita_trips_total{" + QString::fromLatin1(relay).arg(cause).toUtf8() + '}'),
                      cause == u"overload" && QByteArray(relay).contains("M1") ? 3 : 0) << relay << " " << cause.toStdString();
    ASSERT_TRUE(trip(4));

    // Every trip paged once, named by its record; no record of the first look; the line once, none of its relays.
    std::multiset<QString> paged, archived;
    for (const QJsonObject& labels : trips())
        paged.insert(labels[QStringLiteral("relay")].toString() + QLatin1Char('/') + labels[QStringLiteral("record")].toString());
    for (const QByteArray& line : SimLogLines(archive)) {
        ArchivedRecord r;
        if (TripArchive::ParseLine(line, r) && !r.history)
            archived.insert(r.relay + QLatin1Char('/') + RecordId(r.line, r.address, r.registers));
    }
    EXPECT_EQ(paged, archived);
    EXPECT_EQ(archived.size(), 4u);
    const std::vector<QJsonObject> lineDown = Alerts(notified, QStringLiteral("ZashchitaLineDown"));
    ASSERT_EQ(lineDown.size(), 1u);
    EXPECT_EQ(lineDown[0][QStringLiteral("line")].toString(), QStringLiteral("compressor"));
    EXPECT_TRUE(Alerts(notified, QStringLiteral("ZashchitaRelayDown")).empty());
    for (const QByteArray& line : SimLogLines(notified))
        std::cout << line.constData() << '\n';
}
