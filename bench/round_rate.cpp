// Many relays on one line: the rate at which RelayRound reads each live
// relay's current parameters from the relay simulator, paced like a 9600-baud
// line, with two relays at addresses 1 and 2, then with a dead third at
// address 3 (no relay answers there). Prints the live relays' rates and their
// ratio with and without the dead one: one dead relay should cost the others
// at most about a tenth of their rate.
//
//   bench_round [SECONDS] [TIMEOUT_MS]   (defaults 40 and 300)
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

#include "exchanges/ExchangeTable.h"
#include "link/RelayRound.h"
#include "link/RelaySession.h"
#include "support/RelaySim.h"

namespace {

// Answers per live relay per second over `seconds`, polling `addresses`.
std::map<int, double> Rates(const std::vector<int>& addresses, int seconds, int timeoutMs)
{
    RelaySim sim({"--address", "1", "--address", "2", "--turnaround-ms", "3"});
    SessionOptions options;
    options.tickMs = 1;
    options.replyTimeoutTicks = timeoutMs;
    options.lineTiming = LineTimingFromEnvironment(options.lineTiming);
    RelaySession session(options);
    session.Open(QString::fromStdString(sim.path()));
    RelayRound round(session, addresses);
    round.nextQuestion = [](int address) { return Question::Read(kCurrentParamsBlock, address); };
    std::map<int, int> answers;
    QObject::connect(&round, &RelayRound::answered, [&](int address, const Answer& a) {
        if (a.outcome == Outcome::Values)
            ++answers[address];
    });
    round.Start();
    QElapsedTimer clock;
    clock.start();
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double elapsed = double(clock.elapsed()) / 1000.0;
    round.Stop();
    session.Close();
    std::map<int, double> rates;
    for (int address : {1, 2})
        rates[address] = answers[address] / elapsed;
    return rates;
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 40;
    const int timeoutMs = argc > 2 ? std::atoi(argv[2]) : 300;
    const std::map<int, double> two = Rates({1, 2}, seconds, timeoutMs);
    const std::map<int, double> three = Rates({1, 2, 3}, seconds, timeoutMs);
    std::printf("round of %d s, reply time-out %d ms\n", seconds, timeoutMs);
    std::printf("%-8s %14s %22s %8s\n", "relay", "alone (1/s)", "beside a dead one (1/s)", "ratio");
    for (int address : {1, 2})
        std::printf("%-8d %14.2f %22.2f %8.3f\n", address, two.at(address), three.at(address),
                    three.at(address) / two.at(address));
    return 0;
}
