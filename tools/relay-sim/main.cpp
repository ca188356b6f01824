// zashchita-relay-sim (built as relay-sim): a motor-protection relay on a
// pseudo-terminal or behind a TCP port, for the demo, the tests and the
// benchmarks. See --help.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

#include "LineSet.h"
#include "Options.h"
#include "ProgramName.h"
#include "RegisterBank.h"
#include "Simulator.h"

using namespace relaysim;

namespace {

// A bank for each relay: the built-in content with its own address, then
// the presets.
std::vector<RegisterBank> BuiltInContent(const Options& options)
{
    const time_t now = time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::vector<RegisterBank> banks;
    for (int address : options.relayAddresses()) {
        RegisterBank bank(address, local);
        for (const auto& [r, value] : options.presets)
            bank.preset(r, value);
        banks.push_back(bank);
    }
    return banks;
}

uint64_t TimeBasedStart()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return (uint64_t(ts.tv_sec) * 1'000'000'000ull + uint64_t(ts.tv_nsec)) ^ (uint64_t(getpid()) << 40);
}

} // namespace

int main(int argc, char** argv)
{
    // A test run that dies (an abort, a sanitizer's report) takes its
    // simulators with it, so nothing holds its output open afterwards.
    if (std::getenv("RELAY_SIM_DIE_WITH_PARENT")) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() == 1)
            return 1;
    }
    Options options;
    std::string error;
    if (!ParseOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", kProgramName, error.c_str(), kProgramName);
        return 2;
    }
    if (options.help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (options.version) {
        std::printf("%s %s\n", kProgramName, RELAY_SIM_VERSION);
        return 0;
    }

    std::vector<RegisterBank> banks = BuiltInContent(options);
    if (options.dump) {
        for (int r = 0; r < reg::Count; ++r)
            std::printf("%d=%u\n", r, unsigned(banks.front().get(r)));
        return 0;
    }

    uint64_t rngStart = 0;
    if (options.rngStart) {
        rngStart = *options.rngStart;
    } else {
        rngStart = TimeBasedStart();
        if (options.anyFaultRate())
            std::fprintf(stderr, "%s: random start %llu (repeat with --seed)\n", kProgramName,
                         static_cast<unsigned long long>(rngStart));
    }

    if (options.lines > 1)
        return ServeLines(options, rngStart, [&options] { return BuiltInContent(options); });
    Simulator sim(options, rngStart, std::move(banks));
    if (const int status = sim.setUp(); status != 0)
        return status;
    return sim.run();
}
