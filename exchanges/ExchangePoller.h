// The exchange table as the session's polled requests: the row of the
// current PollMode builds the request, the row of the request sent takes its
// reply, and the request flags take effect at the end of a receive event.
// The poller owns the exchanges' state; the front end raises its flags. It
// also tells the session which of its requests are the same register write
// again, and so when the window has moved on from a write left unanswered.
#pragma once

#include <array>
#include <optional>

#include "exchanges/ExchangeState.h"
#include "exchanges/ExchangeTable.h"
#include "link/PolledRequests.h"

class ExchangePoller : public IPolledRequests {
public:
    // What the exchanges need to know of the front end.
    void SetView(const PollView& view) { view_ = view; }

    ExchangeState& State() { return state_; }
    const ExchangeState& State() const { return state_; }

    bool HasRequest() const override { return state_.PollMode != 0; }
    void Build(PolledRequest& request) override;
    void ReadAnswered(const SentRequest& sent) override;
    void WriteAnswered(const SentRequest& sent, bool echoed) override;
    void ReceiveEnded() override;
    void LineClosed() override;

private:
    // A register write as built: its frame before the CRC and its kind.
    struct BuiltWrite {
        std::array<uint8_t, 6> frame{};
        uint8_t context = 0;
        friend bool operator==(const BuiltWrite&, const BuiltWrite&) = default;
    };

    ExchangeState state_;
    PollView view_;
    std::optional<BuiltWrite> unanswered_;   // the write built last, while its answer is due
};
