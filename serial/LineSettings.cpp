#include "serial/LineSettings.h"

#include "serial/ComError.h"
#include "serial/CustomBaud.h"
#include "serial/ModemLines.h"

#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>

namespace LineSettings {

namespace {

// Bits per second, by TBaudRate (brCustom reads the custom rate instead).
const int kBaudRates[] = {0,     110,   300,   600,    1200,   2400,   4800,   9600,
                          14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
constexpr int kRateCount = int(sizeof kBaudRates / sizeof kBaudRates[0]);

} // namespace

int RateOf(TBaudRate rate, int customRate)
{
    if (rate == brCustom)
        return customRate;
    const int index = int(rate);
    return index > 0 && index < kRateCount ? kBaudRates[index] : 0;
}

speed_t StandardSpeed(int rate)
{
    switch (rate) {
    case 110: return B110;
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
    }
}

void Fill(termios& t, const Line& line)
{
    cfmakeraw(&t);
    t.c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | IGNPAR | PARMRK);
    t.c_cflag &= ~tcflag_t(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD | HUPCL;

    switch (line.dataBits) {
    case dbFive: t.c_cflag |= CS5; break;
    case dbSix: t.c_cflag |= CS6; break;
    case dbSeven: t.c_cflag |= CS7; break;
    case dbEight: t.c_cflag |= CS8; break;
    }
    // Mark and space are the odd and even bits with the parity stuck (CMSPAR).
    switch (line.parity) {
    case prNone: break;
    case prOdd: t.c_cflag |= PARENB | PARODD; break;
    case prEven: t.c_cflag |= PARENB; break;
    case prMark: t.c_cflag |= PARENB | PARODD | CMSPAR; break;
    case prSpace: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (line.parityCheck)
        t.c_iflag |= INPCK;
    if (line.stopBits != sbOneStopBit)
        t.c_cflag |= CSTOPB;   // no 1.5 on a terminal device: two
    if (line.flow.OutCTSFlow || line.flow.ControlRTS == rtsHandshake)
        t.c_cflag |= CRTSCTS;
    if (line.flow.XonXoffOut)
        t.c_iflag |= IXON;
    if (line.flow.XonXoffIn)
        t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = cc_t(line.flow.XonChar);
    t.c_cc[VSTOP] = cc_t(line.flow.XoffChar);
    // One byte minimum, no timer: with O_NONBLOCK a read then answers EAGAIN
    // when nothing is waiting, and 0 only when the line has been hung up.
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;

    const speed_t code = StandardSpeed(line.rate);
    if (code != B0) {
        cfsetispeed(&t, code);
        cfsetospeed(&t, code);
    }
}

void Apply(int fd, const Line& line)
{
    if (line.rate <= 0)
        throw EComPort(ceLineSettings, EINVAL);
    termios t{};
    if (::tcgetattr(fd, &t) < 0)
        throw EComPort(ceLineSettings, errno);
    Fill(t, line);
    if (::tcsetattr(fd, TCSANOW, &t) < 0)
        throw EComPort(ceLineSettings, errno);
    if (StandardSpeed(line.rate) == B0) {
        if (const int err = SetCustomBaudRate(fd, line.rate))
            throw EComPort(ceLineSettings, err);
    }
    ModemLines::Hold(fd, line.flow);
}

void RequestLowLatency(int fd)
{
    serial_struct s{};
    if (::ioctl(fd, TIOCGSERIAL, &s) < 0 || (s.flags & ASYNC_LOW_LATENCY))
        return;
    s.flags |= ASYNC_LOW_LATENCY;
    (void)::ioctl(fd, TIOCSSERIAL, &s);   // refused by some drivers: they keep their timer
}

} // namespace LineSettings
