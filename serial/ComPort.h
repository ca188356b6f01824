// TComPort: one serial device, opened by its COMn name, on a Linux terminal
// device in raw mode. A watcher thread waits for line events and hands each
// one to the window's thread synchronously, so every handler runs there.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

enum TBaudRate { brCustom, br110, br300, br600, br1200, br2400, br4800, br9600, br14400,
                 br19200, br38400, br56000, br57600, br115200, br128000, br256000 };
enum TStopBits { sbOneStopBit, sbOne5StopBits, sbTwoStopBits };
enum TDataBits { dbFive, dbSix, dbSeven, dbEight };
enum TParityBits { prNone, prOdd, prEven, prMark, prSpace };
enum TDTRFlowControl { dtrDisable, dtrEnable, dtrHandshake };
enum TRTSFlowControl { rtsDisable, rtsEnable, rtsHandshake, rtsToggle };
enum TFlowControl { fcHardware, fcSoftware, fcNone, fcCustom };
enum TComEvent { evRxChar, evTxEmpty, evRxFlag, evRing, evBreak, evCTS, evDSR, evError,
                 evRLSD, evRx80Full };
enum TSyncMethod { smThreadSync, smWindowSync, smNone };

// The port's failure: ErrorCode is the row of the message table (1 to 22),
// OsErrorCode the operating system's code at the failure (errno) or -1.
class EComPort : public std::runtime_error {
public:
    explicit EComPort(int errorCode, int osErrorCode = -1);
    int ErrorCode;
    int OsErrorCode;
    // "Unable to open com port (win error code: 2)"; the text alone without an OS code.
    static QString MessageFor(int errorCode, int osErrorCode = -1);
    QString Message() const { return MessageFor(ErrorCode, OsErrorCode); }
};

// The modem lines as ModemStatus() reports them.
enum TComSignal { csCTS = 1, csDSR = 2, csRing = 4, csRLSD = 8 };

// A notification record that other controls register with a port.
// Every handler is optional.
struct TComLink {
    std::function<void(bool)> OnConn;            // on after open, off after close
    std::function<void(bool)> OnCTSChange, OnDSRChange, OnRLSDChange;
    std::function<void()> OnRing, OnTxEmpty, OnRxFlag;
    std::function<void(bool)> OnRxNotify, OnTxNotify;
    std::function<void(const char*, int)> OnRxBuf, OnTxBuf;
    // The device went away while open (adapter pulled, pty master closed):
    // told once, on the window's thread. osError is errno, reason its text.
    std::function<void(int osError, const QString& reason)> OnDeviceLost;
};

// Read and write time-outs in milliseconds, -1 meaning "the largest value".
// Read of N bytes: returns when N bytes are in, or after
// ReadTotalMultiplier * N + ReadTotalConstant ms (0 and 0: no total limit),
// or, with ReadInterval > 0, when that long passes between two bytes.
// ReadInterval -1 with both totals 0 returns at once with what is waiting;
// ReadInterval and ReadTotalMultiplier both -1 with ReadTotalConstant > 0
// return at once with what is waiting, else with the first byte or after
// ReadTotalConstant ms. Write of N bytes gives up after
// WriteTotalMultiplier * N + WriteTotalConstant ms (0 and 0: no limit) and
// returns what was handed over by then.
struct TComTimeouts {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;
};

// Queue sizes. A terminal device has fixed kernel queues, so these are only
// checked (positive) and kept; odd sizes count one lower.
struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
};

// Flow control. A terminal device knows RTS/CTS (OutCTSFlow or
// rtsHandshake) and XON/XOFF with its two characters; DTR and RTS are held
// on or off as ControlDTR/ControlRTS say (rtsToggle holds RTS off).
// OutDSRFlow, dtrHandshake, DSRSensitivity and TxContinueOnXoff have no
// counterpart there and change nothing.
struct TComFlowControl {
    bool OutCTSFlow = false;
    bool OutDSRFlow = false;
    TDTRFlowControl ControlDTR = dtrDisable;
    TRTSFlowControl ControlRTS = rtsDisable;
    bool XonXoffOut = false;
    bool XonXoffIn = false;
    bool DSRSensitivity = false;
    bool TxContinueOnXoff = false;
    char XonChar = 17;
    char XoffChar = 19;
};

// Parity. With Check on, a character with a parity or framing error
// arrives as NUL (a terminal device has no free choice of ReplaceChar).
struct TComParity {
    TParityBits Bits = prNone;
    bool Check = false;
    bool Replace = false;
    char ReplaceChar = 0;
};

class TComPort : public QObject {
    Q_OBJECT
public:
    explicit TComPort(QObject* owner = nullptr);
    ~TComPort() override;

    // "COM3", "com3" and "3" all give "COM3"; anything unreadable or outside
    // 1..96 gives "COM1".
    static QString NormalizePortName(const QString& name);
    // The device a COMn name opens: $ZASHCHITA_COMn when set, else
    // /dev/ttyUSB<n-1> when it exists, else /dev/ttyS<n-1>.
    static QString DevicePathFor(const QString& portName);

    QString Port() const { return port_; }
    void SetPort(const QString& name);
    QString DevicePath() const { return devicePath_; }   // the device last opened or tried

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

    void AddLink(TComLink* link);
    void RemoveLink(TComLink* link);

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
    // watcher carries on.
    std::function<void(const std::exception& e)> OnHandlerException;

private:
    struct Watch;   // one open device's watcher thread and hand-over state

    void startWatcher();
    void stopWatcher();
    static void watcherLoop(TComPort* port, std::shared_ptr<Watch> w);
    static bool handOver(TComPort* port, const std::shared_ptr<Watch>& w);
    void serveHandOver(const std::shared_ptr<Watch>& w, quint64 seq);
    bool deliverRxChar();
    void deliverDeviceLost(const std::shared_ptr<Watch>& w, int osError);
    void applyBuffer();
    void applyLineSettings();
    void applyTimeouts();
    void reportHandlerException(std::exception_ptr e);
    std::vector<TComLink*> linksSnapshot() const { return links_; }
    bool isLinked(const TComLink* link) const;
    void readModemLinesForLinks();

    QString port_ = QStringLiteral("COM1");
    QString devicePath_;
    int fd_ = -1;
    TSyncMethod syncMethod_ = smThreadSync;
    std::vector<TComLink*> links_;
    std::shared_ptr<Watch> watch_;
    quint64 bytesRead_ = 0;     // every byte Read has taken, to tell whether a handler read
    bool deviceLost_ = false;
};
