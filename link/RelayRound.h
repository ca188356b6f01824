// Many relays on one line, polled in turn over one session's questions. Each
// relay has its own look (answers, or missing). A relay that stops answering
// is backed off: asked again after growing pauses (1 s, 2 s, 4 s ... up to
// 30 s) and at full rate again as soon as it answers, so that one dead relay
// costs the others at most about a tenth of their rate. A round asks each
// question with one try and has one question in the session's queue at a
// time, so that other askers' questions take their turn between its own.
#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <vector>

#include "link/Question.h"

class QTimer;
class RelaySession;
class SessionReply;

class RelayRound : public QObject {
    Q_OBJECT
public:
    RelayRound(RelaySession& session, std::vector<int> addresses, QObject* parent = nullptr);
    ~RelayRound() override;

    // What to ask a relay next (its full-rate read, or now and then a slower
    // one): the user of the round decides. The question's address is the relay's.
    std::function<Question(int address)> nextQuestion;
    // Milliseconds on a steady clock; a test may put its own in.
    std::function<qint64()> clock;

    void Start();
    void Stop();                      // the question on the line is abandoned
    bool Present(int address) const;  // the relay's own look: answers, or missing
    // The relays to ask from now on. Those kept keep their look, back-off and
    // turn, and the question on the line goes on; a relay gone is not told
    // of again, its answer included.
    void SetAddresses(const std::vector<int>& addresses);
    bool Running() const { return running_; }

    // Unanswered questions in a row that make a relay missing and back it off.
    static constexpr int kMissesToBackOff = 3;
    static constexpr qint64 kFirstPauseMs = 1000;
    static constexpr qint64 kLongestPauseMs = 30000;

signals:
    void answered(int address, const Answer& answer);     // every finished question of the round
    void relayLookChanged(int address, bool present);

private:
    struct Relay {
        int address = 0;
        bool present = false;
        bool known = false;       // answered or missed enough to have a look
        int misses = 0;           // unanswered questions in a row
        qint64 pauseMs = 0;       // the back-off pause; 0: asked at full rate
        qint64 dueMs = 0;         // not asked before this
    };

    void askNext();
    void finished(int address, const Answer& answer);
    void setLook(Relay& relay, bool present);

    RelaySession& session_;
    std::vector<Relay> relays_;
    size_t next_ = 0;                 // the relay whose turn comes next
    QPointer<SessionReply> asked_;
    QTimer* wait_ = nullptr;          // wakes when the first backed-off relay is due
    bool running_ = false;
};
