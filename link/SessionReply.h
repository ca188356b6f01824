// The reply to one question asked of a relay session: it knows its question
// and finishes exactly once with its Answer. The session owns it until then;
// after `finished` it deletes itself (deleteLater), so an asker keeps the
// Answer, not the pointer (or holds a QPointer).
#pragma once

#include <QObject>
#include <QPointer>

#include "link/Question.h"

class RelaySession;

class SessionReply : public QObject {
    Q_OBJECT
public:
    const Question& question() const { return answer_.question; }
    bool isFinished() const { return finished_; }
    const Answer& answer() const { return answer_; }   // valid once finished

    // The asker no longer waits: a queued question finishes NotSent at once;
    // one already sent finishes Unconfirmed (a write) or ReadFailed (a read),
    // and whatever the relay answers to it is noise.
    void abandon();

signals:
    // Exactly once, from the event loop or from the session's handler.
    void finished(const Answer& answer);

private:
    friend class RelaySession;
    SessionReply(RelaySession& session, const Question& question);
    void finish(ReplyOutcome outcome);

    QPointer<RelaySession> session_;
    Answer answer_;
    bool finished_ = false;
};
