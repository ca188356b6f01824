// Debian's Prometheus scrapes zashchita-exporter polling two simulated lines,
// one with three relays of which one is dead: what Prometheus stores is what
// the simulator holds, the dead relay is `up` 0 with no values, and the
// simulator never saw a write.
#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QUrl>

#include "exchanges/RegisterTable.h"
#include "support/ExporterRun.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

// The values of an instant query, by the series' relay label.
std::vector<double> Query(int port, const QString& promql)
{
    const QByteArray target = "/api/v1/query?query=" + QUrl::toPercentEncoding(promql);
    const QJsonObject reply = QJsonDocument::fromJson(HttpGet(port, target).body).object();
    std::vector<double> values;
    for (const QJsonValue& r : reply.value(QStringLiteral("data")).toObject().value(QStringLiteral("result")).toArray())
        values.push_back(r.toObject().value(QStringLiteral("value")).toArray().at(1).toString().toDouble());
    return values;
}

}  // namespace

TEST(ExporterPrometheus, PrometheusStoresWhatTheRelaysHold)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("sim.log"));
    const std::vector<std::string> simArgs{"--freeze", "--set", "50=87", "--set", "108=1250", "--address", "1",
                                           "--address", "2"};
    std::vector<std::string> args = simArgs;
    for (const char* more : {"--lines", "2", "--link"})
        args.push_back(more);
    args.push_back(dir.filePath(QStringLiteral("line")).toStdString());
    args.push_back("--log");
    args.push_back(log.toStdString());
    RelaySim sim(args);
    const std::map<int, int> held = RelaySim::dumpRegisters(simArgs);

    const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    WriteText(config, QStringLiteral("lines:\n"
                                     "  - name: north\n    port: %1.1\n"
                                     "    relays: [{name: M1, address: 1}, {name: M2, address: 2}, {name: M9, address: 9}]\n"
                                     "  - name: south\n    port: %1.2\n    relays: [{name: P1, address: 2}]\n")
                          .arg(dir.filePath(QStringLiteral("line"))).toUtf8());
    ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")));

    const int promPort = FreePort();
    WriteText(dir.filePath(QStringLiteral("prometheus.yml")),
              QStringLiteral("global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                             "scrape_configs:\n  - job_name: zashchita\n"
                             "    static_configs: [{targets: ['127.0.0.1:%1']}]\n").arg(exporter.Port()).toUtf8());
    QProcess prometheus;
    prometheus.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prometheus.start(QStringLiteral("/usr/bin/prometheus"),
                     {QStringLiteral("--config.file=") + dir.filePath(QStringLiteral("prometheus.yml")),
                      QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("tsdb")),
                      QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(promPort), QStringLiteral("--log.level=error")});
    ASSERT_TRUE(prometheus.waitForStarted());

    // Settings come after the first current parameters: wait for the amperes.
    const QString relayM1 = QStringLiteral("{line=\"north\",relay=\"M1\"");
    ASSERT_TRUE(WaitFor([&] { return !Query(promPort, QStringLiteral("zashchita_phase_current_amperes") + relayM1 +
                                                          QStringLiteral(",phase=\"A\"}")).empty(); },
                        40000));

    const struct {
        const char* series;
        const char* key;    // the register the simulator holds it in, or nullptr
        double scale;
        double expected;    // without a key
    } checks[] = {
        {"zashchita_phase_current_ratio{line=\"north\",relay=\"M1\",phase=\"A\"}", nullptr, 0, 0.87},
        {"zashchita_phase_current_amperes{line=\"north\",relay=\"M2\",phase=\"A\"}", nullptr, 0, 0.87 * 12.5},
        {"zashchita_rated_current_amperes{line=\"north\",relay=\"M1\"}", nullptr, 0, 12.5},
        {"zashchita_insulation_resistance_ohms{line=\"south\",relay=\"P1\"}", "E5", 1000, 0},
        {"zashchita_thermal_impulse_ratio{line=\"north\",relay=\"M2\"}", "E8", 0.01, 0},
        {"zashchita_start_duration_seconds{line=\"north\",relay=\"M1\"}", "E10", 0.001, 0},
        {"zashchita_supply_voltage_volts{line=\"south\",relay=\"P1\"}", "E12", 1, 0},
        {"zashchita_status_flag{line=\"north\",relay=\"M1\",flag=\"motor_on\"}", nullptr, 0,
         double(held.at(66) >> 10 & 1)},
        {"zashchita_relay_up{line=\"north\",relay=\"M1\"}", nullptr, 0, 1},
        {"zashchita_relay_up{line=\"south\",relay=\"P1\"}", nullptr, 0, 1},
        {"zashchita_relay_up{line=\"north\",relay=\"M9\"}", nullptr, 0, 0},
        {"zashchita_line_up{line=\"south\"}", nullptr, 0, 1},
        {"up{job=\"zashchita\"}", nullptr, 0, 1},
    };
    for (const auto& c : checks) {
        const double expected = c.key ? held.at(RegisterOf(QString::fromLatin1(c.key))) * c.scale : c.expected;
        const std::vector<double> got = Query(promPort, QString::fromLatin1(c.series));
        ASSERT_EQ(got.size(), 1u) << c.series;
        EXPECT_NEAR(got[0], expected, 1e-9) << c.series;
    }
    // The dead relay shows no value as a current one.
    EXPECT_TRUE(Query(promPort, QStringLiteral("{relay=\"M9\",__name__=~\"zashchita_phase.*|zashchita_status_flag\"}")).empty());
    // It is asked after growing pauses, so its line's time goes to the others.
    const QString live = QStringLiteral("zashchita_relay_requests_total{relay=\"M1\",line=\"north\"} >= 40");
    ASSERT_TRUE(WaitFor([&] { return !Query(promPort, live).empty(); }, 30000));
    const double deadAsked = Query(promPort, QStringLiteral("zashchita_relay_failures_total{relay=\"M9\"}")).at(0);
    const double liveAsked = Query(promPort, live).at(0);
    EXPECT_GT(deadAsked, 0);
    EXPECT_LT(deadAsked * 2, liveAsked) << "a dead relay is asked as often as a live one: " << deadAsked;

    prometheus.terminate();
    prometheus.waitForFinished(10000);
    exporter.Stop();
    sim.stop();
    const std::vector<Frame> frames = LoggedFrames(log);
    ASSERT_FALSE(frames.empty());
    for (const Frame& f : frames)
        ASSERT_EQ(f.at(1), 3) << "the exporter sent function " << int(f.at(1));
}

// A device server's raw port that answers at once is up by default; a line
// with another master's frame behind every reply says so and serves no value.
TEST(ExporterPrometheus, OnlyTheRelaysOwnAnswersAreServed)
{
    for (const bool other : {false, true}) {
        QTemporaryDir dir;
        RelaySim sim(other ? std::vector<std::string>{"--freeze", "--unasked", "1", "--unasked-gap-ms", "3"}
                           : std::vector<std::string>{"--freeze", "--no-pace", "--tcp", "0"});
        ::unsetenv("ZASHCHITA_LINE_TIMING");
        const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
        WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                              .arg(QString::fromStdString(sim.path())).toUtf8());
        ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")));
        const QByteArray gauge = other ? "zashchita_line_other_master{line=\"mill\"}"
                                       : "zashchita_relay_up{address=\"1\",line=\"mill\",relay=\"D1\"}";
        ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), gauge) == 1.0; }, 10000)) << other;
        // Polled on meanwhile: several more of the other master's frames came.
        const QByteArray unasked = "zashchita_line_unasked_bytes_total{line=\"mill\"}";
        const double before = Sample(exporter.Metrics(), unasked).value_or(0);
        if (other)
            ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), unasked).value_or(0) > before + 300; }, 10000));
        EXPECT_NE(exporter.Metrics().contains("zashchita_supply_voltage_volts{"), other);
        EXPECT_FALSE(exporter.Metrics().contains("48879"));
    }
}

// A relay that answered and then went (here with its whole line) shows `up`
// 0 and the time of its last answer, and none of its values any longer.
TEST(ExporterPrometheus, ARelayGoneKeepsNoOldValues)
{
    QTemporaryDir dir;
    RelaySim sim({"--freeze", "--gone-after", "4"});
    const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                          .arg(QString::fromStdString(sim.path())).toUtf8());
    ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")));
    const QByteArray series = "{address=\"1\",line=\"mill\",relay=\"D1\"}";
    ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_relay_up" + series) == 1.0; }, 10000));
    EXPECT_TRUE(Sample(exporter.Metrics(), "zashchita_supply_voltage_volts" + series));
    ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_rated_current_amperes" + series).has_value(); },
                        3000));
    ASSERT_TRUE(WaitFor([&] { return Sample(exporter.Metrics(), "zashchita_relay_up" + series) == 0.0; }, 15000));
    const QByteArray metrics = exporter.Metrics();
    EXPECT_GT(Sample(metrics, "zashchita_relay_last_answer_timestamp_seconds" + series).value_or(0), 0);
    for (const char* name : {"zashchita_supply_voltage_volts", "zashchita_thermal_impulse_ratio",
                             "zashchita_relay_clock_offset_seconds", "zashchita_status_flag", "zashchita_phase_current_ratio",
                             "zashchita_rated_current_amperes", "zashchita_phase_current_amperes"})
        EXPECT_FALSE(metrics.contains(QByteArray(name) + "{")) << name << " still shown";
}
