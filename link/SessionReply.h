// The reply to one question asked of a relay session: it knows its question
// and finishes exactly once with its Answer. The session's question queue
// holds it until then; after `finished` it deletes itself (deleteLater), so
// an asker keeps the Answer, not the pointer (or holds a QPointer).
#pragma once

#include <QObject>

#include "link/Question.h"

class SessionReply : public QObject {
    Q_OBJECT
public:
    const Question& question() const { return answer_.question; }
    bool isFinished() const { return finished_; }
    const Answer& answer() const { return answer_; }   // valid once finished

    // The asker no longer waits: a queued question finishes NotSent at once;
    // one already sent finishes Unconfirmed, and whatever the relay answers
    // to it is noise.
    void abandon();

signals:
    // Exactly once, from the event loop or from the session's handler.
    void finished(const Answer& answer);

protected:
    SessionReply(const Question& question, QObject* parent);
    // The answer as the question is asked and answered, until it finishes.
    Answer& Filling() { return answer_; }
    // Finishes with `outcome` unless finished already, and goes.
    void Finish(Outcome outcome);
    // The asker gave the question up: whoever holds it takes it out and finishes it.
    virtual void Withdraw() = 0;

private:
    Answer answer_;
    bool finished_ = false;
};
