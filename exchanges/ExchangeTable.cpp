#include "exchanges/ExchangeTable.h"

#include "exchanges/CurrentParams.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeFlags.h"

namespace {

void FillBlockRead(LinkState& s, const RegisterBlock& block)
{
    FillReadRequest(s.TxFrame, s.SlaveAddress, block.first, block.count);
}

// The settings exchange alternates on "Настройки": the live values, then the
// settings block, and so on. It is this exchange's own alternation: a write
// already switched to keeps its ExchangeContext.
void ReadUstNastAnswered(LinkState& s, const SentRequest& sent, const PollView& view)
{
    if (s.PollMode != pmReadUstNast)
        return;
    if (sent.Register() == kLiveBlock.first)
        s.ExchangeContext = ecSettingsBlock;
    else if (!view.setpointsShown)
        s.ExchangeContext = ecLiveBlock;
}

// A refusal or another value stored ends the clock write, unless a click has
// started it again since that frame went out: the new sequence goes on.
void ClockWriteFinalWord(LinkState& s)
{
    if (s.ClockFrameSent == 0 && s.ClockStep == 1)
        return;
    ClockWriteEnded(s);
}

}  // namespace

void ReadParamTimer(LinkState& s, const PollView&)
{
    FillBlockRead(s, kCurrentParamsBlock);
}

void ReadUstNastTimer(LinkState& s, const PollView& view)
{
    // The live values belong to "Настройки"; "Уставки" always reads its block,
    // also when it was entered while the alternation had asked for live values.
    const bool live = s.ExchangeContext == ecLiveBlock && !view.setpointsShown;
    FillBlockRead(s, live ? kLiveBlock : kSettingsBlock);
}

void ReadProtokolTimer(LinkState& s, const PollView&)
{
    s.TxFrame[0] = uint8_t(s.SlaveAddress);
    s.TxFrame[1] = kFunctionRead;
    s.TxFrame[2] = 0;
    // A record number off the four leaves the previous register in place.
    if (s.ProtokolNumber >= 1 && s.ProtokolNumber <= kRecordCount)
        s.TxFrame[3] = uint8_t(RecordBlock(s.ProtokolNumber).first);
    s.TxFrame[4] = 0;
    s.TxFrame[5] = uint8_t(kRecordLength);
}

void ReadMaskTimer(LinkState& s, const PollView&)
{
    FillBlockRead(s, kMasksBlock);
}

void WriteUstTimer(LinkState& s, const PollView&)
{
    if (const WriteKind* kind = FindWriteKind(s.ExchangeContext)) {
        kind->build(s);
        return;
    }
    s.TxFrame[0] = uint8_t(s.SlaveAddress);   // nothing of its own: the previous request again
}

void BuildSettingWrite(LinkState& s)
{
    FillWriteRequest(s.TxFrame, s.SlaveAddress, s.WriteUstRegister, s.WriteUstValue);
    s.WriteFrameSent = 1;
}

// The echo confirms the write; an exception or an echo of another value is the
// relay's own final word on it. Either way the write is over and the page is
// read back, so the control shows what the relay really holds. An answer to
// a write the user has since replaced changes nothing.
void SettingWriteEnded(LinkState& s)
{
    if (s.WriteFrameSent == 1)
        s.PollMode = pmReadUstNast;
}

void BuildMaskWrite(LinkState& s)
{
    FillWriteRequest(s.TxFrame, s.SlaveAddress, uint8_t(s.MaskWriteRegister), s.MaskWriteValue);
    s.WriteFrameSent = 1;
}

// Confirmed or answered otherwise by the relay, the masks are read again and
// show what it holds. An answer to a write since replaced changes nothing.
void MaskWriteEnded(LinkState& s)
{
    if (s.WriteFrameSent == 1)
        s.PollMode = pmReadMask;
}

void StartClockWrite(LinkState& s, const ClockTime& moment)
{
    s.ClockWriteTime = moment;
    s.ClockValue = moment.month;
    // A click while a sequence runs starts it again from the month; the
    // running sequence is already the write exchange, so no second request.
    if (!ClockSequenceRunning(s))
        s.WriteClockRequest = 1;
    s.ClockRegister = kClockFirstRegister;
    s.ClockStep = 1;
    s.ClockFrameSent = 0;
}

void BuildClockWrite(LinkState& s)
{
    FillWriteRequest(s.TxFrame, s.SlaveAddress, s.ClockRegister, s.ClockValue);
    s.ClockFrameSent = 1;
}

void ClockWriteEchoed(LinkState& s)
{
    if (s.ClockFrameSent == 1) {
        ++s.ClockStep;
        ++s.ClockRegister;
    }
    const ClockTime& t = s.ClockWriteTime;
    switch (s.ClockStep) {
    case 1: s.ClockValue = t.month; break;
    case 2: s.ClockValue = t.day; break;
    case 3: s.ClockValue = t.hour; break;
    case 4: s.ClockValue = t.minute; break;
    case 5: s.ClockValue = t.second; break;
    default: ClockWriteEnded(s); break;
    }
}

// After the fifth echo, or when the relay refuses a field or stores another
// value: the sequence is over and page 0 reads the relay's clock again.
void ClockWriteEnded(LinkState& s)
{
    s.PollMode = pmReadParam;
    s.ClockStep = 0;
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
