#include "link/PollCycle.h"

#include "link/FrameTrace.h"
#include "link/ReplyExpectation.h"

#include <algorithm>
#include <cstring>

namespace {
constexpr long long kNsPerMs = 1'000'000;
// The look after a rest: so much after its last byte is due, and so much
// before the end of the tick the byte lands in at most. A look that comes
// too soon costs one wake-up more, for the last bytes as they land; one that
// comes late (a wake-up on a busy machine) moves the send a tick.
constexpr long long kLookAfterLastByteNs = 300'000;
constexpr long long kLookBeforeTickEndNs = 700'000;
// Else the port looks away at most this long (well inside the reply
// time-out); a rest due sooner is taken as it lands, and so are the last
// bytes of a longer one, so that the silence before the next request starts
// with the reply's true end.
constexpr long long kLongestHoldNs = 60 * kNsPerMs;
constexpr long long kShortestHoldNs = 10 * kNsPerMs;
constexpr long long kLastBytesTakenAsTheyLandNs = 5 * kNsPerMs;

int TicksFor(long long ns, int tickMs)
{
    const long long tickNs = tickMs * kNsPerMs;
    return int((ns + tickNs - 1) / tickNs);
}
}  // namespace

long long RestHoldNs(long long nowNs, int tickMs, int restBytes)
{
    if (restBytes <= 0 || tickMs <= 0)
        return 0;
    const long long tickNs = tickMs * kNsPerMs;
    const long long restNs = LineTimeNs(restBytes);
    const long long lastByte = nowNs + restNs;
    const long long look = lastByte + kLookAfterLastByteNs;
    if (look <= (lastByte / tickNs + 1) * tickNs - kLookBeforeTickEndNs)
        return look - nowNs;
    // In whole milliseconds, as the rest's line time was always counted.
    const long long restRoundedNs = (restNs + kNsPerMs - 1) / kNsPerMs * kNsPerMs;
    if (restRoundedNs <= kShortestHoldNs)
        return 0;
    return std::min(restRoundedNs - kLastBytesTakenAsTheyLandNs, kLongestHoldNs);
}

void PollCycle::SetPacing(int tickMs, int replyTimeoutTicks)
{
    tickMs = std::max(tickMs, 1);
    tickMs_ = tickMs;
    // The k-th tick after an event comes more than k - 1 tick lengths after
    // it; the tick after `sendAfterTicks_` more than the silence.
    sendAfterTicks_ = std::max(TicksFor(kFrameSilenceNs, tickMs), 1);
    const int ownFrameTicks = TicksFor(LineTimeNs(kRequestLength), tickMs) + sendAfterTicks_;
    replyTimeoutTicks_ = std::max(replyTimeoutTicks, ownFrameTicks);
    minimumTimeoutTicks_ = ownFrameTicks;
    timeoutTicks_ = replyTimeoutTicks_;
}

void PollCycle::Tick()
{
    ++s_.TickCount;
    if (s_.ReadyToSend == 0)
        ++sinceSendTicks_;
    if (s_.ReadyToSend == 1 && s_.TickCount > SilenceTicksNeeded()) {
        if (s_.CloseRequested == 1) {
            s_.CloseRequested = 0;
            client_.CloseDue();
        } else if (const int waiting = line_->BytesWaiting(); waiting > 0) {
            // Bytes came that nobody has seen yet: the line is not silent.
            Receive(waiting);
        } else if (client_.HasRequest()) {
            Send();
        }
    } else if (s_.ReadyToSend == 0 && (s_.TickCount > timeoutTicks_ || sinceSendTicks_ > deadlineTicks_)) {
        // A reply that came while nobody looked is taken before time runs
        // out; past the deadline nothing more is waited for (Receive ends it).
        if (const int waiting = line_->BytesWaiting(); waiting > 0) {
            Receive(waiting);
            ShowLinkLook();
            return;
        }
        TimeOutExchange();
    }
    ShowLinkLook();
}

void PollCycle::TimeOutExchange()
{
    s_.ReadyToSend = 1;
    CountMiss();
    TraceTimeOut(s_.Sent);
    client_.ExchangeFailed(s_.Sent, ExchangeFailure::NoReply);
}

void PollCycle::SetLineTiming(bool on)
{
    lineTiming_ = on;
    otherMaster_.Reset();
    otherMasterTold_ = false;
}

void PollCycle::ShowLinkLook()
{
    // The miss counter never overflows and the no-link state goes on.
    if (s_.MissCount >= kMissCeiling)
        s_.MissCount = kMissRestart;
    const LinkLook look = s_.LinkLost() ? LinkLook::Lost : LinkLook::Present;
    if (look == linkLook_)
        return;
    linkLook_ = look;
    client_.LinkLookChanged(look == LinkLook::Present);
}

int PollCycle::TicksToNextEvent() const
{
    if (s_.ReadyToSend == 1)
        return std::max(SilenceTicksNeeded() + 1 - int(s_.TickCount), 1);
    return std::max(std::min(timeoutTicks_ + 1 - int(s_.TickCount), deadlineTicks_ + 1 - sinceSendTicks_), 1);
}

bool PollCycle::Idle() const
{
    return s_.ReadyToSend == 1 && s_.CloseRequested == 0 && !client_.HasRequest();
}

int PollCycle::BytesStillExpected() const
{
    const SentRequest& sent = s_.Sent;
    const int have = s_.RxCount;
    if (!sent.valid || have == 0 || !s_.AwaitingReply)
        return 0;
    // Until the function (and a read's byte count) is in, the bytes may still
    // turn out to be a short exception reply: nothing is predicted yet.
    const int header = sent.IsWrite() ? 2 : 3;
    if (have < header)
        return 0;
    const int length = sent.IsWrite() ? kRequestLength : 2 * sent.Operand() + 5;
    const bool answerSoFar = s_.RxBuffer[0] == sent.Slave() && s_.RxBuffer[1] == sent.Function()
        && (sent.IsWrite() || s_.RxBuffer[2] == 2 * sent.Operand());
    return answerSoFar && have < length ? length - have : 0;
}

void PollCycle::Send()
{
    nextTimeoutTicks_ = 0;
    client_.BuildRequest();
    timeoutTicks_ = nextTimeoutTicks_ > 0 ? std::max(nextTimeoutTicks_, minimumTimeoutTicks_) : replyTimeoutTicks_;
    s_.SealTxFrame();
    s_.RecordSent();
    if (s_.RxCount > 0)
        TraceDropped(s_.RxBuffer, s_.RxCount);
    s_.RxCount = 0;     // a partial reply still collected is dropped
    s_.TickCount = 0;
    s_.BlockedTicks = 0;
    // The deadline: our frame and the answer's on the wire, the relay's turn,
    // and the time-out (which holds the network allowance on a network line).
    const long long wireNs = LineTimeNs(kRequestLength + AnswerLength(s_.Sent)) + kTurnaroundAllowanceNs;
    deadlineTicks_ = TicksFor(wireNs, tickMs_) + timeoutTicks_;
    sinceSendTicks_ = 0;
    otherMaster_.Sent(s_.Sent);
    TraceRequest(s_.TxFrame, kRequestLength);
    // Taken before the write: the frame cannot be on the wire any sooner.
    writtenNs_ = line_->NowNs();
    line_->WriteBytes(s_.TxFrame, kRequestLength);
    s_.ReadyToSend = 0;
    s_.AwaitingReply = 1;
    client_.RequestSent(s_.Sent);
}

void PollCycle::Receive(int count)
{
    // Bytes on the line restart the silence, but only an accepted reply
    // proves the link: a relay whose every answer is spoilt still ends in
    // the no-link state.
    const uint16_t quietTicks = s_.TickCount;
    s_.TickCount = 0;
    const bool sendDue = s_.ReadyToSend == 1;
    bool flagsMayApply = true;
    // The waiting bytes in reads of at most a buffer's worth; beyond what a
    // reply and a frame behind it hold, read and dropped unjudged, so that
    // a flood costs little work per event.
    uint8_t bytes[kRxBufferSize];
    int judged = 0;
    flooded_ = false;
    while (count > 0) {
        const int asked = std::min(count, kRxBufferSize);
        const int got = line_->ReadBytes(bytes, asked);
        if (got > 0 && judged < kJudgedBytesPerEvent) {
            flagsMayApply = Take(bytes, got, line_->ArrivalNs());
            judged += got;
        } else if (got > 0) {
            flooded_ = true;
            droppedBytes_ += uint32_t(got);
            s_.UnaskedBytes += uint32_t(got);
        }
        if (got < asked)
            break;
        count -= got;
    }

    if (sendDue && s_.ReadyToSend == 1)
        SendBlocked(quietTicks);
    // Bytes that keep coming do not keep an exchange open past its deadline.
    if (s_.ReadyToSend == 0 && sinceSendTicks_ > deadlineTicks_)
        TimeOutExchange();
    if (flagsMayApply)
        client_.ReceiveEnded();
}

void PollCycle::SendBlocked(int ticks)
{
    // A line that never falls silent must not hide a lost link: a send kept
    // waiting for a whole reply time-out counts as a miss, and costs the
    // request that waits a try.
    // A stretch of quiet longer than the silence would have let the send go:
    // only as much as the silence counts as waiting.
    s_.BlockedTicks = uint16_t(s_.BlockedTicks + std::min(ticks, SilenceTicksNeeded()));
    if (s_.BlockedTicks <= replyTimeoutTicks_)
        return;
    s_.BlockedTicks = 0;
    ++s_.MissCount;
    ShowLinkLook();
    if (client_.HasRequest())
        client_.SendKeptWaiting();
}

bool PollCycle::Take(const uint8_t* bytes, int count, int64_t arrivedNs)
{
    if (!s_.AwaitingReply) {
        s_.UnaskedBytes += uint32_t(count);
        TraceUnasked(bytes, count);
        Noise(bytes, count);
        return true;
    }
    const long long requestNs = LineTimeNs(kRequestLength);
    if (lineTiming_ && arrivedNs < writtenNs_ + requestNs - LineClockToleranceNs(requestNs)) {
        // Our request is still on the wire: these bytes collided with it.
        collidedBytes_ += uint32_t(count);
        TraceCollided(bytes, count);
        Noise(bytes, count);
        return true;
    }
    for (int i = 0; i < count; ++i) {
        s_.RxByte = bytes[i];
        s_.AppendRxByte(s_.RxByte);
    }
    return JudgeCollected(arrivedNs);
}

bool PollCycle::JudgeCollected(int64_t arrivedNs)
{
    bool flagsMayApply = true;
    while (s_.AwaitingReply && s_.RxCount > 0) {
        ReplyVerdict verdict = s_.AssessReply();
        if (verdict == ReplyVerdict::Incomplete)
            break;
        const int length = std::min<int>(s_.ReplyLength, s_.RxCount);
        const bool sound = verdict == ReplyVerdict::ReadValid || verdict == ReplyVerdict::WriteEcho
            || verdict == ReplyVerdict::WriteAltered || verdict == ReplyVerdict::Refused;
        const long long wireNs = LineTimeNs(kRequestLength + length);
        // A write's refusal is final even when it came sooner than the wire
        // allows: taken for noise, it would leave the write awaiting an echo
        // that whatever comes next could supply. Refused, the write is not
        // sent again and is never told as written.
        const bool finalWord = verdict == ReplyVerdict::Refused && s_.Sent.IsWrite();
        if (sound && !finalWord && lineTiming_ && arrivedNs < writtenNs_ + wireNs - LineClockToleranceNs(wireNs)) {
            // Complete sooner than its bytes and ours take on the wire: not
            // the relay's answer, whatever it holds.
            ++earlyFrames_;
            TraceEarly(s_.RxBuffer, length);
            verdict = ReplyVerdict::NotAnswer;
        } else {
            TraceReply(s_.RxBuffer, length, verdict);
        }
        if (verdict == ReplyVerdict::NotAnswer || verdict == ReplyVerdict::BadCrc)
            Noise(s_.RxBuffer, length);
        else
            otherMaster_.Answered();
        uint8_t rest[kRxBufferSize];
        const int restCount = s_.RxCount - length;
        std::memcpy(rest, s_.RxBuffer + length, size_t(restCount));
        flagsMayApply = Conclude(verdict);   // the handlers read the frame where it was collected
        s_.RxCount = 0;
        if (restCount == 0)
            break;
        if (s_.AwaitingReply && s_.ReadyToSend == 0) {
            // The request still awaits its answer (a write after a spoilt
            // frame): what came behind may be it.
            std::memcpy(s_.RxBuffer, rest, size_t(restCount));
            s_.RxCount = uint8_t(restCount);
            continue;
        }
        // Whatever came behind the frame answers nothing.
        s_.UnaskedBytes += uint32_t(restCount);
        TraceUnasked(rest, restCount);
        Noise(rest, restCount);
        break;
    }
    return flagsMayApply;
}

void PollCycle::Noise(const uint8_t* bytes, int count)
{
    if (!otherMaster_.Take(bytes, count))
        return;
    if (!otherMasterTold_)
        TraceOtherMaster();
    otherMasterTold_ = true;
    client_.OtherMasterSeen();
}

bool PollCycle::Conclude(ReplyVerdict verdict)
{
    const bool writeSent = s_.Sent.valid && s_.Sent.IsWrite();
    switch (verdict) {
    case ReplyVerdict::ReadValid:
        s_.ReadyToSend = 1;
        s_.AwaitingReply = 0;
        s_.MissCount = 0;
        client_.HandleReadReply(s_.Sent);
        return true;
    case ReplyVerdict::WriteEcho:
    case ReplyVerdict::WriteAltered:
        s_.ReadyToSend = 1;
        s_.AwaitingReply = 0;
        s_.MissCount = 0;
        client_.HandleWriteReply(s_.Sent, verdict);
        return true;
    case ReplyVerdict::Refused:
        if (writeSent) {
            s_.ReadyToSend = 1;
            s_.AwaitingReply = 0;
            s_.MissCount = 0;
            client_.HandleWriteReply(s_.Sent, verdict);
            return true;
        }
        FailExchange(ExchangeFailure::Refused);
        return true;
    case ReplyVerdict::Incomplete:
    case ReplyVerdict::BadCrc:
    case ReplyVerdict::NotAnswer:
        break;
    }
    // A frame that is no answer. A write stays unconfirmed and awaits its
    // echo until the time-out, which counts the miss and sends it again (the
    // frame may have been noise over the relay's answer); a read has failed
    // and may be asked again at once.
    if (writeSent)
        return false;
    FailExchange(ExchangeFailure::Spoilt);
    return true;
}

void PollCycle::CountMiss()
{
    if (client_.CountsAsMiss(s_.Sent))
        ++s_.MissCount;
}

void PollCycle::FailExchange(ExchangeFailure why)
{
    s_.ReadyToSend = 1;
    s_.AwaitingReply = 0;
    CountMiss();
    client_.ExchangeFailed(s_.Sent, why);
}
