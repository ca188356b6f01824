// Line settings of a terminal device: rate, character format, flow control,
// raw mode; and the driver's low-latency delivery.
#pragma once

#include "serial/ComTypes.h"

#include <termios.h>

namespace LineSettings {

// What the line settings of TComPort hold.
struct Line {
    int rate = 9600;                    // bits per second
    TDataBits dataBits = dbEight;
    TParityBits parity = prNone;
    bool parityCheck = false;
    TStopBits stopBits = sbOneStopBit;  // sbOne5StopBits counts as two
    TComFlowControl flow;
};

// Bits per second for a TBaudRate; brCustom gives customRate.
int RateOf(TBaudRate rate, int customRate);

// The termios speed code for a rate, or B0 when it has none (then the rate
// goes through the kernel's termios2 interface).
speed_t StandardSpeed(int rate);

// Raw mode with the line's character format, flow control and, when it has
// a code, its speed; everything else of t is kept.
void Fill(termios& t, const Line& line);

// Hands the line to the open device fd, DTR and RTS included.
// Failure: EComPort 7.
void Apply(int fd, const Line& line);

// Asks the driver to hand on each received byte at once instead of holding
// it back for its latency timer (16 ms on common USB adapters). A device
// that does not know the request (a pty) is left as it is.
void RequestLowLatency(int fd);

} // namespace LineSettings
