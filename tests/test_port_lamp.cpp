// The port lamp inside a port state change: it shows the change at once by
// painting, and lets no other event of the window run in the middle of an
// open or a close.
#include <gtest/gtest.h>

#include "app/ComLed.h"
#include "serial/ComPort.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kLampCom = 6;

// A pseudo-terminal slave for the port to open as COM6.
struct PtyDevice {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    PtyDevice()
    {
        grantpt(master);
        unlockpt(master);
        setenv(("ZASHCHITA_COM" + std::to_string(kLampCom)).c_str(), ptsname(master), 1);
    }
    ~PtyDevice() { ::close(master); }
};

// Counts the paint events a widget gets.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* e) override
    {
        paints += e->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

TEST(PortLamp, OpenAndCloseLetNoQueuedWorkInButPaintTheLamp)
{
    PtyDevice device;
    TComPort port;
    port.Events = {evRxChar};
    port.SetPort(QStringLiteral("COM%1").arg(kLampCom));
    TComLed led;
    led.resize(21, 25);
    led.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&led));
    led.SetComPort(&port);
    PaintCounter counter;
    led.installEventFilter(&counter);

    // Work queued before the open, as a tick or a receive event would be.
    int ran = 0;
    QMetaObject::invokeMethod(&led, [&] { ++ran; }, Qt::QueuedConnection);
    QTimer::singleShot(0, &led, [&] { ++ran; });

    port.Open();
    EXPECT_EQ(led.State(), lsOn);
    EXPECT_EQ(ran, 0) << "the open ran the window's events";
    EXPECT_GE(counter.paints, 1) << "the lit lamp was not painted before the open returned";

    const int paintsOpen = counter.paints;
    port.Close();
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_EQ(ran, 0) << "the close ran the window's events";
    EXPECT_GT(counter.paints, paintsOpen);

    EXPECT_TRUE(QTest::qWaitFor([&] { return ran == 2; }, 1000));
}
