#include "link/SessionReply.h"

SessionReply::SessionReply(const Question& question, QObject* parent) : QObject(parent)
{
    answer_.question = question;
}

void SessionReply::abandon()
{
    if (!finished_)
        Withdraw();
}

void SessionReply::Finish(Outcome outcome)
{
    if (finished_)
        return;
    finished_ = true;
    answer_.outcome = outcome;
    emit finished(answer_);
    deleteLater();
}
