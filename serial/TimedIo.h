// Reads and writes on a non-blocking terminal device that keep the port's
// time-outs (TComTimeouts) themselves, waiting with poll().
#pragma once

#include "serial/ComTypes.h"

namespace TimedIo {

// Hands count bytes to the driver, waiting while its queue is full, until
// all are taken or the write time-out passes. Returns how many were taken.
// Failure: EComPort 2.
int Write(int fd, const char* bytes, int count, const TComTimeouts& t);

// Reads up to count bytes as the read time-outs say. Returns how many came,
// possibly 0. A hung-up line (end of file) fails. Failure: EComPort 3.
int Read(int fd, char* bytes, int count, const TComTimeouts& t);

} // namespace TimedIo
