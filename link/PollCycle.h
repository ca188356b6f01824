// The poll cycle: one request in flight at a time, driven by the tick and the
// line's receive event. It knows the link state and the line; what a request
// holds and what a reply means is its client's business (PollClient).
//
// The rules of the line live here and nowhere else:
// - a frame is an answer only while its request awaits one; bytes that come
//   after a reply was concluded and before the next request are noise:
//   counted and traced, never decoded;
// - a request goes out only after 3.5 character times of silence on the line,
//   since the last byte seen (of any frame) and since the end of our own last
//   frame. Ticks count that silence: a receive event restarts the count, and
//   bytes that are waiting unread when a send is due are taken first;
// - every exchange has a deadline from the moment its request was written
//   (the line time of the request and of its answer, the turnaround
//   allowance and the reply time-out): bytes that keep coming do not extend
//   it, so noise ends an exchange as silence does;
// - on a line that keeps line time, an answer is physically possible only:
//   bytes that come while our request is still on the wire collide with it
//   and belong to no answer, and a frame complete sooner than the request's
//   and its own bytes take on the wire is noise.
// Bytes that answer nothing of ours are watched for another master's
// traffic, told to the client each time a frame of it is found.
#pragma once

#include <algorithm>
#include <cstdint>

#include "link/LinePort.h"
#include "link/LinkState.h"
#include "link/OtherMaster.h"

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
    virtual void BuildRequest() = 0;                          // a question, or the next polled request
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
    // A close asked for (CloseRequested) is due now, in place of a send.
    virtual void CloseDue() = 0;
    // The link's look changed: the relay answers (`present`), or has missed
    // five or more exchanges in a row.
    virtual void LinkLookChanged(bool present) = 0;
    // A frame of another master's came: values on this line may be taken
    // from someone else's traffic. Each time one is found.
    virtual void OtherMasterSeen() {}
    // A due send has waited a whole reply time-out for the line to fall
    // silent: the request that waits has spent a try without leaving the PC.
    virtual void SendKeptWaiting() {}
    // Ticks of silence the next request needs beyond the rule's own (a
    // probe that must follow a quiet line); 0: the rule's.
    virtual int QuietTicksBeforeNext() { return 0; }
};

// Line time of `bytes` characters at 9600 8N1 (ten bits each), in nanoseconds.
constexpr long long LineTimeNs(long long bytes)
{
    return bytes * 10'000'000'000LL / 9600;
}
// The silence every frame must be preceded by: 3.5 character times.
constexpr long long kFrameSilenceNs = LineTimeNs(35) / 10;
// The relay's turn from our request to its answer, allowed on top of the
// reply time-out in an exchange's deadline.
constexpr long long kTurnaroundAllowanceNs = 10'000'000;
// Bytes of one receive event that are judged (a reply and a frame behind it
// fit); more than that in one event is a flood: the rest is read and dropped
// unjudged, and the line is looked away from for kFloodPauseNs, shorter than
// the silence before a request, so that no send slips into the pause.
constexpr int kJudgedBytesPerEvent = 512;
constexpr long long kFloodPauseNs = 3'000'000;
// What the clocks of the PC and of the line may disagree by when an answer's
// earliest possible time is checked: 2 ms, and 3% of the line time for a
// baud rate a little off.
constexpr long long LineClockToleranceNs(long long lineNs)
{
    return 2'000'000 + lineNs * 3 / 100;
}

// How long the port may look away from the input while `restBytes` of a
// reply are still due, `nowNs` on the clock of a grid of `tickMs` ticks. The
// send after a reply waits for a count of ticks from the tick its end was
// seen in; a look just after the rest's last byte is due, and before that
// tick ends, takes the rest at once and leaves the send where it was. Where
// the tick leaves no room for that, until shortly before the rest is due (at
// most 60 ms), its last bytes then taken as they land; 0 (no look-away) for
// a rest due within 10 ms.
long long RestHoldNs(long long nowNs, int tickMs, int restBytes);

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
    // The ticks of silence after which the next request may go out.
    int SilenceTicksNeeded() const { return std::max(sendAfterTicks_, client_.QuietTicksBeforeNext()); }
    int ReplyTimeoutTicks() const { return replyTimeoutTicks_; }
    // The reply time-out of the request being built only (a quick question,
    // such as a search for an address); the builder sets it.
    void SetNextReplyTimeout(int ticks) { nextTimeoutTicks_ = ticks; }

    // One tick: send when ready and the line is silent, or count the reply
    // time-out; then the link's look. A failed write propagates to the caller.
    void Tick();

    // One receive event with `count` bytes waiting on the line. Past its
    // deadline the exchange in flight ends here, whatever keeps coming.
    void Receive(int count);
    // The last receive event brought more than a reply and a frame behind
    // it: the front end should look away for kFloodPauseNs.
    bool Flooded() const { return flooded_; }
    uint32_t DroppedBytes() const { return droppedBytes_; }

    // Ticks from now to the next one that can do anything: the send (the
    // tick after the silence once the exchange has ended), the reply
    // time-out (the one after it since the last send or receive event) or
    // the exchange's deadline. The
    // ticks before it would only count, so a caller may sleep through them
    // and count them at once.
    int TicksToNextEvent() const;
    void CountIdleTicks(int n)
    {
        s_.TickCount = uint16_t(s_.TickCount + n);
        if (s_.ReadyToSend == 0)
            sinceSendTicks_ += n;
    }
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

    // Whether answers must be physically possible on the line (see above);
    // also forgets any other master seen: a line just opened.
    void SetLineTiming(bool on);
    bool LineTiming() const { return lineTiming_; }
    // Ticks from the send that end the exchange in flight whatever comes.
    int DeadlineTicks() const { return deadlineTicks_; }
    // Noise the timing rule found: bytes that came while our request was on
    // the wire, and frames complete sooner than possible.
    uint32_t CollidedBytes() const { return collidedBytes_; }
    uint32_t EarlyFrames() const { return earlyFrames_; }
    // Both together: grows whenever the timing rule rejects something.
    uint32_t TimingRejections() const { return collidedBytes_ + earlyFrames_; }
    bool OtherMasterSeenOnLine() const { return otherMasterTold_; }

    static constexpr int kWindowTickMs = 5;
    static constexpr int kReplyTimeoutTicks = 30;   // of the window's ticks
    static constexpr int kMissCeiling = 500;
    static constexpr int kMissRestart = 10;

private:
    void Send();
    // Bytes read off the line at `arrivedNs`: collected while a request
    // awaits its answer, noise otherwise. False when the request flags must
    // wait (see Conclude).
    bool Take(const uint8_t* bytes, int count, int64_t arrivedNs);
    // Judges the bytes collected; a frame concluded leaves the bytes behind
    // it to the next judgement while the request still awaits its answer.
    bool JudgeCollected(int64_t arrivedNs);
    // Bytes that answer nothing of ours.
    void Noise(const uint8_t* bytes, int count);
    // Hands a whole reply on by its verdict. False when the request flags
    // must wait: a write not yet answered stands until its echo or time-out.
    bool Conclude(ReplyVerdict verdict);
    void FailExchange(ExchangeFailure why);
    // The exchange in flight got no answer by its time-out or deadline.
    void TimeOutExchange();
    // A due send kept waiting by a line that does not fall silent.
    void SendBlocked(int ticks);
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

    int tickMs_ = kWindowTickMs;
    int deadlineTicks_ = 0;          // of the request in flight, from its send
    int sinceSendTicks_ = 0;
    bool lineTiming_ = false;
    int64_t writtenNs_ = 0;          // when the request in flight was handed to the line
    uint32_t collidedBytes_ = 0;
    uint32_t earlyFrames_ = 0;
    uint32_t droppedBytes_ = 0;
    bool flooded_ = false;
    OtherMasterWatch otherMaster_;
    bool otherMasterTold_ = false;
};
