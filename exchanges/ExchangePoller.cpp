#include "exchanges/ExchangePoller.h"

#include "exchanges/ExchangeFlags.h"

void ExchangePoller::Build(LinkState& s)
{
    // No exchange of that mode: the previous request goes out again.
    if (const Exchange* exchange = FindExchange(s.PollMode))
        exchange->build(s, view_);
}

void ExchangePoller::ReadAnswered(LinkState& s, const SentRequest& sent)
{
    if (const Exchange* exchange = FindExchange(sent.mode); exchange && exchange->answered)
        exchange->answered(s, sent, view_);
}

void ExchangePoller::WriteAnswered(LinkState& s, const SentRequest& sent, bool echoed)
{
    if (const WriteKind* kind = FindWriteKind(sent.context))
        (echoed ? kind->echoed : kind->finalWord)(s);
}

void ExchangePoller::ReceiveEnded(LinkState& s)
{
    ApplyRequestFlags(s);
}

void ExchangePoller::LineClosed(LinkState& s)
{
    s.ExchangeContext = ecPortClosed;
}
