#include "link/SessionOptions.h"

#include <QByteArray>

SessionOptions::Timing LineTimingFromEnvironment(SessionOptions::Timing given)
{
    if (given != SessionOptions::Timing::Auto)
        return given;
    const QByteArray forced = qgetenv("ZASHCHITA_LINE_TIMING");
    if (forced == "on")
        return SessionOptions::Timing::On;
    if (forced == "off")
        return SessionOptions::Timing::Off;
    return given;
}
