// Whether a device answers at an address, for a search of a line (the
// companion's scan, the window's address search): the address is asked once
// and, when something answered (values, or a refusal: a device is there
// too), asked again on a line that has been quiet since that answer for the
// probe's time-out. Only an address answered both times holds a device: a
// frame that merely looks like its answer (another master's, a second reply
// of another device, noise) follows someone else's traffic and does not come
// again to a request on a quiet line.
#pragma once

#include <QObject>
#include <QPointer>

#include "link/Question.h"
#include "link/RegisterValues.h"

class RelaySession;
class SessionReply;

class AddressProbe : public QObject {
    Q_OBJECT
public:
    explicit AddressProbe(RelaySession& session, QObject* parent = nullptr);

    // Asks `address` for `block`, one try of `timeoutTicks` each (0: the
    // session's reply time-out); queued behind the questions asked before.
    void Start(int address, const RegisterBlock& block, int timeoutTicks);
    // Gives the probe up; it finishes with what its question ends with.
    void Abandon();
    bool Running() const { return running_; }

    // Whether an answer says a device is at the address.
    static bool Answered(const Answer& answer);

signals:
    // Exactly once per Start: the last answer, and whether the address
    // answered both times.
    void finished(const Answer& answer, bool found);

private:
    void ask(bool confirming);
    void asked(const Answer& answer);

    RelaySession& session_;
    Question question_;
    bool confirming_ = false;
    bool running_ = false;
    QPointer<SessionReply> reply_;
};
