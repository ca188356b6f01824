// One relay on a serial line, asked one request at a time: a read of a block
// of registers with function 3, or a write of one register with function 6
// confirmed only by its exact echo. Frames are built, sealed, collected and
// judged by the link core the window uses, and traced by its frame trace.
#pragma once

#include <QString>

#include <cstdint>
#include <vector>

#include "exchanges/ExchangeTable.h"
#include "link/LinkState.h"
#include "serial/ComPort.h"

struct LinkSettings {
    QString port;          // a device path, or COMn with the window's mapping
    int address = 1;
    int timeoutMs = 500;   // for one reply
    int retries = 2;       // extra sends of a request left unanswered or spoilt
};

struct BlockRead {
    bool ok = false;
    RegisterBlock block;
    std::vector<uint16_t> values;   // values[k] is register block.first + k
    QString failure;                // why not, when !ok

    uint16_t At(int reg) const { return values[size_t(reg - block.first)]; }
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
    QString DevicePath() const { return port_.DevicePath(); }

    int Address() const { return settings_.address; }
    void SetAddress(int address) { settings_.address = address; }

    // A failing device (pulled adapter) throws EComPort from these.
    BlockRead Read(const RegisterBlock& block);
    RegisterWrite Write(int reg, uint16_t value);

private:
    // Sends the request in TxFrame (bytes 0 to 5 filled) and collects its
    // answer; Incomplete when none came within the time-out.
    ReplyVerdict Exchange();
    void DropWaitingBytes();

    LinkSettings settings_;
    TComPort port_;
    LinkState link_;
};
