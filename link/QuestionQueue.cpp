#include "link/QuestionQueue.h"

#include <QPointer>

#include <algorithm>

#include "link/SessionReply.h"

// A reply as the queue keeps it: the queue fills in its answer and finishes it.
class QueuedReply : public SessionReply {
public:
    QueuedReply(const Question& question, QuestionQueue* queue) : SessionReply(question, queue), queue_(queue) {}
    using SessionReply::Filling;
    using SessionReply::Finish;

protected:
    void Withdraw() override
    {
        if (queue_)
            queue_->Withdraw(this);
        else
            Finish(OutcomeOf(question().IsWrite(), answer().LeftThePc(), Ending::Withdrawn));
    }

private:
    QPointer<QuestionQueue> queue_;
};

QuestionQueue::QuestionQueue(QObject* parent) : QObject(parent) {}

QuestionQueue::~QuestionQueue() = default;

SessionReply* QuestionQueue::Add(const Question& question)
{
    auto* reply = new QueuedReply(question, this);
    pending_.push_back(reply);
    return reply;
}

SessionReply* QuestionQueue::Refuse(const Question& question)
{
    auto* reply = new QueuedReply(question, this);
    QPointer<QueuedReply> refused(reply);
    refused_.erase(std::remove_if(refused_.begin(), refused_.end(),
                                  [](const QPointer<QueuedReply>& r) { return !r || r->isFinished(); }),
                   refused_.end());
    refused_.push_back(refused);
    QMetaObject::invokeMethod(
        this, [refused] { if (refused) refused->Finish(Outcome::Aborted); }, Qt::QueuedConnection);
    return reply;
}

Answer* QuestionQueue::Send()
{
    onLine_ = !pending_.empty();
    if (!onLine_)
        return nullptr;
    Answer& answer = pending_.front()->Filling();
    ++answer.tries;
    return &answer;
}

Answer* QuestionQueue::OnLine()
{
    return onLine_ ? &pending_.front()->Filling() : nullptr;
}

Answer* QuestionQueue::Head()
{
    return pending_.empty() ? nullptr : &pending_.front()->Filling();
}

void QuestionQueue::EndOnLine(Ending ending, ReplyVerdict verdict, ExchangeFailure why)
{
    if (onLine_)
        finish(pending_.front(), ending, verdict, why);
}

void QuestionQueue::EndHead(ExchangeFailure why)
{
    if (!pending_.empty())
        finish(pending_.front(), Ending::TriesSpent, ReplyVerdict::ReadValid, why);
}

void QuestionQueue::EndAll()
{
    onLine_ = false;
    std::deque<QueuedReply*> ending;
    ending.swap(pending_);
    for (QueuedReply* reply : ending)
        finish(reply, Ending::LineGone);
    std::vector<QPointer<QueuedReply>> refused;
    refused.swap(refused_);
    for (const QPointer<QueuedReply>& reply : refused)
        if (reply)
            reply->Finish(Outcome::Aborted);
}

void QuestionQueue::Withdraw(QueuedReply* reply)
{
    const bool fromLine = onLine_ && !pending_.empty() && pending_.front() == reply;
    if (fromLine)
        onLine_ = false;
    emit withdrawing(fromLine);
    finish(reply, Ending::Withdrawn);
}

void QuestionQueue::finish(QueuedReply* reply, Ending ending, ReplyVerdict verdict, ExchangeFailure why)
{
    if (reply->isFinished())
        return;
    if (const auto at = std::find(pending_.begin(), pending_.end(), reply); at != pending_.end()) {
        if (at == pending_.begin())
            onLine_ = false;
        pending_.erase(at);
    }
    Answer& answer = reply->Filling();
    answer.outcome = OutcomeOf(answer.question.IsWrite(), answer.LeftThePc(), ending, verdict, why);
    if (answer.question.IsWrite() && answer.LeftThePc())
        emit writeEnded(answer);
    reply->Finish(answer.outcome);
}
