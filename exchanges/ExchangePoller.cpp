#include "exchanges/ExchangePoller.h"

#include "exchanges/ExchangeFlags.h"

void ExchangePoller::Build(LinkState& s)
{
    // No exchange of that mode: the previous request goes out again.
    if (const Exchange* exchange = FindExchange(state_.PollMode))
        exchange->build(state_, s, view_);
    s.TxMode = state_.PollMode;
    s.TxContext = state_.ExchangeContext;
}

void ExchangePoller::ReadAnswered(const SentRequest& sent)
{
    if (const Exchange* exchange = FindExchange(sent.mode); exchange && exchange->answered)
        exchange->answered(state_, sent, view_);
}

void ExchangePoller::WriteAnswered(const SentRequest& sent, bool echoed)
{
    if (const WriteKind* kind = FindWriteKind(sent.context))
        (echoed ? kind->echoed : kind->finalWord)(state_);
}

void ExchangePoller::ReceiveEnded()
{
    ApplyRequestFlags(state_);
}

void ExchangePoller::LineClosed()
{
    state_.ExchangeContext = ecPortClosed;
}
