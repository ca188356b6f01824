#include "link/SessionReply.h"

#include "link/RelaySession.h"

SessionReply::SessionReply(RelaySession& session, const Question& question) : QObject(&session), session_(&session)
{
    answer_.question = question;
}

void SessionReply::abandon()
{
    if (finished_)
        return;
    if (session_)
        session_->abandonReply(this);
    else if (!answer_.LeftThePc())
        finish(ReplyOutcome::NotSent);
    else
        finish(question().IsWrite() ? ReplyOutcome::Unconfirmed : ReplyOutcome::ReadFailed);
}

void SessionReply::finish(ReplyOutcome outcome)
{
    if (finished_)
        return;
    finished_ = true;
    answer_.outcome = outcome;
    emit finished(answer_);
    deleteLater();
}
