// The line a name names, opened: a COMn name through the port's mapping, a
// network endpoint (tcp://HOST:PORT, modbus-tcp://HOST[:PORT], see
// Endpoint.h) over TCP, anything else as a device path; a COMn name mapped
// to an endpoint opens the endpoint. The opener owns the serial port (9600
// 8N1, as the relay wants it) and the network line, and says what the line
// it opened is, so that the session treats every line alike.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

#include "link/Endpoint.h"

class ILinePort;
class SerialLine;
class TComPort;
class TcpLine;
struct TComLink;

// What a line is, as far as the session must know.
struct LineTraits {
    // Its bytes keep their time on the wire (a UART or USB serial adapter,
    // a device server's raw port): an answer must be physically possible.
    bool keepsLineTime = false;
    // A Modbus TCP gateway: its transaction ids tell an answer, and the
    // wire's timing never applies.
    bool mbap = false;
    // Reached over a network: added to every reply time-out (0 for a serial line).
    int allowanceMs = 0;
    QString shownAs;   // the device path or the endpoint
};

struct OpenedLine {
    ILinePort* line = nullptr;
    LineTraits traits;
};

class LineOpener : public QObject {
    Q_OBJECT
public:
    explicit LineOpener(int networkAllowanceMs, QObject* parent = nullptr);
    ~LineOpener() override;

    // Opens the line `name` names, closing the other kind if it was open.
    // Throws EComPort as the port does (ELineOpen for an endpoint).
    OpenedLine Open(const QString& name);
    // Closes the line open now.
    void Close();

    // The line last opened (the serial port's until a network line is).
    ILinePort* Line() const { return current_; }
    // The device, or the endpoint, last opened or tried.
    QString DevicePath() const;
    // The network endpoint last opened or tried; empty for a serial line.
    QString Endpoint() const { return endpoint_; }
    TComPort* Port() const { return port_; }
    // The network line while it is the one in use.
    TcpLine* NetworkLine() const;

    // Bytes came in (how many are waiting), from the line's notification.
    std::function<void(int count)> OnReceived;
    // The line failed or went away, from inside its notification.
    std::function<void(int osError, const QString& reason)> OnLost;

private:
    OpenedLine openSerial(const QString& name);
    OpenedLine openNetwork(const QString& endpoint);

    int allowanceMs_;
    TComPort* port_ = nullptr;              // a child of the opener
    std::unique_ptr<SerialLine> serialLine_;
    std::unique_ptr<TComLink> portLink_;
    std::unique_ptr<TcpLine> netLine_;      // the network line, once one was opened
    LineScheme netScheme_ = LineScheme::RtuOverTcp;   // netLine_'s kind
    ILinePort* current_ = nullptr;
    QString endpoint_;                      // the endpoint last opened or tried
};
