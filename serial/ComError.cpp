#include "serial/ComError.h"

namespace {

// The message table, by ErrorCode 1 to 22.
const char* const kMessages[] = {
    "Unable to open com port",
    "WriteFile function failed",
    "ReadFile function failed",
    "Invalid Async parameter",
    "PurgeComm function failed",
    "Unable to get async status",
    "SetCommState function failed",
    "SetCommTimeouts failed",
    "SetupComm function failed",
    "ClearCommError function failed",
    "GetCommModemStatus function failed",
    "EscapeCommFunction function failed",
    "TransmitCommChar function failed",
    "Cannot set SyncMethod while connected",
    "EnumPorts function failed",
    "Failed to store settings",
    "Failed to load settings",
    "Link (un)registration failed",
    "Cannot change led state if ComPort is selected",
    "Cannot wait for event if event thread is created",
    "WaitForEvent method failed",
    "A component is linked to OnRxBuf event",
};

constexpr int kRows = int(sizeof kMessages / sizeof kMessages[0]);

} // namespace

EComPort::EComPort(int errorCode, int osErrorCode)
    : std::runtime_error(MessageFor(errorCode, osErrorCode).toStdString()),
      ErrorCode(errorCode), OsErrorCode(osErrorCode) {}

QString EComPort::MessageFor(int errorCode, int osErrorCode)
{
    const QString text = (errorCode >= 1 && errorCode <= kRows)
                             ? QString::fromLatin1(kMessages[errorCode - 1])
                             : QStringLiteral("Unknown com port error %1").arg(errorCode);
    if (osErrorCode == -1)
        return text;
    return QStringLiteral("%1 (win error code: %2)").arg(text).arg(osErrorCode);
}
