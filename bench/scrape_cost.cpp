// The exporter's /metrics for a plant of LINES lines of 4 relays, without a
// line: every relay's metrics filled as after its first answers, then the
// scrape timed in its three parts, each on its own and as a whole through
// the exporter's HTTP side:
//   collect    the registry's Collect (what the exposer copies out),
//   serialize  prometheus-cpp's text format of that copy,
//   gzip       that text gzip'd, as the HTTP side does when asked,
//   http       a GET of /metrics over the loopback, end to end (one every
//              60 ms, so that no GET is served a text made for another).
// With --updating, a thread of its own applies current parameters at the
// rate a plant's lines answer (12 a second a relay) meanwhile, as the
// poller would.
//   bench_scrape [LINES] [SCRAPES] [--updating]
#include <prometheus/registry.h>
#include <prometheus/text_serializer.h>

#include <QCoreApplication>
#include <QDateTime>

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "RelayMetrics.h"
#include "WebServer.h"
#include "exchanges/TripCause.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

void Report(const char* what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    const auto at = [&](double q) { return ms[std::min(ms.size() - 1, size_t(q * double(ms.size())))]; };
    std::printf("%-10s median %7.2f ms  p90 %7.2f ms  p99 %7.2f ms  max %7.2f ms\n", what, at(0.5), at(0.9),
                at(0.99), ms.back());
}

// Plausible current parameters of relay `n`: every register filled, the
// clock a valid moment, a few status bits set.
RegisterValues CurrentOf(int n, int turn)
{
    RegisterValues v;
    v.block = kCurrentParamsBlock;
    for (int k = 0; k < kCurrentParamsBlock.count; ++k)
        v.values.push_back(uint16_t((k * 37 + n * 11 + turn) % 900 + 10));
    const QDateTime now = QDateTime::currentDateTime();
    const int clock = kClockFirstRegister - kCurrentParamsBlock.first;
    v.values[size_t(clock)] = uint16_t(now.date().month());
    v.values[size_t(clock + 1)] = uint16_t(now.date().day());
    v.values[size_t(clock + 2)] = uint16_t(now.time().hour());
    v.values[size_t(clock + 3)] = uint16_t(now.time().minute());
    v.values[size_t(clock + 4)] = uint16_t(now.time().second());
    v.values[size_t(kStatusRegister - kCurrentParamsBlock.first)] = uint16_t(0x0600 | (n & 3));
    return v;
}

// One GET of /metrics; returns the bytes of the whole answer.
size_t Get(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(uint16_t(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
        close(fd);
        return 0;
    }
    const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (write(fd, request, sizeof request - 1) < 0) {
        close(fd);
        return 0;
    }
    static char buffer[1 << 16];
    size_t total = 0;
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;)
        total += size_t(got);
    close(fd);
    return total;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int lines = 64;
    int scrapes = 200;
    bool updating = false;
    int positional = 0;
    for (int k = 1; k < argc; ++k) {
        if (std::strcmp(argv[k], "--updating") == 0)
            updating = true;
        else if (positional++ == 0)
            lines = std::atoi(argv[k]);
        else
            scrapes = std::atoi(argv[k]);
    }

    auto registry = std::make_shared<prometheus::Registry>();
    MetricFamilies families(*registry);
    std::vector<std::unique_ptr<LineMetrics>> lineMetrics;
    std::vector<std::unique_ptr<RelayMetrics>> relays;
    RegisterValues settings;
    settings.block = kSettingsBlock;
    settings.values.assign(size_t(kSettingsBlock.count), 0);
    settings.values[size_t(RegisterOf(QStringLiteral("SE0")) - kSettingsBlock.first)] = 1250;
    const std::vector<QString> causes = TripCauses();
    for (int l = 1; l <= lines; ++l) {
        const std::string line = "l" + std::to_string(l);
        lineMetrics.push_back(std::make_unique<LineMetrics>(families, QString::fromStdString(line)));
        lineMetrics.back()->SetUp(true);
        for (int a = 1; a <= 4; ++a) {
            auto relay = std::make_unique<RelayMetrics>(
                families, prometheus::Labels{{"line", line}, {"relay", "R" + std::to_string(a)},
                                             {"address", std::to_string(a)}});
            relay->SetUp(true);
            relay->ApplySettings(settings);
            relay->ApplyCurrent(CurrentOf(int(relays.size()), 0), QDateTime::currentMSecsSinceEpoch());
            // The simulator's four event records: a few causes a relay.
            for (size_t c = 0; c < 4; ++c)
                relay->CountTrip(causes[(relays.size() + c) % causes.size()]);
            relay->Asked(true);
            relays.push_back(std::move(relay));
        }
    }

    std::atomic<bool> stop{false};
    std::thread updater;
    if (updating) {
        updater = std::thread([&] {
            // 12 answers a second a relay, in bursts of one per relay.
            const auto period = std::chrono::microseconds(1000000 / 12);
            for (int turn = 1; !stop; ++turn) {
                const auto next = Clock::now() + period;
                const qint64 now = QDateTime::currentMSecsSinceEpoch();
                for (size_t r = 0; r < relays.size(); ++r) {
                    relays[r]->Asked(true);
                    relays[r]->ApplyCurrent(CurrentOf(int(r), turn), now);
                }
                std::this_thread::sleep_until(next);
            }
        });
    }

    std::vector<double> collect, serialize, gzip, http;
    size_t series = 0, bytes = 0, answer = 0, gzipped = 0;
    const prometheus::TextSerializer serializer;
    for (int k = 0; k < scrapes; ++k) {
        const auto t0 = Clock::now();
        std::vector<prometheus::MetricFamily> collected = registry->Collect();
        for (prometheus::MetricFamily& f : families.relays->Collect())
            collected.push_back(std::move(f));
        const auto t1 = Clock::now();
        const std::string text = serializer.Serialize(collected);
        const auto t2 = Clock::now();
        gzipped = Gzip(text).size();
        collect.push_back(Ms(t1 - t0));
        serialize.push_back(Ms(t2 - t1));
        gzip.push_back(Ms(Clock::now() - t2));
        series = 0;
        for (const auto& f : collected)
            series += f.metric.size();
        bytes = text.size();
    }

    WebServer web{WebConfig()};
    web.Serve(registry);
    web.Serve(families.relays);
    if (std::string error; !web.Start("127.0.0.1:0", &error)) {
        std::fprintf(stderr, "cannot listen: %s\n", error.c_str());
        return 1;
    }
    for (int k = 0; k < scrapes; ++k) {
        std::this_thread::sleep_for(MetricsText::kReuse + std::chrono::milliseconds(10));
        const auto t0 = Clock::now();
        answer = Get(web.Port());
        http.push_back(Ms(Clock::now() - t0));
    }
    stop = true;
    if (updater.joinable())
        updater.join();

    std::printf("%d lines, %zu relays, %zu series, %zu bytes of text (%zu with the HTTP head, %zu gzip'd), %d scrapes%s\n",
                lines, relays.size(), series, bytes, answer, gzipped, scrapes, updating ? ", values updated meanwhile" : "");
    Report("collect", collect);
    Report("serialize", serialize);
    Report("gzip", gzip);
    Report("http", http);
    return 0;
}
