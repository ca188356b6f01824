// One relay on a line, asked one question at a time through the relay
// session the window uses: a read of a block of registers with function 3,
// or a write of one register with function 6 confirmed only by its exact
// echo. The session keeps the line's rules (silence before each request,
// only an awaited frame is an answer), the time-out and the tries; this
// class waits in the event loop for each answer. A line that goes away is
// an outcome of the question under way, as is one abandoned on request.
#pragma once

#include <QEventLoop>
#include <QString>

#include <optional>

#include <cstdint>
#include <vector>

#include "exchanges/ExchangeTable.h"   // the blocks the commands read
#include "link/RelaySession.h"

// A question's own terms, where they differ from the link's.
struct AskOptions {
    int tries = 0;          // 0: the session's tries
    int address = 0;        // 0: the session's slave address
    int timeoutTicks = 0;   // 0: the session's reply time-out
    // A probe of an address that may well have no relay (a search for the
    // relay's address): an exchange it leaves unanswered is no miss of the
    // link, so the link's look stays as the polled exchanges made it.
    bool probe = false;
};

struct LinkSettings {
    QString port;          // a device path, or COMn with the window's mapping
    int address = 1;
    int timeoutMs = 500;   // for one reply
    int retries = 2;       // extra sends of a request left unanswered or spoilt
    SessionOptions::Timing lineTiming = SessionOptions::Timing::Auto;
};

// The registers read (block, values, At), or why not.
struct BlockRead : RegisterValues {
    bool ok = false;
    bool refused = false;        // the relay answered with an exception: it is there
    int exceptionCode = 0;       // refused
    bool spoiltSeen = false;     // some try brought a frame that was no sound answer
    bool lineLost = false;       // the port went away; nothing more can be asked
    bool foreign = false;        // ok, but read while another master was on the line
    QString failure;             // why not, when !ok, in one line
};

enum class WriteOutcome {
    Confirmed,   // the exact echo came back
    Altered,     // the relay echoed the register with another value: it stored that instead
    Refused,     // an exception reply
    NoEcho,      // no usable answer after every attempt
    LineLost,    // the port went away before the answer
    Abandoned,   // given up on request (a second stop signal) before the answer
};

struct RegisterWrite {
    WriteOutcome outcome = WriteOutcome::NoEcho;
    uint16_t stored = 0;      // Altered: the value the relay holds now
    int exceptionCode = 0;    // Refused
    // The frame went out whole at least once: the relay may hold the value
    // even without an answer. False when the line failed before the send.
    bool sent = false;
    QString failure;          // NoEcho, LineLost, Abandoned: why, in one line
};

// "4 (device failure)" for an exception code of a refusal.
QString ExceptionText(int code);

class RelayLink {
public:
    explicit RelayLink(const LinkSettings& settings);
    ~RelayLink();
    RelayLink(const RelayLink&) = delete;
    RelayLink& operator=(const RelayLink&) = delete;

    // Opens the port 9600 8N1 as the window does. On failure returns false
    // with one line naming the device and the reason in `failure`.
    bool Open(QString& failure);
    QString DevicePath() const { return session_.DevicePath(); }

    int Address() const { return session_.SlaveAddress(); }
    RelaySession& Session() { return session_; }
    void SetAddress(int address) { session_.SetSlaveAddress(address); }
    int TimeoutMs() const { return settings_.timeoutMs; }
    int Tries() const { return settings_.retries + 1; }

    // `ask` may name another address, tries or time-out for this question.
    BlockRead Read(const RegisterBlock& block, const AskOptions& ask = {});
    RegisterWrite Write(int reg, uint16_t value, const AskOptions& ask = {});
    // Whether a device is at `address` (AddressProbe: answered twice, the
    // second time on a quiet line): its read of `block`, or why not.
    BlockRead Probe(int address, const RegisterBlock& block);

    // The time-out in session ticks for `ms` milliseconds.
    static int TicksFor(int ms);

    // Gives up the question under way at once and closes the line; later
    // questions end as abandoned. For a handler the event loop runs while a
    // question waits (a stop signal).
    void Abandon();
    bool Abandoned() const { return abandoned_; }

    // A read that came while another master was on the line: its values
    // may be that master's traffic, so nothing is made of them.
    QString ForeignReadText(const RegisterBlock& block) const;

    // The port went away: "the port went away: Input/output error".
    bool LineLost() const { return lost_; }
    QString LossText() const { return lossText_; }

private:
    // Asks `question` and runs the event loop until its reply finishes
    // (answered, given up, or ended by the line's loss or Abandon()).
    Answer Await(const Question& question);
    static Question QuestionOf(Question q, const AskOptions& ask);
    // What a read's answer says, as Read and Probe tell it.
    BlockRead ReadOf(const Answer& a, const RegisterBlock& block, int timeoutMs);
    // "no reply from the relay at address 1 on /dev/ttyUSB0 (9600 8N1) to
    // a read of registers 80 to 123 after 3 tries of 500 ms: check ...".
    QString NoReplyText(const QString& what, const QString& question, int address, int tries, int timeoutMs) const;

    // Every try's answer came sooner than the wire allows: the rule, not the wiring.
    QString EarlyRepliesText(const QString& question, int address, int tries) const;
    // The same when tries were spent waiting for a silence that never came.
    QString BusyLineText(const QString& question, int address, const Answer& a, int timeoutMs) const;

    LinkSettings settings_;
    RelaySession session_;
    QEventLoop loop_;
    bool lost_ = false;
    bool abandoned_ = false;
    QString lossText_;
};
