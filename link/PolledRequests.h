// The session's standing source of polled requests: what goes out when no
// question waits, over and over (the window's exchanges), and what their
// replies and the user's requests do to them. Declared here, below the
// exchanges; the exchange table implements it (exchanges/ExchangePoller) and
// keeps its own state, so the link knows no exchange of its own.
#pragma once

#include <cstdint>

#include "link/LinkState.h"

// A polled request as its source builds it.
struct PolledRequest {
    int slave = 0;                // the relay asked
    // The request before its CRC: address, function, register (or the
    // first one), value (or the count). The previous request's bytes until
    // the source writes its own: with none of its own, those go out again.
    uint8_t frame[6] = {};
    int32_t mode = 0;             // the tags its reply comes back with (SentRequest::mode, context)
    uint8_t context = 0;
    // What the request is to the polled writes: no write, a write of its
    // own, or the write built last, not answered yet, once more. A write that
    // is not built again is over without its answer.
    enum class Write { None, New, Again };
    Write write = Write::None;
};

class IPolledRequests {
public:
    virtual ~IPolledRequests() = default;
    // Whether there is a polled request to send at all.
    virtual bool HasRequest() const = 0;
    // The next polled request, for the relay at `request.slave`.
    virtual void Build(PolledRequest& request) = 0;
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
