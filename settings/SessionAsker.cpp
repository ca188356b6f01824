#include "settings/SessionAsker.h"

namespace {

LoadAnswer LoadAnswerOf(const Answer& answer, bool abandoned)
{
    LoadAnswer a;
    a.outcome = answer.outcome;
    a.values = answer.values;
    a.exceptionCode = answer.exceptionCode;
    a.stored = answer.stored;
    a.tries = answer.tries;
    a.spoiltSeen = answer.spoiltSeen;
    const bool cut = answer.outcome == Outcome::Unconfirmed || answer.outcome == Outcome::NotSent
        || answer.outcome == Outcome::Aborted;
    if (cut)
        a.cause = abandoned ? LoadCause::Abandoned : LoadCause::LineLost;
    return a;
}

}  // namespace

SessionAsker::SessionAsker(RelaySession& session, int tries, QObject* parent)
    : QObject(parent), session_(session), tries_(tries), address_(session.SlaveAddress())
{
}

SessionAsker::~SessionAsker()
{
    // A write on the line ends unconfirmed; nobody waits for the answer.
    if (reply_)
        reply_->abandon();
}

void SessionAsker::Read(const RegisterBlock& block, int address, int tries, bool probe, Done done)
{
    Question q = Question::Read(block, address > 0 ? address : address_);
    q.tries = tries > 0 ? tries : tries_;
    q.probe = probe;
    ask(q, std::move(done));
}

void SessionAsker::Write(int reg, uint16_t value, int address, Done done)
{
    Question q = Question::Write(reg, value, address > 0 ? address : address_);
    q.tries = tries_;
    ask(q, std::move(done));
}

void SessionAsker::ask(const Question& question, Done done)
{
    SessionReply* reply = session_.Ask(question);
    reply_ = reply;
    connect(reply, &SessionReply::finished, this, [this, reply, done = std::move(done)](const Answer& answer) {
        const bool abandoned = abandoned_ == reply;
        if (reply_ == reply)
            reply_.clear();
        // From the event loop: the load may ask its next question from `done`.
        QMetaObject::invokeMethod(this, [done, a = LoadAnswerOf(answer, abandoned)] { done(a); },
                                  Qt::QueuedConnection);
    });
}

void SessionAsker::Abandon()
{
    if (!reply_)
        return;
    abandoned_ = reply_;
    reply_->abandon();
}
