// Which device a COMn name opens, and the line settings each choice gives:
// built as termios records, and read back from the far side of a
// pseudo-terminal after TComPort::Open.
#include <gtest/gtest.h>

#include "serial/ComPort.h"
#include "serial/DeviceNames.h"
#include "serial/LineSettings.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

// A pty for COMn whose master end reads the settings the port gave its slave.
struct PtyLine {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    std::string name;
    explicit PtyLine(int comNumber) : name("ZASHCHITA_COM" + std::to_string(comNumber))
    {
        grantpt(master);
        unlockpt(master);
        setenv(name.c_str(), ptsname(master), 1);
    }
    ~PtyLine()
    {
        unsetenv(name.c_str());
        ::close(master);
    }
    termios settings() const
    {
        termios t{};
        EXPECT_EQ(tcgetattr(master, &t), 0);
        return t;
    }
};

// A device folder with the named device files in it.
struct DeviceRoot {
    QTemporaryDir dir;
    explicit DeviceRoot(std::initializer_list<const char*> devices)
    {
        for (const char* device : devices) {
            QFile f(dir.filePath(QLatin1String(device)));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        }
    }
    QString path(const char* device) const { return dir.filePath(QLatin1String(device)); }
};

// Keeps COMn free of an environment mapping for one test.
struct Unmapped {
    std::string name;
    explicit Unmapped(int comNumber) : name("ZASHCHITA_COM" + std::to_string(comNumber))
    {
        unsetenv(name.c_str());
    }
};

constexpr tcflag_t kParityBits = PARENB | PARODD | CMSPAR;

tcflag_t parityBitsFor(TParityBits parity)
{
    termios t{};
    LineSettings::Line line;
    line.parity = parity;
    LineSettings::Fill(t, line);
    return t.c_cflag & kParityBits;
}

} // namespace

// ---------------------------------------------------------------- device lookup

TEST(DeviceLookup, AdapterComesBeforeTheBuiltInPort)
{
    Unmapped com1(1);
    DeviceRoot root({"ttyS0", "ttyUSB0"});
    EXPECT_EQ(DeviceNames::DevicePathFor("COM1", root.dir.path()), root.path("ttyUSB0"));
}

TEST(DeviceLookup, UsbSerialThenCdcAcmThenBuiltIn)
{
    Unmapped com2(2);
    DeviceRoot all({"ttyS1", "ttyACM1", "ttyUSB1"});
    EXPECT_EQ(DeviceNames::DevicePathFor("COM2", all.dir.path()), all.path("ttyUSB1"));
    DeviceRoot acm({"ttyS1", "ttyACM1"});
    EXPECT_EQ(DeviceNames::DevicePathFor("COM2", acm.dir.path()), acm.path("ttyACM1"));
    DeviceRoot builtIn({"ttyS1"});
    EXPECT_EQ(DeviceNames::DevicePathFor("com2", builtIn.dir.path()), builtIn.path("ttyS1"));
}

TEST(DeviceLookup, NumbersCountFromZeroAndOnlyTheSameNumberCounts)
{
    Unmapped com3(3);
    DeviceRoot root({"ttyUSB0", "ttyUSB3", "ttyACM1"});
    EXPECT_EQ(DeviceNames::DevicePathFor("COM3", root.dir.path()), root.path("ttyS2"))
        << "nothing for index 2: the built-in port is tried, so the failure names it";
}

TEST(DeviceLookup, EnvironmentMappingWinsOverEveryDevice)
{
    DeviceRoot root({"ttyUSB3", "ttyACM3", "ttyS3"});
    setenv("ZASHCHITA_COM4", "/dev/serial/by-id/relay", 1);
    EXPECT_EQ(DeviceNames::DevicePathFor("COM4", root.dir.path()), "/dev/serial/by-id/relay");
    unsetenv("ZASHCHITA_COM4");
    EXPECT_EQ(DeviceNames::DevicePathFor("COM4", root.dir.path()), root.path("ttyUSB3"));
}

TEST(DeviceLookup, PortUsesTheSystemDeviceFolder)
{
    Unmapped com8(8);
    EXPECT_EQ(TComPort::DevicePathFor("COM8"), DeviceNames::DevicePathFor("COM8", "/dev"));
    EXPECT_TRUE(TComPort::DevicePathFor("COM8").startsWith("/dev/tty"));
}

// ---------------------------------------------------------------- termios records

TEST(LineRecord, EachParityChoiceSetsItsOwnBits)
{
    EXPECT_EQ(parityBitsFor(prNone), tcflag_t(0));
    EXPECT_EQ(parityBitsFor(prOdd), tcflag_t(PARENB | PARODD));
    EXPECT_EQ(parityBitsFor(prEven), tcflag_t(PARENB));
    EXPECT_EQ(parityBitsFor(prMark), tcflag_t(PARENB | PARODD | CMSPAR));
    EXPECT_EQ(parityBitsFor(prSpace), tcflag_t(PARENB | CMSPAR));
}

TEST(LineRecord, CharacterFormatFlowControlAndRawMode)
{
    const std::pair<TDataBits, tcflag_t> sizes[] = {{dbFive, CS5}, {dbSix, CS6}, {dbSeven, CS7}, {dbEight, CS8}};
    for (auto [bits, size] : sizes) {
        termios t{};
        LineSettings::Line line;
        line.dataBits = bits;
        LineSettings::Fill(t, line);
        EXPECT_EQ(t.c_cflag & CSIZE, size) << bits;
    }

    termios t{};
    t.c_cflag = PARENB | CSTOPB | CRTSCTS;   // whatever the device had goes
    t.c_iflag = IXON | IXOFF | ICRNL | INPCK;
    t.c_lflag = ICANON | ECHO | ISIG;
    t.c_oflag = OPOST;
    LineSettings::Fill(t, LineSettings::Line{});
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), tcflag_t(0));
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INPCK), tcflag_t(0));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), tcflag_t(0));
    EXPECT_EQ(t.c_oflag & OPOST, tcflag_t(0));
    EXPECT_EQ(cfgetospeed(&t), speed_t(B9600));

    LineSettings::Line flow;
    flow.stopBits = sbTwoStopBits;
    flow.parityCheck = true;
    flow.flow.OutCTSFlow = true;
    flow.flow.XonXoffIn = flow.flow.XonXoffOut = true;
    LineSettings::Fill(t, flow);
    EXPECT_EQ(t.c_cflag & (CSTOPB | CRTSCTS), tcflag_t(CSTOPB | CRTSCTS));
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | INPCK), tcflag_t(IXON | IXOFF | INPCK));
    EXPECT_EQ(t.c_cc[VSTART], 17);
    EXPECT_EQ(t.c_cc[VSTOP], 19);
}

TEST(LineRecord, RatesByChoice)
{
    EXPECT_EQ(LineSettings::RateOf(br9600, 0), 9600);
    EXPECT_EQ(LineSettings::RateOf(br19200, 0), 19200);
    EXPECT_EQ(LineSettings::RateOf(br110, 0), 110);
    EXPECT_EQ(LineSettings::RateOf(br256000, 0), 256000);
    EXPECT_EQ(LineSettings::RateOf(brCustom, 31250), 31250);
    EXPECT_EQ(LineSettings::StandardSpeed(9600), speed_t(B9600));
    EXPECT_EQ(LineSettings::StandardSpeed(14400), speed_t(B0));
}

// ---------------------------------------------------------------- read back from a pty

// A pty keeps PARODD and CMSPAR as given but drops PARENB and forces CS8
// (it never makes parity errors); the record tests above cover those.
TEST(LineOnDevice, EachParityChoiceReachesTheDevice)
{
    PtyLine pty(3);
    constexpr tcflag_t kKeptByPty = PARODD | CMSPAR;
    for (TParityBits parity : {prNone, prOdd, prEven, prMark, prSpace}) {
        TComPort port;
        port.Events = {};
        port.Parity.Bits = parity;
        port.SetPort("COM3");
        port.Open();
        EXPECT_EQ(pty.settings().c_cflag & kKeptByPty, parityBitsFor(parity) & kKeptByPty) << parity;
    }
}

TEST(LineOnDevice, RateStopBitsAndChangesOnAnOpenPort)
{
    PtyLine pty(3);
    TComPort port;
    port.Events = {};
    port.SetPort("COM3");
    port.Open();
    const termios opened = pty.settings();
    EXPECT_EQ(cfgetispeed(&opened), speed_t(B9600));

    port.BaudRate = br19200;
    port.StopBits = sbTwoStopBits;
    port.ApplySettings();
    const termios t = pty.settings();
    EXPECT_EQ(cfgetospeed(&t), speed_t(B19200));
    EXPECT_TRUE(t.c_cflag & CSTOPB);

    port.BaudRate = br4800;
    port.StopBits = sbOneStopBit;
    port.Close();   // the settings are read again by the next open
    port.Open();
    const termios again = pty.settings();
    EXPECT_EQ(cfgetospeed(&again), speed_t(B4800));
    EXPECT_FALSE(again.c_cflag & CSTOPB);
}
