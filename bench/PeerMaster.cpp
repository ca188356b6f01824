#include "PeerMaster.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string_view>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {
constexpr const char* kPeerName = "mbpoll";
constexpr int kStopWaitMs = 3000;
}

double SelfCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec)
        + double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double ProcessCpuSeconds(pid_t pid)
{
    if (pid <= 0)
        return -1;
    // schedstat's first field is the time on a CPU in nanoseconds; the
    // clock-tick fields of stat would be too coarse for a tenth of a second.
    const std::string path = "/proc/" + std::to_string(pid) + "/schedstat";
    FILE* f = std::fopen(path.c_str(), "r");
    if (!f)
        return -1;
    unsigned long long ns = 0;
    const int got = std::fscanf(f, "%llu", &ns);
    std::fclose(f);
    return got == 1 ? double(ns) / 1e9 : -1;
}

std::string PeerMaster::Find()
{
    const char* path = std::getenv("PATH");
    std::string_view rest = path ? path : "/usr/bin:/bin";
    while (!rest.empty()) {
        const size_t colon = rest.find(':');
        const std::string dir(rest.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + kPeerName;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
    }
    return {};
}

std::vector<std::string> PeerMaster::MbpollArgs(const std::string& program, const std::string& device, int pollMs)
{
    return {program, "-m", "rtu", "-b", "9600", "-P", "none", "-d", "8", "-s", "1", "-a", "1", "-r", "51",
            "-c", "29", "-t", "4", "-l", std::to_string(pollMs), "-o", "0.5", device};
}

std::vector<std::string> PeerMaster::CompanionArgs(const std::string& program, const std::string& device)
{
    return {program, "--port", device, "monitor", "--interval", "0", "--format", "csv"};
}

PeerMaster::PeerMaster(std::vector<std::string> args)
{
    if (args.empty())
        return;
    const std::string program = args.front();
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, &attr, argv.data(), environ) == 0)
        pid_ = pid;
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
}

PeerMaster::~PeerMaster() { stop(); }

void PeerMaster::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGINT);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStopWaitMs);
    while (::waitpid(pid_, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    pid_ = -1;
}
