#include "exchanges/ExchangePoller.h"

#include <algorithm>

#include "exchanges/ExchangeFlags.h"

void ExchangePoller::Build(PolledRequest& request)
{
    // No exchange of that mode: the previous request goes out again.
    if (const Exchange* exchange = FindExchange(state_.PollMode))
        exchange->build(state_, request, view_);
    request.mode = state_.PollMode;
    request.context = state_.ExchangeContext;
    if (request.frame[1] != kFunctionWrite) {
        request.write = PolledRequest::Write::None;
        unanswered_.reset();
        return;
    }
    BuiltWrite built;
    std::copy(std::begin(request.frame), std::end(request.frame), built.frame.begin());
    built.context = request.context;
    request.write = unanswered_ == built ? PolledRequest::Write::Again : PolledRequest::Write::New;
    unanswered_ = built;
}

void ExchangePoller::ReadAnswered(const SentRequest& sent)
{
    if (const Exchange* exchange = FindExchange(sent.mode); exchange && exchange->answered)
        exchange->answered(state_, sent, view_);
}

void ExchangePoller::WriteAnswered(const SentRequest& sent, bool echoed)
{
    unanswered_.reset();
    if (const WriteKind* kind = FindWriteKind(sent.context))
        (echoed ? kind->echoed : kind->finalWord)(state_);
}

void ExchangePoller::ReceiveEnded()
{
    ApplyRequestFlags(state_);
}

void ExchangePoller::LineClosed()
{
    unanswered_.reset();
    state_.ExchangeContext = ecPortClosed;
}
