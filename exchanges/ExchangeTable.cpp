#include "exchanges/ExchangeTable.h"

#include "app/UnitMain.h"

const std::vector<Exchange>& Exchanges()
{
    static const std::vector<Exchange> table = {
        {pmReadParam, "current parameters", {kCurrentParamsBlock}, &TForm1::ReadParamTimer,
         &TForm1::ReadParamReceive},
        {pmReadUstNast, "setpoints and configuration", {kSettingsBlock, kLiveBlock}, &TForm1::ReadUstNastTimer,
         &TForm1::ReadUstNastReceive},
        {pmWriteRegister, "register write", {}, &TForm1::WriteUstTimer, nullptr},
    };
    return table;
}

const std::vector<WriteKind>& WriteKinds()
{
    static const std::vector<WriteKind> table = {
        {ecSettingWrite, "setting", &TForm1::BuildSettingWrite, &TForm1::SettingWriteEnded,
         &TForm1::SettingWriteEnded},
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
