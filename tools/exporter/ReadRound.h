// Many relays on one line, read in turn over one session's questions: the
// exporter's round. Each question is one read of a block with one try; what
// to read next from a relay is its user's choice (nextBlock). Only reads
// exist here: the round has no way to write to a relay.
//
// A relay that stops answering is backed off: asked again after growing
// pauses (1 s, 2 s, 4 s ... up to 30 s), and at full rate again as soon as it
// answers, so a dead relay costs the others at most about a tenth of their
// rate.
#pragma once

#include <QElapsedTimer>
#include <QObject>

#include <functional>
#include <vector>

#include "link/RelaySession.h"

class QTimer;

class ReadRound : public QObject {
    Q_OBJECT
public:
    ReadRound(RelaySession& session, std::vector<int> addresses, QObject* parent = nullptr);

    // What to read from a relay next.
    std::function<RegisterBlock(int address)> nextBlock;
    // The least time from one question to a relay to its next (0: as soon as its turn comes).
    void SetInterval(int ms) { intervalMs_ = ms; }
    // The wait for a reply, in the session's ticks (0: the session's).
    void SetTimeoutTicks(int ticks) { timeoutTicks_ = ticks; }

    void Start();
    void Stop();   // the question on the line is dropped
    bool Present(int address) const;

    // Misses in a row after which a relay is missing, and the pauses of its back-off.
    static constexpr int kMissesForAbsent = 2;
    static constexpr int kFirstPauseMs = 1000;
    static constexpr int kLongestPauseMs = 30000;

signals:
    void answered(int address, const RegisterValues& values);
    void failed(int address, const ReadFailure& failure);
    void relayLookChanged(int address, bool present);

private:
    struct Relay {
        int address = 0;
        int misses = 0;         // in a row
        bool present = true;    // until it misses kMissesForAbsent in a row
        int pauseMs = 0;        // the back-off's pause while missing
        qint64 dueMs = 0;       // not asked before this, on clock_
    };

    void askNext();
    void finish(bool answered);
    Relay* find(int address);

    RelaySession& session_;
    std::vector<Relay> relays_;
    QTimer* wait_ = nullptr;
    QElapsedTimer clock_;
    size_t turn_ = 0;            // the relay asked last
    int asking_ = 0;             // the address of the question on the line, 0: none
    bool running_ = false;
    int intervalMs_ = 0;
    int timeoutTicks_ = 0;
};
