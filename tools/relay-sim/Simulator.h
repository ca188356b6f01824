// The relay on a pseudo-terminal: receives requests, answers them at the
// pace of a 9600 8N1 line, injects the faults it was asked for.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include <vector>

#include "FrameLog.h"
#include "Options.h"
#include "Protocol.h"
#include "RegisterBank.h"
#include "Relays.h"

namespace relaysim {

class Simulator {
public:
    Simulator(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the pty, prints its path, makes the link and the log. Returns the
    // exit status to end with on failure, 0 on success.
    int setUp();

    // Serves requests until a stop signal or --gone-after. Returns the exit status.
    int run();

private:
    // Paced frames go out --piece-bytes at a time (two by default), each
    // piece when its last byte is due: the master sees a reply in many
    // pieces, as from a UART's FIFO or a USB adapter. Unpaced ones go out in
    // one write once their start has come. Frames leave in the order queued.

    struct Outgoing {
        Bytes bytes;
        int64_t startNs = 0; // when its first bit goes onto the line
        bool unasked = false;     // a frame nobody asked for
        size_t sent = 0;
        int64_t firstWriteNs = 0; // when its first and last bytes were handed to the pty
        int64_t lastWriteNs = 0;
    };

    // Opens and closes of the pty's slave side by others, as its watch
    // reported them since the last look.
    struct OpenerEvents {
        bool opened = false;
        bool lastClosed = false; // some close left no opener
    };

    size_t pieceEnd(const Outgoing& o) const;
    OpenerEvents readOpenerEvents();
    void watchOpeners(int64_t nowNs);
    Bytes drainLine();
    void feed(const uint8_t* data, size_t count, int64_t nowNs);
    void onFrame(const Frame& frame);
    void queueReply(Bytes reply, Bytes unasked, const Frame& request);
    int64_t endNs(const Outgoing& o) const;
    int64_t nextWriteNs(const Outgoing& o) const;
    int64_t unaskedGapNs() const;
    void writeRaw(const uint8_t* data, size_t count);
    void writeTimed(Outgoing& o, size_t end);
    void transmitDue(int64_t nowNs);
    void readLine(int64_t nowNs);
    int64_t nextDeadline() const;
    void shutDown();

    Options options_;
    Relays relays_;
    FrameAssembler assembler_;
    FrameLog log_;
    std::deque<Outgoing> outgoing_;

    int masterFd_ = -1;
    int slaveFd_ = -1; // held open so the master never sees a hang-up
    int watchFd_ = -1; // inotify on the slave side: who opens and closes the line
    int openers_ = 0;  // open descriptions of the slave side besides our own
    std::string ptyPath_;
    bool linkMade_ = false;

    int64_t goneNs_ = -1;
    int64_t hupQuietUntilNs_ = -1;
};

} // namespace relaysim
