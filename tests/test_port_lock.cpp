// One program on the line at a time: the port locks its device besides
// opening it exclusively (which does not bind root), and a second opener is
// told the port is in use, in the window as by the exclusive open. A port may
// also open a device path given directly instead of its COMn mapping.
#include <gtest/gtest.h>

#include <QFile>
#include <QPushButton>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "serial/PortMessages.h"
#include "serial/ComPort.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

template <class F> EComPort Raised(F f)
{
    try {
        f();
    } catch (const EComPort& e) {
        return e;
    }
    ADD_FAILURE() << "no EComPort raised";
    return EComPort(0);
}

// Another program's hold on the device: only the advisory lock.
struct ForeignLock {
    int fd;
    explicit ForeignLock(const std::string& path) : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC))
    {
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    }
    ~ForeignLock() { ::close(fd); }
};

bool ExclusiveFlag(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;   // the flag refuses all but root
    int exclusive = 0;
    ::ioctl(fd, TIOCGEXCL, &exclusive);
    ::close(fd);
    return exclusive != 0;
}

}  // namespace

TEST(PortLock, SecondOpenerIsToldThePortIsInUseAndTheHolderKeepsIt)
{
    RelaySim sim({"--no-pace"});
    PortEnv env(7, sim.path());
    TComPort holder;
    holder.SetPort(QStringLiteral("COM7"));
    holder.Open();
    ASSERT_TRUE(holder.Connected());

    // The same refusal the exclusive open gives a user without root.
    TComPort second;
    second.SetPort(QStringLiteral("COM7"));
    const EComPort refused = Raised([&] { second.Open(); });
    EXPECT_EQ(refused.ErrorCode, ceOpen);
    EXPECT_EQ(refused.OsErrorCode, EBUSY);
    EXPECT_EQ(refused.Message(), EComPort(ceOpen, EBUSY).Message());
    EXPECT_FALSE(second.Connected());
    EXPECT_TRUE(holder.Connected());
    EXPECT_TRUE(ExclusiveFlag(sim.path())) << "a refused opener took the holder's exclusive open away";

    // A program that only locks the device keeps the port off it as well,
    // until it lets go.
    holder.Close();
    {
        ForeignLock other(sim.path());
        EXPECT_EQ(Raised([&] { second.Open(); }).OsErrorCode, EBUSY);
    }
    second.Open();
    EXPECT_TRUE(second.Connected());
}

TEST(PortLock, WindowSaysItCannotOpenThePortWhileAnotherProgramHoldsIt)
{
    RelaySim sim({"--no-pace"});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TComPort otherProgram;
    otherProgram.SetDevicePath(QString::fromStdString(sim.path()));
    otherProgram.Open();

    TForm1 form;
    WindowDriver ui{form};
    form.show();
    ui.Click("ButtonCOM");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Не могу открыть СОМ порт"));
    EXPECT_EQ(boxes.shown[0].detail, PortFailureDetail(QString::fromStdString(sim.path()), EBUSY,
                                                       EComPort(ceOpen, EBUSY).Message()));
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_FALSE(form.ComPort()->Connected());

    otherProgram.Close();
    ASSERT_TRUE(ui.Open());
    ui.Close();
}

// A path given directly is opened in place of the COMn mapping, the name
// stays; a new path reopens an open port there; an empty one returns to the
// mapping.
TEST(PortLock, DevicePathGivenDirectlyTakesThePlaceOfTheMapping)
{
    RelaySim first({"--no-pace"}), second({"--no-pace"});
    PortEnv env(3, "/nonexistent/relay");
    const QString firstPath = QString::fromStdString(first.path());
    const QString secondPath = QString::fromStdString(second.path());
    TComPort port;
    port.SetPort(QStringLiteral("COM3"));
    port.SetDevicePath(firstPath);
    port.Open();
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), QStringLiteral("COM3"));
    EXPECT_EQ(port.DevicePath(), firstPath);
    TComPort probe;
    probe.SetDevicePath(firstPath);
    EXPECT_EQ(Raised([&] { probe.Open(); }).OsErrorCode, EBUSY) << "not open on the path given";

    port.SetDevicePath(secondPath);
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.DevicePath(), secondPath);
    probe.Open();   // the first device is free again
    probe.Close();

    const EComPort mapped = Raised([&] { port.SetDevicePath(QString()); });
    EXPECT_EQ(mapped.ErrorCode, ceOpen);
    EXPECT_EQ(mapped.OsErrorCode, ENOENT);
    EXPECT_EQ(port.DevicePath(), QStringLiteral("/nonexistent/relay"));
    EXPECT_FALSE(port.Connected());
}
