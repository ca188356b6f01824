// The port's settings groups, enumerations and the link record, as the
// window and the lamps see them. Plain values: TComPort reads them on Open
// and on ApplySettings.
#pragma once

#include <QString>

#include <functional>

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
