#include "LineSet.h"

#include <condition_variable>
#include <csignal>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>

#include "Simulator.h"

namespace relaysim {

int ServeLines(const Options& options, uint64_t rngStart, const std::function<std::vector<RegisterBank>()>& banks)
{
    std::vector<std::unique_ptr<Simulator>> lines;
    for (int k = 0; k < options.lines; ++k) {
        Options own = options;
        if (!own.linkPath.empty())
            own.linkPath += "." + std::to_string(k + 1);
        if (own.tcpPort != 0)
            own.tcpPort += k;
        lines.push_back(std::make_unique<Simulator>(own, rngStart + uint64_t(k), banks()));
        // In order, so the endpoints come out in the lines' order; the stop
        // signals stay blocked here and in every thread made after.
        if (const int status = lines.back()->setUp(); status != 0)
            return status;
    }

    std::mutex mutex;
    std::condition_variable ended;
    int endedCount = 0;
    std::vector<int> statuses(lines.size(), 0);
    std::vector<std::thread> threads;
    for (size_t k = 0; k < lines.size(); ++k) {
        threads.emplace_back([&, k] {
            const int status = lines[k]->run();
            std::lock_guard lock(mutex);
            statuses[k] = status;
            ++endedCount;
            ended.notify_one();
        });
    }
    // A stop signal reaches whichever line is waiting: once one line ends,
    // the others are told, each in its own wait.
    {
        std::unique_lock lock(mutex);
        ended.wait(lock, [&] { return endedCount > 0; });
    }
    for (std::thread& t : threads)
        pthread_kill(t.native_handle(), SIGTERM);
    for (std::thread& t : threads)
        t.join();
    for (int status : statuses)
        if (status != 0)
            return status;
    return 0;
}

} // namespace relaysim
