#include "LineQueue.h"

#include "LineTime.h"

#include <algorithm>

namespace relaysim {

LineQueue::LineQueue(bool pace, size_t pieceBytes, int64_t unaskedGapNs)
    : pace_(pace)
    , pieceBytes_(pieceBytes)
    , unaskedGapNs_(unaskedGapNs)
{
}

int64_t LineQueue::endNs(const Outgoing& o) const
{
    return o.startNs + (pace_ ? LineTimeNs(int64_t(o.lineBytes)) : 0);
}

int64_t LineQueue::freeFrom(int64_t notBeforeNs) const
{
    return queue_.empty() ? notBeforeNs : std::max(notBeforeNs, endNs(queue_.back()));
}

size_t LineQueue::pieceEnd(const Outgoing& o) const
{
    return std::min(o.wire.size(), (o.sent / pieceBytes_ + 1) * pieceBytes_);
}

int64_t LineQueue::nextDeadline() const
{
    if (queue_.empty())
        return -1;
    const Outgoing& o = queue_.front();
    if (!pace_ || o.whole)
        return endNs(o);
    return o.startNs + LineTimeNs(int64_t(pieceEnd(o)));
}

void LineQueue::handOn(Outgoing& o, size_t end, Transport& transport, FrameLog& log)
{
    // Times are taken before the send: the master cannot have a byte
    // earlier, so a silence measured from them is never longer than the one
    // the master kept.
    const int64_t now = MonotonicNs();
    if (o.sent == 0)
        o.firstWriteNs = now;
    transport.send(o.wire.data() + o.sent, end - o.sent);
    o.sent = end;
    o.lastWriteNs = now;
    if (o.sent == o.wire.size())
        log.sent(o.logged, o.firstWriteNs, now, o.tag);
}

void LineQueue::transmitDue(int64_t nowNs, Transport& transport, FrameLog& log)
{
    // Due times count from the frame's start, so late wake-ups never add up.
    while (!queue_.empty()) {
        Outgoing& o = queue_.front();
        size_t due = o.sent;
        if (!pace_ || o.whole) {
            if (endNs(o) <= nowNs)
                due = o.wire.size();
        } else {
            while (due < o.wire.size() && o.startNs + LineTimeNs(int64_t(due) + 1) <= nowNs)
                ++due;
            if (due < o.wire.size())
                due -= due % pieceBytes_; // whole pieces only, unless catching up to the end
        }
        if (due > o.sent)
            handOn(o, due, transport, log);
        if (o.sent < o.wire.size())
            return;
        const int64_t lineFree = o.lastWriteNs;
        queue_.pop_front();
        // The next frame keeps its distance from when this one really ended,
        // however late that was: a frame nobody asked for its gap, any other
        // at least no overlap.
        if (!queue_.empty()) {
            Outgoing& next = queue_.front();
            next.startNs = std::max(next.startNs, lineFree + (next.unasked ? unaskedGapNs_ : 0));
        }
    }
}

bool LineQueue::meetRequest()
{
    bool collided = false;
    for (auto it = queue_.begin(); it != queue_.end();) {
        if (!it->unasked) {
            ++it;
            continue;
        }
        if (it->sent == 0) {
            it = queue_.erase(it);
            continue;
        }
        if (it->sent < it->wire.size()) {
            const size_t crcAt = it->wire.size() >= 2 ? it->wire.size() - 2 : 0;
            for (size_t i = std::max(it->sent, crcAt); i < it->wire.size(); ++i)
                it->wire[i] ^= 0xFF;
            collided = true;
        }
        ++it;
    }
    return collided;
}

} // namespace relaysim
