// The window's exchanges' own state: which exchange the poll cycle runs and
// what it reads or writes, the user's request flags, the clock write's
// sequence and the values a write carries. Every value starts at zero; the
// exchange poller (ExchangePoller) owns one, beside the session's link state.
#pragma once

#include <cstdint>

// The fields of the relay's clock that a clock write sends, in the order it
// sends them (the relay keeps no year).
struct ClockTime {
    uint16_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
};

struct ExchangeState {
    // The exchange the poll cycle runs (TPollMode) and its sub-selection
    // (TExchangeContext).
    int32_t PollMode = 0;
    uint8_t ExchangeContext = 0;

    // The window's request flags, applied in this order at the end of a
    // receive event (exchanges/ExchangeFlags.h).
    uint8_t ReadParamRequest = 0;
    uint8_t ReadUstNastRequest = 0;
    uint8_t ReadProtokolRequest = 0;
    uint8_t ReadMaskRequest = 0;
    uint8_t WriteClockRequest = 0;
    uint8_t WriteUstRequest = 0;
    uint8_t WriteMaskRequest = 0;
    uint8_t WriteFrameSent = 0;

    // The clock write: five registers, one per exchange.
    uint8_t ClockRegister = 0;
    uint16_t ClockValue = 0;
    int32_t ClockStep = 0;         // 1 to 5 while the sequence runs
    uint8_t ClockFrameSent = 0;
    ClockTime ClockWriteTime;      // the moment being written, taken once at the click

    // The setting and the mask a write carries.
    uint8_t WriteUstRegister = 0;
    uint16_t WriteUstValue = 0;
    uint16_t MaskWriteRegister = 0;
    uint16_t MaskWriteValue = 0;

    // The event record being read (1 to 4).
    uint8_t ProtokolNumber = 0;
};
