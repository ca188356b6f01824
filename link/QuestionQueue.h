// The session's questions in the order asked: every pending reply, the head
// one being asked, and how each ends. Each reply finishes exactly once, by
// the outcome policy (link/Outcome.h); a write that left the PC is told by
// writeEnded just before its reply finishes.
#pragma once

#include <QObject>

#include <QPointer>

#include <deque>
#include <vector>

#include "link/Outcome.h"
#include "link/Question.h"

class SessionReply;
class QueuedReply;

class QuestionQueue : public QObject {
    Q_OBJECT
public:
    explicit QuestionQueue(QObject* parent = nullptr);
    ~QuestionQueue() override;

    // Queues `question` behind the pending ones; the reply is the asker's to watch.
    SessionReply* Add(const Question& question);
    // The reply to a question that cannot be asked (the line is closed or
    // lost): it finishes Aborted from the event loop, once the asker has it.
    SessionReply* Refuse(const Question& question);

    int Size() const { return int(pending_.size()); }
    bool Empty() const { return pending_.empty(); }

    // The head question goes out (again): its answer, one try more, or null
    // when no question waits (then the request in flight asks nothing of ours).
    Answer* Send();
    // The answer of the question the request in flight asks, or null.
    Answer* OnLine();
    // The answer of the head question, or null when none is pending.
    Answer* Head();
    // The question on the line has ended: the relay answered it, or its last
    // try failed.
    void EndOnLine(Ending ending, ReplyVerdict verdict = ReplyVerdict::ReadValid,
                   ExchangeFailure why = ExchangeFailure::NoReply);
    // The head question has spent its last try waiting for the line to fall
    // silent: it ends without its request having gone out again.
    void EndHead(ExchangeFailure why);
    // The line is gone: every pending question ends (and a refused one not
    // yet finished).
    void EndAll();
    // The asker of `reply` gave it up.
    void Withdraw(QueuedReply* reply);

signals:
    // A write that left the PC has ended; its reply finishes next.
    void writeEnded(const Answer& answer);
    // A question is being withdrawn; `fromLine`: its request is in flight,
    // and whatever answers it is noise now.
    void withdrawing(bool fromLine);

private:
    void finish(QueuedReply* reply, Ending ending, ReplyVerdict verdict = ReplyVerdict::ReadValid,
                ExchangeFailure why = ExchangeFailure::NoReply);

    std::deque<QueuedReply*> pending_;   // the head is asked
    // Replies to questions that could not be asked, finishing from the event
    // loop; finished by EndAll if the queue goes first.
    std::vector<QPointer<QueuedReply>> refused_;
    bool onLine_ = false;                // the request in flight asks the head question
};
