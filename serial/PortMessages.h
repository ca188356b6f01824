// The detail line of the port's error messages: which device, why, and on a
// permission error which group the user must belong to.
#pragma once

#include <QString>

QString PortFailureDetail(const QString& devicePath, int osError, const QString& otherReason = {});
