// SCADA-like clients of the exporter's Modbus TCP server: CLIENTS
// connections, each reading the current parameters (registers 50..78) of
// UNITS units in turn, RATE times a second, one request at a time, for
// SECONDS. Prints the answers by result and the time from a request's send
// to its answer's last byte (p50, p99, largest), and the clients' own CPU.
//   bench_modbus_clients PORT [CLIENTS] [UNITS] [RATE] [SECONDS] [LAST_UNIT]
// Client k reads units k*UNITS+1 .. (k+1)*UNITS, counted round 1..LAST_UNIT.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Tally {
    std::vector<double> microseconds;
    std::map<int, uint64_t> results;   // 0: values; else the exception code; -1: no answer
};

bool ReadAll(int fd, uint8_t* into, size_t count)
{
    for (size_t have = 0; have < count;) {
        const ssize_t n = recv(fd, into + have, count - have, 0);
        if (n <= 0)
            return false;
        have += size_t(n);
    }
    return true;
}

void Client(int port, std::vector<int> units, int rate, int seconds, Tally& tally)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    const int yes = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    timeval timeout{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        std::perror("connect");
        return;
    }
    const auto start = Clock::now();
    const auto period = std::chrono::microseconds(1000000 / rate);
    uint16_t transaction = 0;
    for (int round = 0; round < seconds * rate; ++round) {
        std::this_thread::sleep_until(start + round * period);
        for (const int unit : units) {
            ++transaction;
            const uint8_t request[] = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, 0, 6, uint8_t(unit), 3, 0, 50, 0, 29};
            const auto sent = Clock::now();
            uint8_t answer[7 + 2 + 58];
            int result = -1;
            if (send(fd, request, sizeof request, MSG_NOSIGNAL) == ssize_t(sizeof request) && ReadAll(fd, answer, 9)) {
                const size_t rest = size_t((answer[4] << 8 | answer[5]) - 3);
                if (rest <= sizeof answer - 9 && ReadAll(fd, answer + 9, rest))
                    result = answer[7] & 0x80 ? answer[8] : 0;
            }
            tally.microseconds.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
            ++tally.results[result];
            if (result < 0) {
                close(fd);
                return;
            }
        }
    }
    close(fd);
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PORT [CLIENTS] [UNITS] [RATE] [SECONDS] [LAST_UNIT]\n", argv[0]);
        return 2;
    }
    const auto arg = [&](int k, int otherwise) { return argc > k ? std::atoi(argv[k]) : otherwise; };
    const int port = arg(1, 5020), clients = arg(2, 8), perClient = arg(3, 64), rate = arg(4, 10), seconds = arg(5, 20),
              lastUnit = arg(6, 247);
    std::vector<Tally> tallies(static_cast<size_t>(clients));
    std::vector<std::thread> threads;
    for (int k = 0; k < clients; ++k) {
        std::vector<int> units;
        for (int j = 0; j < perClient; ++j)
            units.push_back(1 + (k * perClient + j) % lastUnit);
        threads.emplace_back(Client, port, units, rate, seconds, std::ref(tallies[size_t(k)]));
    }
    for (std::thread& t : threads)
        t.join();
    Tally all;
    for (const Tally& t : tallies) {
        all.microseconds.insert(all.microseconds.end(), t.microseconds.begin(), t.microseconds.end());
        for (const auto& [result, n] : t.results)
            all.results[result] += n;
    }
    std::sort(all.microseconds.begin(), all.microseconds.end());
    const auto at = [&](double q) { return all.microseconds.empty() ? 0.0 : all.microseconds[size_t(q * double(all.microseconds.size() - 1))]; };
    std::printf("requests: %zu (%.0f/s)", all.microseconds.size(), double(all.microseconds.size()) / seconds);
    for (const auto& [result, n] : all.results)
        std::printf(", %s: %llu", result == 0 ? "values" : result < 0 ? "no answer" : ("exception " + std::to_string(result)).c_str(),
                    static_cast<unsigned long long>(n));
    std::printf("\nanswer time: p50 %.3f ms, p99 %.3f ms, largest %.3f ms\n", at(0.5) / 1000, at(0.99) / 1000,
                all.microseconds.empty() ? 0.0 : all.microseconds.back() / 1000);
    rusage used{};
    getrusage(RUSAGE_SELF, &used);
    const double cpu = double(used.ru_utime.tv_sec + used.ru_stime.tv_sec) + (used.ru_utime.tv_usec + used.ru_stime.tv_usec) / 1e6;
    std::printf("clients' CPU: %.1f%% of a core\n", 100 * cpu / seconds);
    return 0;
}
