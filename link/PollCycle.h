// The poll cycle: one request in flight at a time, driven by the 5 ms tick
// and the port's receive event. It knows the link state and the line; what a
// request holds and what a reply means is the window's business (PollClient).
#pragma once

#include "link/LinePort.h"
#include "link/LinkState.h"

class PollClient {
public:
    virtual ~PollClient() = default;
    virtual void BuildRequest() = 0;                          // the builder of the current PollMode
    // A read reply that answers `sent`: decoded by the exchange that sent it.
    virtual void HandleReadReply(const SentRequest& sent) = 0;
    // The relay's answer to the write `sent`: its exact echo (WriteEcho), or
    // its final word otherwise (WriteAltered, Refused).
    virtual void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) = 0;
    virtual void CloseComPort() = 0;                          // a close the user asked for
    virtual void ShowLinkLost() = 0;                          // five or more misses in a row
    virtual void ShowLinkPresent() = 0;
};

class PollCycle {
public:
    PollCycle(LinkState& state, PollClient& client) : s_(state), client_(client) {}

    void SetLine(ILinePort* line) { line_ = line; }
    ILinePort* Line() const { return line_; }

    // One 5 ms tick: send when ready, or count the reply time-out; then the
    // link's look. A failed write propagates to the caller.
    void Tick();

    // One receive event with `count` bytes waiting in the port.
    void Receive(int count);

    // Ticks from now to the next one that can do anything: the send (the
    // second tick after the exchange ended) or the reply time-out (the 31st
    // after the last send or receive event). The ticks before it would only
    // count, so a caller may sleep through them and count them at once.
    int TicksToNextEvent() const;
    void CountIdleTicks(int n) { s_.TickCount = uint16_t(s_.TickCount + n); }

    // Bytes still to come of a reply that so far answers the request sent
    // (its slave, function and, for a read, byte count); 0 when its header
    // is not in yet or the bytes do not look like the answer.
    int BytesStillExpected() const;

    // The next tick shows the link's look whatever it was: the port was
    // just opened.
    void ForgetLinkLook() { linkLook_ = LinkLook::Unknown; }

    static constexpr int kSendAfterTicks = 1;    // the tick after this many may send
    static constexpr int kReplyTimeoutTicks = 30;
    static constexpr int kMissCeiling = 500;
    static constexpr int kMissRestart = 10;

private:
    void Send();
    // Hands a whole reply on by its verdict. False when the request flags
    // must wait: a write not yet answered stands until its echo or time-out.
    bool Conclude(ReplyVerdict verdict);

    LinkState& s_;
    PollClient& client_;
    ILinePort* line_ = nullptr;
    // What the window shows of the link, so that a tick that changes nothing
    // touches no control.
    enum class LinkLook { Unknown, Lost, Present };
    LinkLook linkLook_ = LinkLook::Unknown;
};
