// The measuring peers: Debian's command-line Modbus master `mbpoll` and
// zashchita-cli's monitor, each polling the page-0 block from a simulator of
// its own while the window polls its one, so all are measured in the same
// run on the same machine.
#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// CPU seconds this process has used, all threads.
double SelfCpuSeconds();

// CPU seconds another process's main thread has used (the peer is single
// threaded), or a negative value when it cannot be read.
double ProcessCpuSeconds(pid_t pid);

class PeerMaster {
public:
    // The peer's path when it is installed, else empty.
    static std::string Find();

    // `mbpoll` on `device`: RTU, 9600 8N1, slave 1, 29 registers from 50
    // every `pollMs` (its least is 11 ms), 0.5 s time-out.
    static std::vector<std::string> MbpollArgs(const std::string& program, const std::string& device, int pollMs);
    // zashchita-cli's monitor on `device`, polling as fast as the relay answers.
    static std::vector<std::string> CompanionArgs(const std::string& program, const std::string& device);

    // Starts the program `argv` names, its output to /dev/null. running()
    // tells whether that worked.
    explicit PeerMaster(std::vector<std::string> argv);
    ~PeerMaster();
    PeerMaster(const PeerMaster&) = delete;
    PeerMaster& operator=(const PeerMaster&) = delete;

    bool running() const { return pid_ > 0; }
    double cpuSeconds() const { return ProcessCpuSeconds(pid_); }
    void stop();   // SIGINT, as a user ends it, then reaps it

private:
    pid_t pid_ = -1;
};
