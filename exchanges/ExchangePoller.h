// The exchange table as the session's polled requests: the row of the
// current PollMode builds the request, the row of the request sent takes its
// reply, and the request flags take effect at the end of a receive event.
// The poller owns the exchanges' state; the front end raises its flags.
#pragma once

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
    void Build(LinkState& s) override;
    void ReadAnswered(const SentRequest& sent) override;
    void WriteAnswered(const SentRequest& sent, bool echoed) override;
    void ReceiveEnded() override;
    void LineClosed() override;

private:
    ExchangeState state_;
    PollView view_;
};
