// The relays' line on a pseudo-terminal, as a serial port: the master opens
// the pty's other side. Masters may come and go; each new one finds the line
// clean.
#pragma once

#include <string>

#include "Protocol.h"
#include "Transport.h"

namespace relaysim {

class PtyLine : public Transport {
public:
    // `linkPath`: a symlink made to the pty while it is open, unless empty.
    explicit PtyLine(std::string linkPath);
    ~PtyLine() override;

    int open() override;
    std::string endpoint() const override { return ptyPath_; }
    void watch(std::vector<pollfd>& fds, int64_t nowNs) override;
    void serve(const pollfd* fds, size_t count, int64_t nowNs, TransportEvents& events) override;
    int64_t nextDeadline() const override { return hupQuietUntilNs_; }
    void send(const uint8_t* data, size_t count) override;
    void close() override;

private:
    // Opens and closes of the pty's slave side by others, as its watch
    // reported them since the last look.
    struct OpenerEvents {
        bool opened = false;
        bool lastClosed = false; // some close left no opener
    };

    int makeLink();
    OpenerEvents readOpenerEvents();
    void watchOpeners(int64_t nowNs, TransportEvents& events);
    Bytes drainLine();
    void readLine(int64_t nowNs, TransportEvents& events);

    std::string linkPath_;
    std::string ptyPath_;
    bool linkMade_ = false;
    int masterFd_ = -1;
    int slaveFd_ = -1; // held open so the master never sees a hang-up
    int watchFd_ = -1; // inotify on the slave side: who opens and closes the line
    int openers_ = 0;  // open descriptions of the slave side besides our own
    int watchedLine_ = -1; // index of the master fd among those watched, -1 if not watched
    int watchedOpeners_ = -1;
    int64_t hupQuietUntilNs_ = -1;
};

} // namespace relaysim
