// A load's questions asked through a relay session's queue (Ask), each
// before the session's next polled request, with the asker's own tries and
// address. The session's answer keeps its outcome; the asker adds only what
// cut a question short: its own Abandon(), or else the line. A write that
// left the PC is told by the session's writeEnded like every other write, so
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

    RelaySession& session_;
    int tries_ = 0;
    int address_ = 0;
    QPointer<SessionReply> reply_;
    const SessionReply* abandoned_ = nullptr;   // the reply given up by Abandon(), compared only
};
