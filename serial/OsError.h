// The system's errors as a Linux user reads them: the errno's name and its
// text, "ENOENT (No such file or directory)", whatever the locale. The
// window keeps the port's own message table; the exporter and the logs
// speak this way.
#pragma once

#include <QString>

// "EACCES (Permission denied)"; for a number the system has no name for,
// "error 1234"; for 0 or less, "no reason given".
QString OsErrorText(int error);
