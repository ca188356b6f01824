#include "serial/ModemLines.h"

#include "serial/ComError.h"

#include <cerrno>
#include <sys/ioctl.h>

namespace ModemLines {

bool Missing(int err) { return err == ENOTTY || err == EINVAL; }

int Status(int fd)
{
    int lines = 0;
    if (::ioctl(fd, TIOCMGET, &lines) < 0) {
        if (Missing(errno))
            return 0;
        throw EComPort(ceModemStatus, errno);
    }
    int status = 0;
    if (lines & TIOCM_CTS)
        status |= csCTS;
    if (lines & TIOCM_DSR)
        status |= csDSR;
    if (lines & TIOCM_RNG)
        status |= csRing;
    if (lines & TIOCM_CAR)
        status |= csRLSD;
    return status;
}

void Hold(int fd, const TComFlowControl& flow)
{
    int lower = 0, raise = 0;
    switch (flow.ControlDTR) {
    case dtrDisable: lower |= TIOCM_DTR; break;
    case dtrEnable: raise |= TIOCM_DTR; break;
    case dtrHandshake: break;
    }
    switch (flow.ControlRTS) {
    case rtsDisable:
    case rtsToggle: lower |= TIOCM_RTS; break;
    case rtsEnable: raise |= TIOCM_RTS; break;
    case rtsHandshake: break;
    }
    if (lower && ::ioctl(fd, TIOCMBIC, &lower) < 0 && !Missing(errno))
        throw EComPort(ceLineSettings, errno);
    if (raise && ::ioctl(fd, TIOCMBIS, &raise) < 0 && !Missing(errno))
        throw EComPort(ceLineSettings, errno);
}

} // namespace ModemLines
