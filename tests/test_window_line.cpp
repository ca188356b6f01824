// The line the window itself opens: its port opened with "Открыть" against a
// pseudo-terminal mapped as COM1, the settings read back from the far side.
#include <gtest/gtest.h>

#include "support/WindowDriver.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

namespace {

// The far end of the window's COM1; nobody answers on it.
struct FarEnd {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    FarEnd()
    {
        grantpt(master);
        unlockpt(master);
    }
    ~FarEnd() { ::close(master); }
    std::string path() const { return ptsname(master); }
};

} // namespace

TEST(WindowLine, OpensItsPortRaw9600EightNoneOneWithoutFlowControl)
{
    FarEnd far;
    PortEnv env(1, far.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ui.Click("ButtonCOM");
    ASSERT_TRUE(form.ComPort()->Connected());
    EXPECT_TRUE(boxes.shown.empty());

    termios t{};
    ASSERT_EQ(tcgetattr(far.master, &t), 0);
    EXPECT_EQ(cfgetispeed(&t), speed_t(B9600));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(0));   // a pty keeps PARODD and CMSPAR
    EXPECT_FALSE(t.c_cflag & CSTOPB);
    EXPECT_FALSE(t.c_cflag & CRTSCTS);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK | ICRNL), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_FALSE(t.c_oflag & OPOST);
}

TEST(WindowLine, PortSettingsThatThePtyCannotShow)
{
    TForm1 form;
    const TComPort& port = *form.ComPort();
    EXPECT_EQ(port.Events, std::vector<TComEvent>{evRxChar});
    EXPECT_EQ(port.SyncMethod(), smWindowSync);
    // One byte read waits at most 200 * 1 + 200 ms; writes wait for the line alone.
    EXPECT_EQ(port.Timeouts.ReadInterval, -1);
    EXPECT_EQ(port.Timeouts.ReadTotalMultiplier, 200);
    EXPECT_EQ(port.Timeouts.ReadTotalConstant, 200);
    EXPECT_EQ(port.Timeouts.WriteTotalMultiplier, 0);
    EXPECT_EQ(port.Timeouts.WriteTotalConstant, 0);
    // What a pty cannot show: it forces CS8 and drops PARENB, and has no modem lines.
    EXPECT_EQ(port.DataBits, dbEight);
    EXPECT_EQ(port.Parity.Bits, prNone);
    EXPECT_FALSE(port.Parity.Check);
    EXPECT_EQ(port.StopBits, sbOneStopBit);
    EXPECT_EQ(port.BaudRate, br9600);
    EXPECT_EQ(port.FlowControl.ControlDTR, dtrDisable);
    EXPECT_EQ(port.FlowControl.ControlRTS, rtsDisable);
}
