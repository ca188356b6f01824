// One relay on a line, asked one question at a time through the relay
// session the window uses: a read of a block of registers with function 3,
// or a write of one register with function 6 confirmed only by its exact
// echo. The session keeps the line's rules (silence before each request,
// only an awaited frame is an answer), the time-out and the tries; this
// class waits in the event loop for each answer.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "link/RelaySession.h"

struct LinkSettings {
    QString port;          // a device path, or COMn with the window's mapping
    int address = 1;
    int timeoutMs = 500;   // for one reply
    int retries = 2;       // extra sends of a request left unanswered or spoilt
};

// The registers read (block, values, At), or why not.
struct BlockRead : RegisterValues {
    bool ok = false;
    QString failure;                // why not, when !ok
};

enum class WriteOutcome {
    Confirmed,   // the exact echo came back
    Altered,     // the relay echoed the register with another value: it stored that instead
    Refused,     // an exception reply
    NoEcho,      // no usable answer after every attempt
};

struct RegisterWrite {
    WriteOutcome outcome = WriteOutcome::NoEcho;
    uint16_t stored = 0;      // Altered: the value the relay holds now
    int exceptionCode = 0;    // Refused
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
    // with the device tried and the system's reason in `failure`.
    bool Open(QString& failure);
    QString DevicePath() const { return session_.DevicePath(); }

    int Address() const { return session_.State().SlaveAddress; }
    RelaySession& Session() { return session_; }
    void SetAddress(int address) { session_.State().SlaveAddress = address; }

    // A line that goes away (a pulled adapter) throws EComPort from these,
    // with the system's error code.
    BlockRead Read(const RegisterBlock& block);
    RegisterWrite Write(int reg, uint16_t value);

private:
    // Runs the event loop until the question asked has its answer.
    void WaitForAnswer();

    LinkSettings settings_;
    RelaySession session_;
    bool answered_ = false;
    bool lost_ = false;
    int lostError_ = 0;
};
