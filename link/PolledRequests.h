// The session's standing source of polled requests: what goes out when no
// question waits, over and over (the window's exchanges), and what their
// replies and the user's requests do to them. Declared here, below the
// exchanges; the exchange table implements it (exchanges/ExchangePoller) and
// keeps its own state, so the link knows no exchange of its own.
#pragma once

#include "link/LinkState.h"

class IPolledRequests {
public:
    virtual ~IPolledRequests() = default;
    // Whether there is a polled request to send at all.
    virtual bool HasRequest() const = 0;
    // Fills TxFrame bytes 0 to 5 with the next polled request for the relay
    // at SlaveAddress (the previous one stays when there is none of its own),
    // and TxMode and TxContext with the tags its reply comes back with.
    virtual void Build(LinkState& s) = 0;
    // A read reply that answers `sent`: the exchange's own state.
    virtual void ReadAnswered(const SentRequest& sent) = 0;
    // The relay's exact echo (`echoed`) or other final word to the write `sent`.
    virtual void WriteAnswered(const SentRequest& sent, bool echoed) = 0;
    // A receive event has ended and no write awaits its answer: what the user
    // asked for meanwhile takes effect.
    virtual void ReceiveEnded() = 0;
    // The line was closed.
    virtual void LineClosed() = 0;
};
