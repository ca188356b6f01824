// Port names and the Linux device a COMn name opens.
#pragma once

#include <QString>

namespace DeviceNames {

// Where the system keeps its serial devices.
inline const QString kDeviceRoot = QStringLiteral("/dev");

// "COM3", "com3" and "3" all give "COM3"; anything unreadable or outside
// 1..96 gives "COM1".
QString Normalize(const QString& name);

// The device COMn opens, first match wins:
//   1. $ZASHCHITA_COMn when set (any path: a pty, a /dev/serial/by-id link);
//   2. <root>/ttyUSB<n-1> when present (USB-RS485 adapters);
//   3. <root>/ttyACM<n-1> when present (CDC-ACM adapters);
//   4. <root>/ttyS<n-1> (built-in ports; tried even when missing, so the
//      open's failure names it).
// A built-in port is last on purpose: a PC with one would otherwise never
// use the adapter the relay hangs on. root is a seam for the tests.
QString DevicePathFor(const QString& portName, const QString& root = kDeviceRoot);

} // namespace DeviceNames

// Whether `devicePath` (or what it links to) is a pseudo-terminal's slave
// side: a virtual port that hands bytes on the moment they are written,
// without the time a UART's wire takes.
bool IsPseudoTerminal(const QString& devicePath);
