#include "link/PollCycle.h"

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
    }

    // The miss counter never overflows and the no-link state goes on.
    if (s_.MissCount >= kMissCeiling)
        s_.MissCount = kMissRestart;
    if (s_.LinkLost())
        client_.ShowLinkLost();
    else
        client_.ShowLinkPresent();
}

void PollCycle::Send()
{
    client_.BuildRequest();
    s_.SealTxFrame();
    s_.RxCount = 0;     // a partial reply still collected is dropped
    s_.TickCount = 0;
    for (int i = 0; i < kRequestLength; ++i)
        line_->WriteByte(s_.TxFrame[i]);
    s_.ReadyToSend = 0;
}

void PollCycle::Receive(int count)
{
    s_.TickCount = 0;
    s_.MissCount = 0;
    for (int i = 0; i < count; ++i) {
        if (!line_->ReadByte(s_.RxByte))
            break;
        s_.AppendRxByte(s_.RxByte);
    }

    switch (s_.AssessReply()) {
    case ReplyVerdict::Incomplete:
        break;
    case ReplyVerdict::ReadValid:
        s_.ReadyToSend = 1;
        client_.HandleReadReply();
        s_.RxCount = 0;
        break;
    case ReplyVerdict::ReadBadCrc:
        s_.ReadyToSend = 1;
        ++s_.MissCount;
        s_.RxCount = 0;
        break;
    case ReplyVerdict::WriteEcho:
        s_.ReadyToSend = 1;
        client_.HandleWriteEcho();
        s_.RxCount = 0;
        break;
    case ReplyVerdict::WriteMismatch:
        // The write is not confirmed: no flag may switch the exchange away
        // until it has been repeated and echoed as sent.
        s_.RxCount = 0;
        return;
    }
    s_.ApplyRequestFlags();
}
