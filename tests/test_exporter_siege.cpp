// 100 idle connections and 10 slow ones (a byte a second of a request that
// never ends) held open against zashchita-exporter for 45 s, each opened
// again as soon as the exporter closes it, while Debian's Prometheus scrapes
// every second: every scrape is answered, and the exporter's time-outs are
// what closed the idle and the slow ones.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "support/ExporterRun.h"
#include "support/PrometheusRun.h"
#include "support/RelaySim.h"

TEST(ExporterSiege, EveryScrapeAnsweredBesideIdleAndSlowClients)
{
    QTemporaryDir dir;
    RelaySim sim({"--freeze"});
    const QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                          .arg(QString::fromStdString(sim.path())).toUtf8());
    ExporterProcess exporter(config, dir.filePath(QStringLiteral("state")));
    PrometheusProcess prometheus(QDir(dir.path()), QStringLiteral("  - job_name: siege\n"
                                                                  "    static_configs: [{targets: ['127.0.0.1:%1']}]\n")
                                                       .arg(exporter.Port()).toUtf8());
    ASSERT_TRUE(WaitFor([&] { return prometheus.Query(QStringLiteral("zashchita_relay_up")) == std::vector<double>{1}; }, 30000));

    struct Client {
        int fd = -1;
        size_t sent = 0;
    };
    const char slowText[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ";
    std::vector<Client> clients(110);   // the last 10 slow
    int reopened[2] = {0, 0};           // idle, slow
    auto open = [&](Client& c) {
        c.fd = socket(AF_INET, SOCK_STREAM, 0);
        c.sent = 0;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(exporter.Port()));
        ASSERT_EQ(::connect(c.fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(45);
    while (std::chrono::steady_clock::now() < end) {
        for (size_t k = 0; k < clients.size(); ++k) {
            Client& c = clients[k];
            const bool slow = k >= 100;
            char byte;
            const ssize_t n = c.fd < 0 ? 0 : recv(c.fd, &byte, 1, MSG_DONTWAIT);
            if (c.fd < 0 || n == 0 || (n < 0 && errno != EAGAIN)) {
                reopened[slow] += c.fd >= 0;
                if (c.fd >= 0)
                    close(c.fd);
                open(c);
            }
            if (slow) {
                byte = c.sent < sizeof slowText - 1 ? slowText[c.sent] : 'a';
                c.sent += send(c.fd, &byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1;
            }
        }
        QThread::msleep(1000);   // the slow clients' pace
    }

    const std::vector<double> scrapes = prometheus.Query(QStringLiteral("count_over_time(up{job=\"siege\"}[45s])"));
    ASSERT_EQ(scrapes.size(), 1u);
    EXPECT_GE(scrapes[0], 40);
    EXPECT_EQ(prometheus.Query(QStringLiteral("min_over_time(up{job=\"siege\"}[45s])")), std::vector<double>{1});
    const QByteArray metrics = exporter.Metrics();
    EXPECT_GE(Sample(metrics, "zashchita_exporter_http_connections_closed_total{reason=\"idle\"}").value_or(0), 100);
    EXPECT_GE(Sample(metrics, "zashchita_exporter_http_connections_closed_total{reason=\"slow\"}").value_or(0), 10);
    EXPECT_GE(reopened[0], 100) << "idle connections the exporter closed";
    EXPECT_GE(reopened[1], 10) << "slow connections the exporter closed";
    for (const Client& c : clients)
        close(c.fd);
}
