// A load's questions asked through a relay session: one at a time, each
// before the session's next polled request, with the asker's own tries and
// address. A write that left the PC and ends without the relay's word (the
// line lost or closed, the question given up) is unconfirmed, and the
// session's writeEnded tells it like every other write, so that the journal
// holds it.
#pragma once

#include <QObject>

#include <optional>

#include "link/RelaySession.h"
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

    bool Waiting() const { return pending_.has_value(); }

private:
    struct Pending {
        bool write = false;
        RegisterBlock block;
        int reg = -1;
        uint16_t value = 0;
        int address = 0;
        int tries = 0;   // sends seen
        bool spoiltSeen = false;
        Done done;
    };

    void ask(Pending pending, const AskOptions& options);
    void requestSent(const SentRequest& sent);
    void blockRead(const RegisterValues& values);
    void readFailed(const ReadFailure& failure);
    void writeEnded(const WriteResult& result);
    void lineGone();
    // Ends the question under way without the relay's word.
    void giveUp(LoadCause cause);
    void end(LoadAnswer answer);

    RelaySession& session_;
    int tries_ = 0;
    int address_ = 0;
    bool lost_ = false;
    std::optional<Pending> pending_;
};
