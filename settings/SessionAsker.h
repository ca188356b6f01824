// A load's questions asked through a relay session's queue (Ask), each
// before the session's next polled request, with the asker's own tries and
// address. A write that left the PC and ends without the relay's word (no
// answer after its tries, the line lost or closed, the question given up) is
// unconfirmed; the session tells it by writeEnded like every other write, so
// that the journal holds it.
#pragma once

#include <QObject>

#include <QPointer>

#include "link/RelaySession.h"
#include "link/SessionReply.h"
#include "settings/LoadAsker.h"

class SessionAsker : public QObject, public LoadAsker {
    Q_OBJECT
public:
    // `tries` 0: the session's own.
    SessionAsker(RelaySession& session, int tries = 0, QObject* parent = nullptr);
    ~SessionAsker() override;

    void Read(const RegisterBlock& block, int address, int tries, bool probe, Done done) override;
    void Write(int reg, uint16_t value, int address, Done done) override;
    void Abandon() override;
    int Address() const override { return address_; }
    void SetAddress(int address) override { address_ = address; }

    bool Waiting() const { return !reply_.isNull(); }

private:
    void ask(const Question& question, Done done);
    // What the load makes of the session's answer, once the session has
    // said why the line is gone (if it is).
    static LoadAnswer Translate(const Answer& answer, bool abandoned, bool lineGone, bool triesRanOut);

    RelaySession& session_;
    int tries_ = 0;
    int address_ = 0;
    bool lineGone_ = false;   // lost or closed since the last question was asked
    QPointer<SessionReply> reply_;
    const SessionReply* abandoned_ = nullptr;   // the reply given up by Abandon(), compared only
};
