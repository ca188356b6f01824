// TComPort: one serial device, opened by its COMn name (or a path given
// directly), on a Linux terminal device in raw mode, held by this port
// alone. The device is watched on the port's own thread (the
// window's) through its event loop, so every handler runs there, between
// the window's other events.
#pragma once

#include <QObject>
#include <QString>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <vector>

#include "serial/ComError.h"
#include "serial/ComTypes.h"

class RxWatch;

class TComPort : public QObject {
    Q_OBJECT
public:
    explicit TComPort(QObject* owner = nullptr);
    ~TComPort() override;

    // "COM3", "com3" and "3" all give "COM3"; anything unreadable or outside
    // 1..96 gives "COM1".
    static QString NormalizePortName(const QString& name);
    // The device a COMn name opens: $ZASHCHITA_COMn when set, else
    // /dev/ttyUSB<n-1>, else /dev/ttyACM<n-1> when present, else
    // /dev/ttyS<n-1> (see DeviceNames.h).
    static QString DevicePathFor(const QString& portName);

    QString Port() const { return port_; }
    void SetPort(const QString& name);
    QString DevicePath() const { return devicePath_; }   // the device last opened or tried
    // Opens `path` itself in place of the device the COMn name maps to; an
    // empty path returns to the mapping. Port keeps its name either way. As
    // with SetPort, a change on an open port closes it and opens it again.
    void SetDevicePath(const QString& path);

    bool Connected() const { return fd_ >= 0; }
    void SetConnected(bool on) { on ? Open() : Close(); }
    void Open();
    void Close();

    int Write(const void* buffer, int count);
    int Read(void* buffer, int count);
    int BytesWaiting();
    // The modem lines as a set of TComSignal bits; a device without modem
    // lines (a pseudo-terminal) reports none. Failure: EComPort 11.
    int ModemStatus();
    // True once the device has gone away while open (links were told through
    // OnDeviceLost); cleared by Close.
    bool DeviceLost() const { return deviceLost_; }
    // Times the event loop woke the port to look at its device since it was
    // made: lets a test tell a port that waits from one that spins.
    quint64 WakeUps() const;
    // Looks away from the input for `ms`: the bytes of a reply still on its
    // way are then taken in one receive event rather than piece by piece.
    // The device going away is noticed when it looks again.
    void HoldRxChar(std::chrono::nanoseconds time);

    void AddLink(TComLink* link);
    void RemoveLink(TComLink* link);

    // Every method runs the handlers on the port's thread; the port has no
    // thread of its own, so smNone is served the same way. Kept for its rule:
    // it cannot change while the port is open.
    void SetSyncMethod(TSyncMethod method);
    TSyncMethod SyncMethod() const { return syncMethod_; }

    // Settings, plain values read by Open. After changing any of them on an
    // open port, call ApplySettings() to hand them to the device.
    TBaudRate BaudRate = br9600;
    int CustomBaudRate = 9600;
    TStopBits StopBits = sbOneStopBit;          // sbOne5StopBits counts as two
    TDataBits DataBits = dbEight;
    TComParity Parity;
    TComFlowControl FlowControl;
    TComTimeouts Timeouts;
    TComBuffer Buffer;
    bool DiscardNull = false;                   // no counterpart on a terminal device
    char EventChar = 0;                         // kept only: evRxFlag is not watched
    // Only evRxChar is watched; any non-empty set starts the watcher, which
    // also notices a device that goes away.
    std::vector<TComEvent> Events{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                  evCTS, evDSR, evError, evRLSD, evRx80Full};
    void ApplySettings();   // re-apply all groups to an open device

    // Character received: Count bytes are waiting in the input queue.
    std::function<void(QObject* sender, int count)> OnRxChar;

    // An exception that escaped OnRxChar or a link handler run for the
    // watcher. Unset: the text goes to the Qt warning log. Either way the
    // port goes on watching.
    std::function<void(const std::exception& e)> OnHandlerException;

private:
    int deliverRxChar(int waiting);
    void deliverDeviceLost(int osError);
    void applyBuffer();
    void applyLineSettings();
    void applyTimeouts();
    void reportHandlerException(std::exception_ptr e);
    std::vector<TComLink*> linksSnapshot() const { return links_; }
    bool isLinked(const TComLink* link) const;
    // Whether some link has the handler: the common case, none, then costs
    // no copy of the link list.
    template <class Handler> bool anyLink(Handler TComLink::*handler) const
    {
        for (const TComLink* link : links_)
            if (link->*handler)
                return true;
        return false;
    }
    void readModemLinesForLinks();

    QString port_ = QStringLiteral("COM1");
    QString devicePath_;
    QString givenPath_;   // SetDevicePath: opened instead of the COMn mapping when set
    int fd_ = -1;
    TSyncMethod syncMethod_ = smThreadSync;
    std::vector<TComLink*> links_;
    RxWatch* watch_ = nullptr;   // a child: lives as long as the port
    quint64 bytesRead_ = 0;      // every byte Read has taken, to tell whether a handler read
    bool deviceLost_ = false;
};
