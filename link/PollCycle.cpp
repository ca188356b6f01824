#include "link/PollCycle.h"

#include "link/FrameTrace.h"

#include <algorithm>

void PollCycle::Tick()
{
    ++s_.TickCount;
    if (s_.ReadyToSend == 1 && s_.TickCount > kSendAfterTicks) {
        if (s_.CloseRequested == 1) {
            s_.CloseRequested = 0;
            client_.CloseComPort();
        } else {
            Send();
        }
    } else if (s_.TickCount > kReplyTimeoutTicks) {
        s_.ReadyToSend = 1;
        ++s_.MissCount;
        TraceTimeOut(s_.Sent);
    }

    // The miss counter never overflows and the no-link state goes on.
    if (s_.MissCount >= kMissCeiling)
        s_.MissCount = kMissRestart;
    const LinkLook look = s_.LinkLost() ? LinkLook::Lost : LinkLook::Present;
    if (look == linkLook_)
        return;
    linkLook_ = look;
    if (look == LinkLook::Lost)
        client_.ShowLinkLost();
    else
        client_.ShowLinkPresent();
}

int PollCycle::TicksToNextEvent() const
{
    const int due = s_.ReadyToSend == 1 ? kSendAfterTicks + 1 : kReplyTimeoutTicks + 1;
    return std::max(due - int(s_.TickCount), 1);
}

int PollCycle::BytesStillExpected() const
{
    const SentRequest& sent = s_.Sent;
    const int have = s_.RxCount;
    if (!sent.valid || have == 0)
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
    client_.BuildRequest();
    s_.SealTxFrame();
    s_.RecordSent();
    if (s_.RxCount > 0)
        TraceDropped(s_.RxBuffer, s_.RxCount);
    s_.RxCount = 0;     // a partial reply still collected is dropped
    s_.TickCount = 0;
    TraceRequest(s_.TxFrame, kRequestLength);
    line_->WriteBytes(s_.TxFrame, kRequestLength);
    s_.ReadyToSend = 0;
}

void PollCycle::Receive(int count)
{
    // Bytes on the line keep the exchange waiting, but only an accepted reply
    // proves the link: a relay whose every answer is spoilt still ends in the
    // no-link state.
    s_.TickCount = 0;
    // The waiting bytes in reads of at most a buffer's worth; each is
    // appended as it came.
    uint8_t bytes[kRxBufferSize];
    while (count > 0) {
        const int got = line_->ReadBytes(bytes, std::min(count, kRxBufferSize));
        for (int i = 0; i < got; ++i) {
            s_.RxByte = bytes[i];
            s_.AppendRxByte(s_.RxByte);
        }
        if (got < std::min(count, kRxBufferSize))
            break;
        count -= got;
    }

    const ReplyVerdict verdict = s_.AssessReply();
    if (verdict != ReplyVerdict::Incomplete) {
        TraceReply(s_.RxBuffer, s_.ReplyDataLength + 5, verdict);
        const bool flagsMayApply = Conclude(verdict);
        s_.RxCount = 0;    // bytes after a whole reply go with it
        if (!flagsMayApply)
            return;
    }
    s_.ApplyRequestFlags();
}

bool PollCycle::Conclude(ReplyVerdict verdict)
{
    const bool writeSent = s_.Sent.valid && s_.Sent.IsWrite();
    switch (verdict) {
    case ReplyVerdict::ReadValid:
        s_.ReadyToSend = 1;
        s_.MissCount = 0;
        client_.HandleReadReply(s_.Sent);
        return true;
    case ReplyVerdict::WriteEcho:
    case ReplyVerdict::WriteAltered:
        s_.ReadyToSend = 1;
        s_.MissCount = 0;
        client_.HandleWriteReply(s_.Sent, verdict);
        return true;
    case ReplyVerdict::Refused:
        if (writeSent) {
            s_.ReadyToSend = 1;
            s_.MissCount = 0;
            client_.HandleWriteReply(s_.Sent, verdict);
            return true;
        }
        break;   // an exception to a read is a failed exchange
    case ReplyVerdict::Incomplete:
    case ReplyVerdict::BadCrc:
    case ReplyVerdict::NotAnswer:
        break;
    }
    // A failed exchange. A write stays unconfirmed and is sent again after
    // the time-out, which counts the miss; a read may be asked again at once.
    if (writeSent)
        return false;
    s_.ReadyToSend = 1;
    ++s_.MissCount;
    return true;
}
