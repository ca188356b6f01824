// Two pseudo-terminals joined back to back: whatever is written to one
// slave side comes out of the other, as over a null-modem cable. Lets two
// programs that each open a serial device by path talk to each other.
#pragma once

#include <atomic>
#include <string>
#include <thread>

class PtyBridge {
public:
    PtyBridge();
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    const std::string& pathA() const { return pathA_; }
    const std::string& pathB() const { return pathB_; }

private:
    void pump();

    int masterA_ = -1, masterB_ = -1;
    int holdA_ = -1, holdB_ = -1;   // our own slave fds: no hang-up when a user closes
    int stopPipe_[2] = {-1, -1};
    std::string pathA_, pathB_;
    std::thread thread_;
};
