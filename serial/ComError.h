// EComPort: the port's failure, with the component's message table.
#pragma once

#include <QString>

#include <stdexcept>

// ErrorCode is the row of the message table (1 to 22), OsErrorCode the
// operating system's code at the failure (errno) or -1.
class EComPort : public std::runtime_error {
public:
    explicit EComPort(int errorCode, int osErrorCode = -1);
    int ErrorCode;
    int OsErrorCode;
    // "Unable to open com port (win error code: 2)"; the text alone without an OS code.
    static QString MessageFor(int errorCode, int osErrorCode = -1);
    QString Message() const { return MessageFor(ErrorCode, OsErrorCode); }
};

// Rows of the message table that this port raises.
enum TComErrorRow {
    ceOpen = 1,
    ceWrite = 2,
    ceRead = 3,
    ceLineSettings = 7,
    ceTimeouts = 8,
    ceQueueSizes = 9,
    ceQueueCount = 10,
    ceModemStatus = 11,
    ceSyncWhileOpen = 14,
    ceLink = 18,
    ceLedBound = 19,
};
