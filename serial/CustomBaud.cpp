// Arbitrary line rates via TCGETS2/TCSETS2 and BOTHER (see CustomBaud.h).
#include "serial/CustomBaud.h"

#include <asm/termbits.h>
#include <cerrno>
#include <sys/ioctl.h>

int SetCustomBaudRate(int fd, int rate)
{
    if (rate <= 0)
        return EINVAL;
    struct termios2 t {};
    if (::ioctl(fd, TCGETS2, &t) < 0)
        return errno;
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = static_cast<speed_t>(rate);
    t.c_ospeed = static_cast<speed_t>(rate);
    if (::ioctl(fd, TCSETS2, &t) < 0)
        return errno;
    return 0;
}
