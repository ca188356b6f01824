// The modem lines of an open terminal device: reading CTS, DSR, ring and
// carrier, and holding DTR and RTS.
#pragma once

#include "serial/ComTypes.h"

namespace ModemLines {

// A pseudo-terminal has no modem lines; its driver answers ENOTTY (or EINVAL).
bool Missing(int err);

// The lines as a set of TComSignal bits; a device without modem lines
// reports none. Failure: EComPort 11.
int Status(int fd);

// DTR and RTS held on or off as the flow-control group says; handshaking
// leaves them to the driver. Failure: EComPort 7 (part of the line settings).
void Hold(int fd, const TComFlowControl& flow);

} // namespace ModemLines
