#include "link/AddressProbe.h"

#include "link/RelaySession.h"

AddressProbe::AddressProbe(RelaySession& session, QObject* parent) : QObject(parent), session_(session) {}

bool AddressProbe::Answered(const Answer& answer)
{
    return answer.outcome == Outcome::Values || answer.outcome == Outcome::Refused;
}

void AddressProbe::Start(int address, const RegisterBlock& block, int timeoutTicks)
{
    question_ = Question::Read(block, address);
    question_.tries = 1;
    question_.timeoutTicks = timeoutTicks;
    question_.probe = true;
    running_ = true;
    ask(false);
}

void AddressProbe::Abandon()
{
    if (reply_)
        reply_->abandon();
}

void AddressProbe::ask(bool confirming)
{
    confirming_ = confirming;
    Question q = question_;
    if (confirming) {
        // Whatever trails the first answer has come by then, and would
        // have restarted the wait.
        q.quietTicks = q.timeoutTicks > 0 ? q.timeoutTicks : session_.Options().replyTimeoutTicks;
    }
    reply_ = session_.Ask(q);
    connect(reply_, &SessionReply::finished, this, &AddressProbe::asked);
}

void AddressProbe::asked(const Answer& answer)
{
    reply_ = nullptr;
    if (!confirming_ && Answered(answer)) {
        ask(true);
        return;
    }
    running_ = false;
    emit finished(answer, confirming_ && Answered(answer));
}
