// The relay session: one relay on one line, for any front end. It owns the
// line (the serial port, or a TCP connection to a device server or a Modbus
// TCP gateway, unless another line is put in its place), the tick grid, the
// poll cycle with its link state, and the one policy that turns a reply's
// verdict into an outcome. Front ends drive it with questions, queued in
// order, each answered by its own reply; the window also gives it a standing
// source of polled requests (its exchanges, IPolledRequests) that goes out
// whenever no question waits. Everyone receives typed results: a block read,
// a write ended, the link's look, the line lost. No widget and no exchange is
// known here.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <deque>
#include <memory>
#include <optional>

#include "link/PollCycle.h"
#include "link/PolledRequests.h"
#include "link/Question.h"
#include "link/RegisterValues.h"
#include "link/SessionReply.h"
#include "serial/ComTypes.h"

class QTimer;
class TComPort;
class SerialLine;
class TcpLine;

struct SessionOptions {
    int tickMs = PollCycle::kWindowTickMs;                      // the tick grid
    int replyTimeoutTicks = PollCycle::kReplyTimeoutTicks;     // ticks without a byte that end an exchange
    int tries = 0;          // sends of one question before it is given up; 0: asked until answered
    bool lookAway = true;   // the port looks away from the input while a reply's rest is due
    // Added to every reply time-out on a network line: the way through the
    // network and the device server or gateway and back.
    int networkAllowanceMs = kNetworkAllowanceMs;

    static constexpr int kNetworkAllowanceMs = 100;

    // Whether an answer must be physically possible on the line (PollCycle):
    // Auto decides by the line's kind (a UART or USB serial adapter and a
    // device server's raw port yes, a pty and a Modbus TCP gateway no), unless
    // ZASHCHITA_LINE_TIMING=on|off says otherwise.
    enum class Timing { Auto, On, Off };
    Timing lineTiming = Timing::Auto;
};

enum class WriteHow {
    Echoed,     // the exact echo came back: the relay holds the value
    Refused,    // an exception reply, with its code
    Altered,    // an echo of the register with another value: the relay stored that instead
    NoAnswer,   // no answer after every try
    // The frame left the PC and then the line was lost, the session closed,
    // the asker gave up or the window moved on to another request: neither
    // confirmed nor refused, the relay may hold either value.
    Unconfirmed,
};

struct WriteResult {
    int address = 0;           // the slave the frame went to
    int reg = -1;
    uint16_t value = 0;        // the value written
    WriteHow how = WriteHow::NoAnswer;
    int exceptionCode = 0;     // Refused
    uint16_t stored = 0;       // Altered: what the relay holds now
    int tries = 0;             // sends of the frame
    uint8_t context = 0;       // the polled write's tag (the kind of write)
};

// An asked write's answer as the write's result: every try unanswered is
// NoAnswer, a write that left the PC and ended otherwise without the relay's
// word Unconfirmed.
WriteResult WriteResultOf(const Answer& answer);

struct ReadFailure {
    RegisterBlock block;
    ExchangeFailure why = ExchangeFailure::NoReply;   // what the last try brought
    int exceptionCode = 0;     // Refused
    bool spoiltSeen = false;   // some try brought a frame that was no sound answer
    int tries = 0;
};

class RelaySession : public QObject, private PollClient {
    Q_OBJECT
public:
    explicit RelaySession(const SessionOptions& options = {}, QObject* parent = nullptr);
    ~RelaySession() override;

    LinkState& State() { return s_; }
    const LinkState& State() const { return s_; }
    const SessionOptions& Options() const { return options_; }
    TComPort* Port() const { return port_; }
    QTimer* PollTimer() const { return timer_; }

    // The line the cycle talks over: the serial port, unless a test or another
    // transport puts its own in its place (nullptr returns to the port).
    void SetLine(ILinePort* line);
    ILinePort* Line() const { return cycle_.Line(); }

    // The standing source of polled requests (the window's exchanges), asked
    // whenever no question waits; none: only questions are asked. Not owned.
    void SetPolledRequests(IPolledRequests* polled) { polled_ = polled; }

    // Opens the line: a COMn name through the port's mapping, a network
    // endpoint (tcp://HOST:PORT, modbus-tcp://HOST[:PORT], see Endpoint.h)
    // over TCP, anything else as a device path; a COMn name mapped to an
    // endpoint opens the endpoint. Throws EComPort as the port does (ELineOpen
    // for an endpoint). Polling goes on with what the polled requests have
    // to send (none: only questions are asked); the first request goes out
    // on the tick after the silence.
    void Open(const QString& portOrPath);
    // Closes the line now. (A close the user asks for is CloseRequested: the
    // tick that would send carries it out and says so with closeDue.)
    void Close();
    bool IsOpen() const;
    // The device, or the endpoint, last opened or tried.
    QString DevicePath() const;
    // The network endpoint last opened or tried; empty for a serial line.
    QString Endpoint() const { return endpoint_; }
    // The network line while one is in use, for the tests.
    TcpLine* NetworkLine() const;

    // One tick of the grid and one receive event, as the timer and the line
    // raise them; a line that fails stops the polling and is reported once.
    void Tick();
    void Receive(int count);

    // Questions, queued in order and asked before the window's next polled
    // request; nothing overwrites a pending one. Each is asked until answered
    // or given up after its tries, and its reply finishes exactly once.
    // Close() and the loss of the line finish every pending reply: Aborted,
    // or Unconfirmed for a write that left the PC. On a closed or lost line
    // the reply finishes Aborted from the event loop. A read's values are
    // also told by blockRead (mode 0), a write that left the PC by writeEnded.
    SessionReply* Ask(const Question& question);
    int PendingQuestions() const { return int(questions_.size()); }
    bool Asking() const { return !questions_.empty(); }

signals:
    // A read reply: to a polled exchange (its mode), or to a question (mode 0).
    void blockRead(const RegisterValues& values);
    // Every write that left the PC, asked or polled, ends here exactly once
    // with its final outcome.
    void writeEnded(const WriteResult& result);
    // A question's read given up (also told by its reply).
    void readFailed(const ReadFailure& failure);
    void linkLookChanged(bool present);
    // Another master's frame came on the line: values may be taken from
    // someone else's traffic. Once per opening of the line.
    void otherMasterSeen();
    void requestSent(const SentRequest& sent);
    void closeDue();
    // The line went away under an open session (adapter pulled, a failed
    // write or read): told once, from the event loop; polling has stopped.
    void lineLost(int osError, const QString& reason);
    // The line was opened or closed (whichever kind it is).
    void lineOpenChanged(bool open);

private:
    friend class SessionReply;

    // PollClient
    bool HasRequest() override;
    void BuildRequest() override;
    void RequestSent(const SentRequest& sent) override { emit requestSent(sent); }
    void HandleReadReply(const SentRequest& sent) override;
    void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) override;
    bool CountsAsMiss(const SentRequest& sent) override;
    void ExchangeFailed(const SentRequest& sent, ExchangeFailure why) override;
    void ReceiveEnded() override
    {
        if (polled_)
            polled_->ReceiveEnded();
    }
    void CloseComPort() override { emit closeDue(); }
    void ShowLinkLost() override { emit linkLookChanged(false); }
    void ShowLinkPresent() override { emit linkLookChanged(true); }
    void OtherMasterSeen() override { emit otherMasterSeen(); }
    bool lineKeepsTime() const;

    SessionReply* Head() const { return questions_.empty() ? nullptr : questions_.front(); }
    // The question on the line (or the head one, asked again) given up by its asker.
    void abandonReply(SessionReply* reply);
    // Takes `reply` out of the queue and finishes it; a write that left the
    // PC is told by writeEnded first.
    void finishReply(SessionReply* reply, ReplyOutcome outcome);
    // The session closed or the line was lost: every pending reply, and a
    // polled write that left the PC, finishes.
    void finishAll();
    // A polled write that left the PC and is not asked again: Unconfirmed.
    void endPolledWrite(WriteHow how);
    RegisterValues ReplyValues(const SentRequest& sent) const;
    void lineFailed(int osError, const QString& reason);
    void reportLost(int osError, const QString& reason);
    void timerFired();
    void armTimer();
    void holdForRest(int rest);
    void openNetworkLine(const QString& endpoint);
    void openSerialLine(const QString& portOrPath);
    qint64 tickOfNow() const;
    qint64 nextEventNs() const;

    SessionOptions options_;
    LinkState s_;
    PollCycle cycle_;
    IPolledRequests* polled_ = nullptr;
    TComPort* port_ = nullptr;              // a child of the session
    std::unique_ptr<SerialLine> serialLine_;
    TComLink portLink_;
    std::unique_ptr<TcpLine> netLine_;      // the network line, once one was opened
    QString endpoint_;                      // the endpoint last opened or tried
    int allowanceTicks_ = 0;                // the network allowance on the line open now
    QTimer* timer_ = nullptr;               // "Timer": wakes for the tick that sends or times out
    std::deque<SessionReply*> questions_;   // pending, in order; the head is asked
    bool sentFromAsk_ = false; // the request in flight answers the head question
    // The window's polled write that left the PC and has not ended yet.
    std::optional<WriteResult> polledWrite_;
    bool lost_ = false;        // the line's loss has been reported
    bool polling_ = false;     // the timer runs: the line is open and sound
    qint64 armedDueNs_ = 0;    // when the timer is set to wake, on tickClock_
    QElapsedTimer tickClock_;  // the grid of ticks, from the opening
    qint64 lastTick_ = 0;      // the grid tick last counted
};
