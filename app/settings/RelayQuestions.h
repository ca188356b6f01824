// The window's questions to the relay besides its polling: a fresh read of a
// block or one register write, asked through the session's queue (a question
// goes out before the next polled request) and answered by a callback from
// the event loop with the Russian words the dialogs show. No widget is known
// here.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <vector>

#include "link/RelaySession.h"

class RelayQuestions : public QObject {
    Q_OBJECT
public:
    // Sends of one question before it is given up: the window's own polling
    // asks until answered, a question of the user's must end.
    static constexpr int kTries = 3;

    // `values` is null when the read failed, and `failure` says why.
    using ReadDone = std::function<void(const RegisterValues* values, const QString& failure)>;
    // A write that never left the PC (the port closed) ends as Unconfirmed
    // with no tries.
    using WriteDone = std::function<void(const WriteResult& result)>;

    explicit RelayQuestions(RelaySession& session, QObject* parent = nullptr);

    // Whether a question can be asked now: the port is open and no question
    // asked here awaits its answer.
    bool Ready(QString& why) const;

    // `address` 0: the window's slave address. On a closed port `done` is
    // called from the event loop with the reason.
    void Read(const RegisterBlock& block, int address, ReadDone done);
    void Write(int reg, uint16_t value, int address, WriteDone done);
    // The answers to the questions asked go nowhere (their dialog has
    // closed): they are given up.
    void Forget();
    bool Waiting() const;

private:
    SessionReply* ask(const Question& question);

    RelaySession& session_;
    std::vector<QPointer<SessionReply>> asked_;
    quint64 generation_ = 0;   // counts Forget(): answers queued before it go nowhere
};

// "80–123" for a block.
QString RegisterRangeText(const RegisterBlock& block);
