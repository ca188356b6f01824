// What the port's failures mean for the user: which device, why, whether it
// is a serial line at all, and which group's members may open it. The
// window shows them as the detail of its port messages; the companion words
// the same facts on one line of its own.
#pragma once

#include <QString>

// The detail line of the window's port messages: the device, the reason
// (a device that is no serial line said so), and on a permission error the
// group whose members may open it, when there is one.
QString PortFailureDetail(const QString& devicePath, int osError, const QString& otherReason = {});

// The error a serial line's set-up gets from a device that is no terminal
// (a plain file, /dev/null).
bool NotASerialDevice(int osError);

// On a permission error (EACCES, EPERM): the group whose members may read and
// write the device by its permissions; empty when no group would help (a
// root:root 0600 device, a path that cannot be looked at).
QString AccessGroup(const QString& devicePath, int osError);
