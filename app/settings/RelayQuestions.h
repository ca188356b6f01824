// The window's questions to the relay besides its polling: a fresh read of a
// block or one register write, asked through the session (the question goes
// out before the next polled request) and answered by a callback from the
// event loop. One question at a time; a port closed or lost meanwhile ends
// the question as failed. No widget is known here.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

#include "link/RelaySession.h"

class QTimer;

class RelayQuestions : public QObject {
    Q_OBJECT
public:
    // Sends of one question before it is given up: the window's own polling
    // asks until answered, a question of the user's must end.
    static constexpr int kTries = 3;

    // `values` is null when the read failed, and `failure` says why.
    using ReadDone = std::function<void(const RegisterValues* values, const QString& failure)>;
    // A write withdrawn by a closed port ends as NoAnswer with no tries.
    using WriteDone = std::function<void(const WriteResult& result)>;

    explicit RelayQuestions(RelaySession& session, QObject* parent = nullptr);

    // Whether a question can be asked now: the port is open and no question
    // (of this window or another part of it) awaits its answer.
    bool Ready(QString& why) const;

    // `address` 0: the window's slave address. Nothing is asked when not
    // Ready: `done` is called with the reason from the event loop.
    void Read(const RegisterBlock& block, int address, ReadDone done);
    void Write(int reg, uint16_t value, int address, WriteDone done);
    // The answer to the question asked goes nowhere (its dialog has closed).
    void Forget();
    bool Waiting() const { return waiting_; }

private:
    void blockRead(const RegisterValues& values);
    void readFailed(const ReadFailure& failure);
    void writeEnded(const WriteResult& result);
    void watch();
    void endRead(std::optional<RegisterValues> values, const QString& failure);
    void endWrite(const WriteResult& result);
    QString AddressText() const;
    // Calls `call` from the event loop unless Forget() came in between.
    void later(std::function<void()> call);
    // A question is on its way: its kind and address, no answer yet, watched.
    void begin(bool writing, int address);

    RelaySession& session_;
    QTimer* watch_ = nullptr;
    bool waiting_ = false;
    bool writing_ = false;
    RegisterBlock block_;
    int reg_ = -1;
    uint16_t value_ = 0;
    int address_ = 0;
    quint64 generation_ = 0;   // counts Forget()
    ReadDone readDone_;
    WriteDone writeDone_;
};

// "80–123" for a block.
QString RegisterRangeText(const RegisterBlock& block);
