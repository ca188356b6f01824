// The exchange table, as data. Each exchange (one per PollMode) names the
// blocks it may read, its request builder and what a reply to it does to the
// link state; each kind of register write (one per ExchangeContext of the
// write exchange) names its frame builder and what the relay's echo or other
// final word does. Builders and steps work on the link state alone; what a
// reply shows is for the front end that receives its values. A reply is
// handled by the row of the request that was sent; adding an exchange is
// adding a row.
#pragma once

#include <cstdint>
#include <vector>

#include "link/LinkState.h"
#include "exchanges/PollModes.h"
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
    void (*build)(LinkState& s, const PollView& view);              // fills TxFrame bytes 0 to 5
    // After a read reply that answers `sent`: the exchange's own state.
    void (*answered)(LinkState& s, const SentRequest& sent, const PollView& view);
};

struct WriteKind {
    TExchangeContext context;
    const char* name;
    void (*build)(LinkState& s);       // fills TxFrame bytes 0 to 5 with the write
    void (*echoed)(LinkState& s);      // the exact echo arrived
    void (*finalWord)(LinkState& s);   // the relay answered otherwise: an exception, or another value stored
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
void ReadParamTimer(LinkState& s, const PollView& view);
void ReadUstNastTimer(LinkState& s, const PollView& view);
void ReadProtokolTimer(LinkState& s, const PollView& view);
void ReadMaskTimer(LinkState& s, const PollView& view);
void WriteUstTimer(LinkState& s, const PollView& view);

// The write exchange's steps, by kind.
void BuildSettingWrite(LinkState& s);
void SettingWriteEnded(LinkState& s);
void BuildMaskWrite(LinkState& s);
void MaskWriteEnded(LinkState& s);
void BuildClockWrite(LinkState& s);
void ClockWriteEchoed(LinkState& s);
void ClockWriteEnded(LinkState& s);

// Starts the clock write of `moment` from its first field, the month.
void StartClockWrite(LinkState& s, const ClockTime& moment);
