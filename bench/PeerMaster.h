// The measuring peer: Debian's command-line Modbus master `mbpoll`, polling
// the same page-0 block from its own simulator while the window polls its
// one, so both are measured in the same run on the same machine.
#pragma once

#include <string>
#include <sys/types.h>

// CPU seconds this process has used, all threads.
double SelfCpuSeconds();

// CPU seconds another process's main thread has used (the peer is single
// threaded), or a negative value when it cannot be read.
double ProcessCpuSeconds(pid_t pid);

class PeerMaster {
public:
    // The peer's path when it is installed, else empty.
    static std::string Find();

    // Starts `mbpoll` on `device`: RTU, 9600 8N1, slave 1, 29 registers from
    // 50 every `pollMs` (its least is 11 ms), 0.5 s time-out; its output goes
    // to /dev/null. running() tells whether that worked.
    PeerMaster(const std::string& program, const std::string& device, int pollMs);
    ~PeerMaster();
    PeerMaster(const PeerMaster&) = delete;
    PeerMaster& operator=(const PeerMaster&) = delete;

    bool running() const { return pid_ > 0; }
    double cpuSeconds() const { return ProcessCpuSeconds(pid_); }
    void stop();   // SIGINT, as a user ends it, then reaps it

private:
    pid_t pid_ = -1;
};
