#include "exchanges/ExchangeFlags.h"

#include "exchanges/PollModes.h"

bool ClockSequenceRunning(const ExchangeState& x)
{
    return x.PollMode == pmWriteRegister && x.ExchangeContext == ecClockWrite && x.ClockStep >= 1 && x.ClockStep <= 5;
}

void ApplyRequestFlags(ExchangeState& x)
{
    if (ClockSequenceRunning(x))
        return;
    if (x.ReadParamRequest) { x.ReadParamRequest = 0; x.PollMode = pmReadParam; }
    if (x.ReadUstNastRequest) { x.ReadUstNastRequest = 0; x.PollMode = pmReadUstNast; }
    if (x.ReadProtokolRequest) { x.ReadProtokolRequest = 0; x.PollMode = pmReadProtokol; }
    if (x.ReadMaskRequest) { x.ReadMaskRequest = 0; x.PollMode = pmReadMask; }
    if (x.WriteClockRequest) { x.WriteClockRequest = 0; x.PollMode = pmWriteRegister; x.ExchangeContext = ecClockWrite; }
    if (x.WriteUstRequest) { x.WriteUstRequest = 0; x.PollMode = pmWriteRegister; x.ExchangeContext = ecSettingWrite; }
    if (x.WriteMaskRequest) { x.WriteMaskRequest = 0; x.PollMode = pmWriteRegister; x.ExchangeContext = ecMaskWrite; }
}
