#include "exchanges/ExchangeTable.h"

#include "exchanges/CurrentParams.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeFlags.h"

namespace {

void FillBlockRead(PolledRequest& r, const RegisterBlock& block)
{
    FillReadRequest(r.frame, r.slave, block.first, block.count);
}

// The settings exchange alternates on "Настройки": the live values, then the
// settings block, and so on. It is this exchange's own alternation: a write
// already switched to keeps its ExchangeContext.
void ReadUstNastAnswered(ExchangeState& x, const SentRequest& sent, const PollView& view)
{
    if (x.PollMode != pmReadUstNast)
        return;
    if (sent.Register() == kLiveBlock.first)
        x.ExchangeContext = ecSettingsBlock;
    else if (!view.setpointsShown)
        x.ExchangeContext = ecLiveBlock;
}

// A refusal or another value stored ends the clock write, unless a click has
// started it again since that frame went out: the new sequence goes on.
void ClockWriteFinalWord(ExchangeState& x)
{
    if (x.ClockFrameSent == 0 && x.ClockStep == 1)
        return;
    ClockWriteEnded(x);
}

}  // namespace

void ReadParamTimer(ExchangeState&, PolledRequest& r, const PollView&)
{
    FillBlockRead(r, kCurrentParamsBlock);
}

void ReadUstNastTimer(ExchangeState& x, PolledRequest& r, const PollView& view)
{
    // The live values belong to "Настройки"; "Уставки" always reads its block,
    // also when it was entered while the alternation had asked for live values.
    const bool live = x.ExchangeContext == ecLiveBlock && !view.setpointsShown;
    FillBlockRead(r, live ? kLiveBlock : kSettingsBlock);
}

void ReadProtokolTimer(ExchangeState& x, PolledRequest& r, const PollView&)
{
    r.frame[0] = uint8_t(r.slave);
    r.frame[1] = kFunctionRead;
    r.frame[2] = 0;
    // A record number off the four leaves the previous register in place.
    if (x.ProtokolNumber >= 1 && x.ProtokolNumber <= kRecordCount)
        r.frame[3] = uint8_t(RecordBlock(x.ProtokolNumber).first);
    r.frame[4] = 0;
    r.frame[5] = uint8_t(kRecordLength);
}

void ReadMaskTimer(ExchangeState&, PolledRequest& r, const PollView&)
{
    FillBlockRead(r, kMasksBlock);
}

void WriteUstTimer(ExchangeState& x, PolledRequest& r, const PollView&)
{
    if (const WriteKind* kind = FindWriteKind(x.ExchangeContext)) {
        kind->build(x, r);
        return;
    }
    r.frame[0] = uint8_t(r.slave);   // nothing of its own: the previous request again
}

void BuildSettingWrite(ExchangeState& x, PolledRequest& r)
{
    FillWriteRequest(r.frame, r.slave, x.WriteUstRegister, x.WriteUstValue);
    x.WriteFrameSent = 1;
}

// The echo confirms the write; an exception or an echo of another value is the
// relay's own final word on it. Either way the write is over and the page is
// read back, so the control shows what the relay really holds. An answer to
// a write the user has since replaced changes nothing.
void SettingWriteEnded(ExchangeState& x)
{
    if (x.WriteFrameSent == 1)
        x.PollMode = pmReadUstNast;
}

void BuildMaskWrite(ExchangeState& x, PolledRequest& r)
{
    FillWriteRequest(r.frame, r.slave, uint8_t(x.MaskWriteRegister), x.MaskWriteValue);
    x.WriteFrameSent = 1;
}

// Confirmed or answered otherwise by the relay, the masks are read again and
// show what it holds. An answer to a write since replaced changes nothing.
void MaskWriteEnded(ExchangeState& x)
{
    if (x.WriteFrameSent == 1)
        x.PollMode = pmReadMask;
}

void StartClockWrite(ExchangeState& x, const ClockTime& moment)
{
    x.ClockWriteTime = moment;
    x.ClockValue = moment.month;
    // A click while a sequence runs starts it again from the month; the
    // running sequence is already the write exchange, so no second request.
    if (!ClockSequenceRunning(x))
        x.WriteClockRequest = 1;
    x.ClockRegister = kClockFirstRegister;
    x.ClockStep = 1;
    x.ClockFrameSent = 0;
}

void BuildClockWrite(ExchangeState& x, PolledRequest& r)
{
    FillWriteRequest(r.frame, r.slave, x.ClockRegister, x.ClockValue);
    x.ClockFrameSent = 1;
}

void ClockWriteEchoed(ExchangeState& x)
{
    if (x.ClockFrameSent == 1) {
        ++x.ClockStep;
        ++x.ClockRegister;
    }
    const ClockTime& t = x.ClockWriteTime;
    switch (x.ClockStep) {
    case 1: x.ClockValue = t.month; break;
    case 2: x.ClockValue = t.day; break;
    case 3: x.ClockValue = t.hour; break;
    case 4: x.ClockValue = t.minute; break;
    case 5: x.ClockValue = t.second; break;
    default: ClockWriteEnded(x); break;
    }
}

// After the fifth echo, or when the relay refuses a field or stores another
// value: the sequence is over and page 0 reads the relay's clock again.
void ClockWriteEnded(ExchangeState& x)
{
    x.PollMode = pmReadParam;
    x.ClockStep = 0;
}

const std::vector<Exchange>& Exchanges()
{
    static const std::vector<Exchange> table = {
        {pmReadParam, "current parameters", {kCurrentParamsBlock}, &ReadParamTimer, nullptr},
        {pmReadUstNast, "setpoints and configuration", {kSettingsBlock, kLiveBlock}, &ReadUstNastTimer,
         &ReadUstNastAnswered},
        {pmReadProtokol, "event records", {RecordBlock(1), RecordBlock(2), RecordBlock(3), RecordBlock(4)},
         &ReadProtokolTimer, nullptr},
        {pmReadMask, "protection masks", {kMasksBlock}, &ReadMaskTimer, nullptr},
        {pmWriteRegister, "register write", {}, &WriteUstTimer, nullptr},
    };
    return table;
}

const std::vector<WriteKind>& WriteKinds()
{
    static const std::vector<WriteKind> table = {
        {ecClockWrite, "clock", &BuildClockWrite, &ClockWriteEchoed, &ClockWriteFinalWord},
        {ecSettingWrite, "setting", &BuildSettingWrite, &SettingWriteEnded, &SettingWriteEnded},
        {ecMaskWrite, "mask", &BuildMaskWrite, &MaskWriteEnded, &MaskWriteEnded},
    };
    return table;
}

const Exchange* FindExchange(int32_t mode)
{
    for (const Exchange& row : Exchanges())
        if (row.mode == mode)
            return &row;
    return nullptr;
}

const WriteKind* FindWriteKind(uint8_t context)
{
    for (const WriteKind& row : WriteKinds())
        if (row.context == context)
            return &row;
    return nullptr;
}
