#include "exchanges/ExchangeTable.h"

#include "app/UnitMain.h"
#include "exchanges/EventRecords.h"

const std::vector<Exchange>& Exchanges()
{
    static const std::vector<Exchange> table = {
        {pmReadParam, "current parameters", {kCurrentParamsBlock}, &TForm1::ReadParamTimer,
         &TForm1::ReadParamReceive},
        {pmReadUstNast, "setpoints and configuration", {kSettingsBlock, kLiveBlock}, &TForm1::ReadUstNastTimer,
         &TForm1::ReadUstNastReceive},
        {pmReadProtokol, "event records", {RecordBlock(1), RecordBlock(2), RecordBlock(3), RecordBlock(4)},
         &TForm1::ReadProtokolTimer, &TForm1::ReadProtokolReceive},
        {pmReadMask, "protection masks", {kMasksBlock}, &TForm1::ReadMaskTimer, &TForm1::ReadMaskReceive},
        {pmWriteRegister, "register write", {}, &TForm1::WriteUstTimer, nullptr},
    };
    return table;
}

const std::vector<WriteKind>& WriteKinds()
{
    static const std::vector<WriteKind> table = {
        {ecClockWrite, "clock", &TForm1::BuildClockWrite, &TForm1::ClockWriteEchoed, &TForm1::ClockWriteEnded},
        {ecSettingWrite, "setting", &TForm1::BuildSettingWrite, &TForm1::SettingWriteEnded,
         &TForm1::SettingWriteEnded},
        {ecMaskWrite, "mask", &TForm1::BuildMaskWrite, &TForm1::MaskWriteEnded, &TForm1::MaskWriteEnded},
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
