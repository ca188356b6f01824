// Frames on their way to the master, one at a time on the relays' line.
//
// A paced frame goes out --piece-bytes at a time (two by default), each
// piece when its last byte's stop bit would have been received at 9600 8N1:
// the master sees a reply in many pieces, as from a UART's FIFO or a USB
// adapter. A whole frame (unpaced, or a gateway's reply) goes out in one
// send once its line time has passed. Frames leave in the order queued.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <utility>

#include "FrameLog.h"
#include "Protocol.h"
#include "Transport.h"

namespace relaysim {

struct Outgoing {
    Bytes wire;             // what the transport is handed
    Bytes logged;           // the frame as the timing log shows it (as on the line)
    size_t lineBytes = 0;   // characters it keeps the relays' line busy
    int64_t startNs = 0;    // when its first bit goes onto the line
    bool whole = false;     // one send at the end of its line time, not paced pieces
    bool unasked = false;   // a frame nobody asked for: keeps its gap from the frame before
    const char* tag = nullptr; // ends its timing-log line in brackets

    size_t sent = 0;
    int64_t firstWriteNs = 0; // when its first and last bytes were handed on
    int64_t lastWriteNs = 0;
};

class LineQueue {
public:
    // `pace`: line time counts; without it frames go out at their start.
    LineQueue(bool pace, size_t pieceBytes, int64_t unaskedGapNs);

    // When the line is free after everything queued (at the latest of
    // `notBeforeNs` and that).
    int64_t freeFrom(int64_t notBeforeNs) const;

    // When a frame queued last ends on the line.
    int64_t endNs(const Outgoing& o) const;

    void push(Outgoing o)
    {
        if (!o.wire.empty())
            queue_.push_back(std::move(o));
    }
    const Outgoing* last() const { return queue_.empty() ? nullptr : &queue_.back(); }

    // Hands on whatever is due by `nowNs`, logging each frame as it ends.
    void transmitDue(int64_t nowNs, Transport& transport, FrameLog& log);

    // The next moment something is due, or -1.
    int64_t nextDeadline() const;

    void clear() { queue_.clear(); }

    // A request has come. A frame nobody asked for that is still going out
    // collides with it, as two transmitters on RS-485 would: the rest of
    // that frame is spoilt (its CRC no longer fits) and the request is not
    // heard. One not yet handed on is dropped: the relay hears the master
    // first. Returns whether the request collided.
    bool meetRequest();

private:
    size_t pieceEnd(const Outgoing& o) const;
    void handOn(Outgoing& o, size_t end, Transport& transport, FrameLog& log);

    bool pace_;
    size_t pieceBytes_;
    int64_t unaskedGapNs_;
    std::deque<Outgoing> queue_;
};

} // namespace relaysim
