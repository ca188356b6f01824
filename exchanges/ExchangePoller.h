// The exchange table as the session's polled requests: the row of the
// current PollMode builds the request, the row of the request sent takes its
// reply, and the request flags take effect at the end of a receive event.
#pragma once

#include "exchanges/ExchangeTable.h"
#include "link/PolledRequests.h"

class ExchangePoller : public IPolledRequests {
public:
    // What the exchanges need to know of the front end.
    void SetView(const PollView& view) { view_ = view; }

    bool HasRequest(const LinkState& s) const override { return s.PollMode != 0; }
    void Build(LinkState& s) override;
    void ReadAnswered(LinkState& s, const SentRequest& sent) override;
    void WriteAnswered(LinkState& s, const SentRequest& sent, bool echoed) override;
    void ReceiveEnded(LinkState& s) override;
    void LineClosed(LinkState& s) override;

private:
    PollView view_;
};
