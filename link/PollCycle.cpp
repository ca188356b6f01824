#include "link/PollCycle.h"

#include "link/FrameTrace.h"

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
    for (int i = 0; i < kRequestLength; ++i)
        line_->WriteByte(s_.TxFrame[i]);
    s_.ReadyToSend = 0;
}

void PollCycle::Receive(int count)
{
    // Bytes on the line keep the exchange waiting, but only an accepted reply
    // proves the link: a relay whose every answer is spoilt still ends in the
    // no-link state.
    s_.TickCount = 0;
    for (int i = 0; i < count; ++i) {
        if (!line_->ReadByte(s_.RxByte))
            break;
        s_.AppendRxByte(s_.RxByte);
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
