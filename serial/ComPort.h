// TComPort: one serial device, opened by its COMn name, on a Linux terminal
// device in raw mode. A watcher thread waits for line events and hands each
// one to the window's thread synchronously, so every handler runs there.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <functional>
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
    static QString MessageFor(int errorCode, int osErrorCode = -1);
};

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

struct TComTimeouts {
    int ReadInterval = -1;
    int ReadTotalMultiplier = 0;
    int ReadTotalConstant = 0;
    int WriteTotalMultiplier = 100;
    int WriteTotalConstant = 1000;
};

struct TComBuffer {
    int InputSize = 1024;
    int OutputSize = 1024;
};

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

    void AddLink(TComLink* link);
    void RemoveLink(TComLink* link);

    void SetSyncMethod(TSyncMethod method);
    TSyncMethod SyncMethod() const { return syncMethod_; }

    // Settings. Changing one while open re-applies its group.
    TBaudRate BaudRate = br9600;
    int CustomBaudRate = 9600;
    TStopBits StopBits = sbOneStopBit;
    TDataBits DataBits = dbEight;
    TComParity Parity;
    TComFlowControl FlowControl;
    TComTimeouts Timeouts;
    TComBuffer Buffer;
    bool DiscardNull = false;
    char EventChar = 0;
    std::vector<TComEvent> Events{evRxChar, evTxEmpty, evRxFlag, evRing, evBreak,
                                  evCTS, evDSR, evError, evRLSD, evRx80Full};
    void ApplySettings();   // re-apply all groups to an open device

    // Character received: Count bytes are waiting in the input queue.
    std::function<void(QObject* sender, int count)> OnRxChar;

private:
    // implementation details belong to serial/ComPort.cpp
    void startWatcher();
    void stopWatcher();
    void watcherLoop();
    void deliverRxChar();
    void deliverDeviceLost(int osError);

    QString port_ = QStringLiteral("COM1");
    QString devicePath_;
    int fd_ = -1;
    int stopFd_ = -1;
    TSyncMethod syncMethod_ = smThreadSync;
    std::vector<TComLink*> links_;
    std::thread watcher_;
    std::mutex handoverMutex_;
    std::condition_variable handoverDone_;
    bool handoverPending_ = false;
    std::atomic<bool> stopping_{false};
    bool deviceLost_ = false;
};
