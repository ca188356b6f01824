// The poll cycle: one request in flight at a time, driven by the tick and the
// line's receive event. It knows the link state and the line; what a request
// holds and what a reply means is its client's business (PollClient).
//
// Two rules of the line live here and nowhere else:
// - a frame is an answer only while its request awaits one; bytes that come
//   after a reply was concluded and before the next request are noise:
//   counted and traced, never decoded;
// - a request goes out only after 3.5 character times of silence on the line,
//   since the last byte seen (of any frame) and since the end of our own last
//   frame. Ticks count that silence: a receive event restarts the count, and
//   bytes that are waiting unread when a send is due are taken first.
#pragma once

#include "link/LinePort.h"
#include "link/LinkState.h"

// Why an exchange brought nothing its request can use.
enum class ExchangeFailure {
    NoReply,    // the reply time-out passed
    Spoilt,     // a whole frame came that is not a sound answer (bad CRC, another slave or function)
    Refused,    // the relay answered a read with an exception
};

class PollClient {
public:
    virtual ~PollClient() = default;
    // Whether there is a request to send at all; a client that asks only now
    // and then has none between its questions.
    virtual bool HasRequest() { return true; }
    virtual void BuildRequest() = 0;                          // the builder of the current PollMode
    virtual void RequestSent(const SentRequest& /*sent*/) {}  // the frame is on its way
    // A read reply that answers `sent`: decoded by the exchange that sent it.
    virtual void HandleReadReply(const SentRequest& sent) = 0;
    // The relay's answer to the write `sent`: its exact echo (WriteEcho), or
    // its final word otherwise (WriteAltered, Refused).
    virtual void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) = 0;
    // Whether a failed exchange of `sent` is a miss of the link: an address
    // probed in vain says nothing of the link to the relay.
    virtual bool CountsAsMiss(const SentRequest& /*sent*/) { return true; }
    // The exchange of `sent` failed (and its miss is counted); it is asked
    // again unless the client gives it up.
    virtual void ExchangeFailed(const SentRequest& /*sent*/, ExchangeFailure /*why*/) {}
    // A receive event has ended with no write awaiting its answer: the
    // front end's requests may take effect now.
    virtual void ReceiveEnded() {}
    virtual void CloseComPort() = 0;                          // a close the user asked for
    virtual void ShowLinkLost() = 0;                          // five or more misses in a row
    virtual void ShowLinkPresent() = 0;
};

// Line time of `bytes` characters at 9600 8N1 (ten bits each), in nanoseconds.
constexpr long long LineTimeNs(long long bytes)
{
    return bytes * 10'000'000'000LL / 9600;
}
// The silence every frame must be preceded by: 3.5 character times.
constexpr long long kFrameSilenceNs = LineTimeNs(35) / 10;

class PollCycle {
public:
    PollCycle(LinkState& state, PollClient& client) : s_(state), client_(client) {}

    void SetLine(ILinePort* line) { line_ = line; }
    ILinePort* Line() const { return line_; }

    // The tick's length sets how many ticks the silence before a request
    // takes (the tick after them may send: the second of 5 ms ticks) and the
    // reply time-out in ticks (at least our own frame and the silence after it).
    void SetPacing(int tickMs, int replyTimeoutTicks);
    int SendAfterTicks() const { return sendAfterTicks_; }
    int ReplyTimeoutTicks() const { return replyTimeoutTicks_; }
    // The reply time-out of the request being built only (a quick question,
    // such as a search for an address); the builder sets it.
    void SetNextReplyTimeout(int ticks) { nextTimeoutTicks_ = ticks; }

    // One tick: send when ready and the line is silent, or count the reply
    // time-out; then the link's look. A failed write propagates to the caller.
    void Tick();

    // One receive event with `count` bytes waiting on the line.
    void Receive(int count);

    // Ticks from now to the next one that can do anything: the send (the
    // tick after the silence once the exchange has ended) or the reply
    // time-out (the one after it since the last send or receive event). The
    // ticks before it would only count, so a caller may sleep through them
    // and count them at once.
    int TicksToNextEvent() const;
    void CountIdleTicks(int n) { s_.TickCount = uint16_t(s_.TickCount + n); }
    // Whether a tick can do anything at all: a send with nothing to send and
    // no close to carry out leaves the cycle idle until there is.
    bool Idle() const;

    // Bytes still to come of a reply that so far answers the request sent
    // (its slave, function and, for a read, byte count); 0 when its header
    // is not in yet or the bytes do not look like the answer.
    int BytesStillExpected() const;

    // The next tick shows the link's look whatever it was: the port was
    // just opened.
    void ForgetLinkLook() { linkLook_ = LinkLook::Unknown; }

    static constexpr int kWindowTickMs = 5;
    static constexpr int kReplyTimeoutTicks = 30;   // of the window's ticks
    static constexpr int kMissCeiling = 500;
    static constexpr int kMissRestart = 10;

private:
    void Send();
    // Hands a whole reply on by its verdict. False when the request flags
    // must wait: a write not yet answered stands until its echo or time-out.
    bool Conclude(ReplyVerdict verdict);
    void FailExchange(ExchangeFailure why);
    void CountMiss();   // one failed exchange of the request sent
    void ShowLinkLook();

    LinkState& s_;
    PollClient& client_;
    ILinePort* line_ = nullptr;
    int sendAfterTicks_ = 1;
    int replyTimeoutTicks_ = kReplyTimeoutTicks;
    int minimumTimeoutTicks_ = 0;    // our own frame and the silence after it
    int nextTimeoutTicks_ = 0;       // set by the builder for its request only
    int timeoutTicks_ = kReplyTimeoutTicks;   // of the request in flight
    // What the front end shows of the link, so that a tick that changes
    // nothing is not told to it.
    enum class LinkLook { Unknown, Lost, Present };
    LinkLook linkLook_ = LinkLook::Unknown;
};
