#include "settings/SessionAsker.h"

#include <memory>

SessionAsker::SessionAsker(RelaySession& session, int tries, QObject* parent)
    : QObject(parent), session_(session), tries_(tries), address_(session.State().SlaveAddress)
{
    connect(&session_, &RelaySession::lineLost, this, [this] { lineGone_ = true; });
    connect(&session_, &RelaySession::lineOpenChanged, this, [this](bool open) { lineGone_ = !open; });
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
    if (session_.IsOpen())
        lineGone_ = false;
    // The session tells a write given up after its tries apart from one cut
    // short, by writeEnded, before the reply finishes.
    auto triesRanOut = std::make_shared<bool>(false);
    SessionReply* reply = session_.Ask(question);
    reply_ = reply;
    auto written = std::make_shared<QMetaObject::Connection>();
    if (question.IsWrite())
        *written = connect(&session_, &RelaySession::writeEnded, reply, [triesRanOut, question](const WriteResult& r) {
            if (r.reg == question.reg && r.value == question.value && r.address == question.address)
                *triesRanOut = r.how == WriteHow::NoAnswer;
        });
    connect(reply, &SessionReply::finished, this, [this, reply, done = std::move(done), triesRanOut,
                                                   written](const Answer& answer) {
        disconnect(*written);
        const bool abandoned = abandoned_ == reply;
        if (reply_ == reply)
            reply_.clear();
        // From the event loop, once the session has told of a lost or closed
        // line: the load may ask its next question from `done`.
        QMetaObject::invokeMethod(this, [this, done, answer, abandoned, triesRanOut] {
            done(Translate(answer, abandoned, lineGone_ || !session_.IsOpen(), *triesRanOut));
        }, Qt::QueuedConnection);
    });
}

void SessionAsker::Abandon()
{
    if (!reply_)
        return;
    abandoned_ = reply_;
    reply_->abandon();
}

LoadAnswer SessionAsker::Translate(const Answer& answer, bool abandoned, bool lineGone, bool triesRanOut)
{
    LoadAnswer a;
    a.values = answer.values;
    a.exceptionCode = answer.exceptionCode;
    a.stored = answer.stored;
    a.tries = answer.tries;
    a.spoiltSeen = answer.spoiltSeen;
    const LoadCause cut = abandoned ? LoadCause::Abandoned : lineGone ? LoadCause::LineLost : LoadCause::NoAnswer;
    switch (answer.outcome) {
    case ReplyOutcome::Values: a.outcome = LoadReply::Values; break;
    case ReplyOutcome::ReadFailed:
        a.outcome = LoadReply::ReadFailed;
        a.cause = answer.why == ExchangeFailure::Refused ? LoadCause::None : cut;
        break;
    case ReplyOutcome::Echoed: a.outcome = LoadReply::Echoed; break;
    case ReplyOutcome::Refused: a.outcome = LoadReply::Refused; break;
    case ReplyOutcome::Altered: a.outcome = LoadReply::Altered; break;
    case ReplyOutcome::Unconfirmed:
        a.outcome = LoadReply::Unconfirmed;
        a.cause = triesRanOut ? LoadCause::NoAnswer : cut;
        break;
    case ReplyOutcome::NotSent:
    case ReplyOutcome::Aborted:
        a.outcome = answer.question.IsWrite() ? LoadReply::NotSent : LoadReply::ReadFailed;
        a.cause = abandoned ? LoadCause::Abandoned : LoadCause::LineLost;
        break;
    }
    return a;
}
