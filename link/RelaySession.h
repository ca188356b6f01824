// The relay session: one relay on one line, for any front end. It holds the
// line a name opens (LineOpener: the serial port, or a TCP connection to a
// device server or a Modbus TCP gateway, unless another line is put in its
// place), the tick grid (TickScheduler), the poll cycle with its link state,
// the queue of questions (QuestionQueue), and applies the one outcome policy
// (link/Outcome.h) to every request's end. Front ends drive it with
// questions, queued in order, each answered by its own reply; the window
// also gives it a standing source of polled requests (its exchanges,
// IPolledRequests) that goes out whenever no question waits. Everyone
// receives typed results: a block read, a write ended, the link's look, the
// line lost. No widget and no exchange is known here.
#pragma once

#include <QObject>
#include <QString>

#include <optional>

#include "link/LineOpener.h"
#include "link/PollCycle.h"
#include "link/PolledRequests.h"
#include "link/Question.h"
#include "link/RegisterValues.h"
#include "link/SessionOptions.h"
#include "link/SessionResults.h"
#include "link/SessionReply.h"
#include "link/TickScheduler.h"

class QTimer;
class QuestionQueue;

class RelaySession : public QObject, private PollClient, private TickTarget {
    Q_OBJECT
public:
    explicit RelaySession(const SessionOptions& options = {}, QObject* parent = nullptr);
    ~RelaySession() override;

    // The link state, read only: the cycle alone writes it.
    const LinkState& State() const { return s_; }
    const SessionOptions& Options() const { return options_; }
    TComPort* Port() const { return opener_->Port(); }
    QTimer* PollTimer() const { return ticks_->Timer(); }

    // The relay asked when a question names no address, and by the polled requests.
    void SetSlaveAddress(int address) { s_.SlaveAddress = address; }
    int SlaveAddress() const { return s_.SlaveAddress; }
    // A close the user asks for: the tick that would send carries it out and
    // says so with closeDue.
    void RequestClose() { s_.CloseRequested = 1; }
    // Five misses or more in a row.
    bool LinkLost() const { return s_.LinkLost(); }
    // Another master on the line now, or within the hold time after its
    // last frame: every block read meanwhile is marked foreign.
    bool OtherMasterPresent() const { return otherMasterPresent_; }
    // Whether answers must be physically possible, from the next line put in
    // or opened; and whether they must be on the line in use.
    void SetLineTiming(SessionOptions::Timing timing) { options_.lineTiming = timing; }
    bool LineTiming() const { return cycle_.LineTiming(); }

    // The line the cycle talks over: the one the session opened, unless a
    // test or another transport puts its own in its place (nullptr returns
    // to the opened one). A line put in starts as a line just opened.
    void SetLine(ILinePort* line);
    ILinePort* Line() const { return cycle_.Line(); }

    // The standing source of polled requests (the window's exchanges), asked
    // whenever no question waits; none: only questions are asked. Not owned.
    void SetPolledRequests(IPolledRequests* polled) { polled_ = polled; }

    // Opens the line `name` names (LineOpener). Throws EComPort as the port
    // does (ELineOpen for an endpoint). Polling goes on with what the polled
    // requests have to send (none: only questions are asked); the first
    // request goes out on the tick after the silence.
    void Open(const QString& name);
    // Closes the line now.
    void Close();
    bool IsOpen() const;
    // The device, or the endpoint, last opened or tried.
    QString DevicePath() const { return opener_->DevicePath(); }
    // The network endpoint last opened or tried; empty for a serial line.
    QString Endpoint() const { return opener_->Endpoint(); }
    // The network line while one is in use, for the tests.
    TcpLine* NetworkLine() const;

    // One tick of the grid and one receive event, as the timer and the line
    // raise them; a line that fails stops the polling and is reported once.
    void Tick() override;
    void Receive(int count);

    // Questions, queued in order and asked before the window's next polled
    // request; nothing overwrites a pending one. Each is asked until answered
    // or given up after its tries, and its reply finishes exactly once.
    // Close() and the loss of the line finish every pending reply: Aborted,
    // or Unconfirmed for a write that left the PC. On a closed or lost line
    // the reply finishes Aborted from the event loop. A read's values are
    // also told by blockRead (mode 0), a write that left the PC by writeEnded.
    SessionReply* Ask(const Question& question);
    int PendingQuestions() const;
    bool Asking() const { return PendingQuestions() > 0; }

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
    // Another master is present (a frame of its own seen, and for
    // SessionOptions::otherMasterHoldMs after the last one), or no more.
    void otherMasterChanged(bool present);
    void requestSent(const SentRequest& sent);
    void closeDue();
    // The line went away under an open session (adapter pulled, a failed
    // write or read): told once, from the event loop; polling has stopped.
    void lineLost(int osError, const QString& reason);
    // The line was opened or closed (whichever kind it is).
    void lineOpenChanged(bool open);

private:
    // PollClient
    bool HasRequest() override;
    void BuildRequest() override;
    void RequestSent(const SentRequest& sent) override
    {
        earlyAtSend_ = cycle_.TimingRejections();
        emit requestSent(sent);
    }
    void HandleReadReply(const SentRequest& sent) override;
    void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) override;
    bool CountsAsMiss(const SentRequest& sent) override;
    void ExchangeFailed(const SentRequest& sent, ExchangeFailure why) override;
    void ReceiveEnded() override;
    void CloseDue() override { emit closeDue(); }
    void LinkLookChanged(bool present) override { emit linkLookChanged(present); }
    void OtherMasterSeen() override;
    void SendKeptWaiting() override;
    int QuietTicksBeforeNext() override;
    // TickTarget
    int TicksToNextEvent() const override { return cycle_.TicksToNextEvent(); }
    void CountIdleTicks(int n) override { cycle_.CountIdleTicks(n); }
    bool Idle() const override { return cycle_.Idle(); }

    void buildPolled();
    // The cycle starts afresh on a line just opened or put in.
    void startLine();
    bool timingApplies() const;
    // The window's polled write that left the PC ends with `how`; from the
    // event loop when `queued`.
    void endPolledWrite(Outcome how, bool queued = false);
    // The session closed or the line was lost: every pending reply, and a
    // polled write that left the PC, finishes.
    void endAll();
    void questionWithdrawing(bool fromLine);
    void lineFailed(int osError, const QString& reason);
    void reportLost(int osError, const QString& reason);
    void holdForRest(int rest);
    void setOtherMaster(bool present);

    SessionOptions options_;
    LinkState s_;
    PollCycle cycle_;
    LineOpener* opener_;                    // children of the session
    QuestionQueue* questions_;
    TickScheduler* ticks_;
    IPolledRequests* polled_ = nullptr;
    ILinePort* putIn_ = nullptr;            // a line put in place of the opened one
    LineTraits traits_;                     // of the line last opened
    int allowanceTicks_ = 0;                // the network allowance on the line opened last
    // The window's polled write that left the PC and has not ended yet.
    std::optional<WriteResult> polledWrite_;
    bool lost_ = false;        // the line's loss has been reported
    QTimer* otherMasterHold_;  // runs from another master's last frame seen
    bool otherMasterPresent_ = false;
    bool otherMasterTold_ = false;   // otherMasterSeen since the line was opened
    uint32_t earlyAtSend_ = 0; // the timing rule's rejections when the request in flight went out
};
