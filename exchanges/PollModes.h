// Names for the exchanges the poll cycle runs (PollMode) and for the
// sub-selections within them (ExchangeContext).
#pragma once

#include <cstdint>

enum TPollMode : int32_t {
    pmReadUstNast = 1,    // setpoints and configuration, or the live block beside them
    pmWriteRegister = 2,  // one register write: a setting, a clock field or a mask
    pmReadParam = 5,      // current parameters
    pmReadProtokol = 7,   // one event record
    pmReadMask = 8,       // the three protection masks
};

enum TExchangeContext : uint8_t {
    ecClockWrite = 0,     // the five-step clock write
    ecPortClosed = 1,     // left behind by closing the port
    ecSettingWrite = 4,   // one setting write
    ecMaskWrite = 6,      // one mask write
    ecLiveBlock = 11,     // the next settings read fetches the live block at register 50
    ecSettingsBlock = 12, // the next settings read fetches the 44-register block at 80
};
