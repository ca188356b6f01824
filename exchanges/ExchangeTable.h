// The exchange table, as data. Each exchange (one per PollMode) names the
// blocks it may read, its request builder and what a reply to it does to the
// exchange state; each kind of register write (one per ExchangeContext of the
// write exchange) names its frame builder and what the relay's echo or other
// final word does. Builders and steps work on the exchange state and the
// request frame alone; what a reply shows is for the front end that receives
// its values. A reply is handled by the row of the request that was sent;
// adding an exchange is adding a row.
#pragma once

#include <cstdint>
#include <vector>

#include "exchanges/ExchangeState.h"
#include "exchanges/PollModes.h"
#include "link/PolledRequests.h"
#include "link/RegisterValues.h"

// What the exchanges need to know of the front end: whether the setpoints
// page is the one shown (it reads its block only; elsewhere the settings
// exchange alternates its block with the live values).
struct PollView {
    bool setpointsShown = false;
};

struct Exchange {
    TPollMode mode;
    const char* name;
    std::vector<RegisterBlock> blocks;                              // every block its builder may read
    void (*build)(ExchangeState& x, PolledRequest& r, const PollView& view);   // fills the request's frame
    // After a read reply that answers `sent`: the exchange's own state.
    void (*answered)(ExchangeState& x, const SentRequest& sent, const PollView& view);
};

struct WriteKind {
    TExchangeContext context;
    const char* name;
    void (*build)(ExchangeState& x, PolledRequest& r);   // fills the request's frame with the write
    void (*echoed)(ExchangeState& x);                // the exact echo arrived
    void (*finalWord)(ExchangeState& x);             // the relay answered otherwise: an exception, or another value stored
};

const std::vector<Exchange>& Exchanges();
const std::vector<WriteKind>& WriteKinds();

// The row for a PollMode or a write's ExchangeContext, or nullptr.
const Exchange* FindExchange(int32_t mode);
const WriteKind* FindWriteKind(uint8_t context);

// The blocks that the exchanges read, by name, for builders and tests.
constexpr RegisterBlock kCurrentParamsBlock{50, 29};
constexpr RegisterBlock kSettingsBlock{80, 44};
constexpr RegisterBlock kLiveBlock{50, 11};
constexpr RegisterBlock kMasksBlock{96, 12};

// The request builders, by exchange.
void ReadParamTimer(ExchangeState& x, PolledRequest& r, const PollView& view);
void ReadUstNastTimer(ExchangeState& x, PolledRequest& r, const PollView& view);
void ReadProtokolTimer(ExchangeState& x, PolledRequest& r, const PollView& view);
void ReadMaskTimer(ExchangeState& x, PolledRequest& r, const PollView& view);
void WriteUstTimer(ExchangeState& x, PolledRequest& r, const PollView& view);

// The write exchange's steps, by kind.
void BuildSettingWrite(ExchangeState& x, PolledRequest& r);
void SettingWriteEnded(ExchangeState& x);
void BuildMaskWrite(ExchangeState& x, PolledRequest& r);
void MaskWriteEnded(ExchangeState& x);
void BuildClockWrite(ExchangeState& x, PolledRequest& r);
void ClockWriteEchoed(ExchangeState& x);
void ClockWriteEnded(ExchangeState& x);

// Starts the clock write of `moment` from its first field, the month.
void StartClockWrite(ExchangeState& x, const ClockTime& moment);
