#include "exchanges/ExchangeFlags.h"

#include "exchanges/PollModes.h"

bool ClockSequenceRunning(const LinkState& s)
{
    return s.PollMode == pmWriteRegister && s.ExchangeContext == ecClockWrite && s.ClockStep >= 1 && s.ClockStep <= 5;
}

void ApplyRequestFlags(LinkState& s)
{
    if (ClockSequenceRunning(s))
        return;
    if (s.ReadParamRequest) { s.ReadParamRequest = 0; s.PollMode = pmReadParam; }
    if (s.ReadUstNastRequest) { s.ReadUstNastRequest = 0; s.PollMode = pmReadUstNast; }
    if (s.ReadProtokolRequest) { s.ReadProtokolRequest = 0; s.PollMode = pmReadProtokol; }
    if (s.ReadMaskRequest) { s.ReadMaskRequest = 0; s.PollMode = pmReadMask; }
    if (s.WriteClockRequest) { s.WriteClockRequest = 0; s.PollMode = pmWriteRegister; s.ExchangeContext = ecClockWrite; }
    if (s.WriteUstRequest) { s.WriteUstRequest = 0; s.PollMode = pmWriteRegister; s.ExchangeContext = ecSettingWrite; }
    if (s.WriteMaskRequest) { s.WriteMaskRequest = 0; s.PollMode = pmWriteRegister; s.ExchangeContext = ecMaskWrite; }
}
