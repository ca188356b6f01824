// The exchange table. Each exchange (one per PollMode) names the blocks it may
// read, its request builder and its decoder; each kind of register write (one
// per ExchangeContext of the write exchange) names its frame builder and what
// the relay's answer does. A reply is decoded by the row of
// the request that was sent; adding an exchange is adding a row.
#pragma once

#include <cstdint>
#include <vector>

#include "link/LinkState.h"
#include "link/PollModes.h"

class TForm1;

// A run of holding registers read with function 3.
struct RegisterBlock {
    int first = 0;
    int count = 0;
};

struct Exchange {
    TPollMode mode;
    const char* name;
    std::vector<RegisterBlock> blocks;                    // every block its builder may read
    void (TForm1::*build)();                              // fills TxFrame bytes 0 to 5
    void (TForm1::*decode)(const SentRequest& sent);      // a read reply that answers `sent`;
                                                          // none for the write exchange
};

struct WriteKind {
    TExchangeContext context;
    const char* name;
    void (TForm1::*build)();       // fills TxFrame bytes 0 to 5 with the write
    void (TForm1::*echoed)();      // the exact echo arrived
    void (TForm1::*finalWord)();   // the relay answered otherwise: an exception, or another value stored
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
