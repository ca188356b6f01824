// The status lamp TLedIndicator and the port lamp TComLed.
#include <gtest/gtest.h>

#include "app/ComLed.h"
#include "app/LedIndicator.h"
#include "app/LedPictures.h"
#include "serial/ComPort.h"

#include <QImage>
#include <QTest>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace {

QImage renderOn(QWidget& w, QColor background)
{
    QImage image(w.size(), QImage::Format_RGB32);
    image.fill(background);
    w.render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

// A pseudo-terminal slave for the port to open as COM6.
struct PtyDevice {
    int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    PtyDevice()
    {
        grantpt(master);
        unlockpt(master);
        setenv("ZASHCHITA_COM6", ptsname(master), 1);
    }
    ~PtyDevice() { ::close(master); }
};

const QColor kBackground(0, 0, 255);

} // namespace

// ---------------------------------------------------------------- TLedIndicator

TEST(LedIndicator, OnlyAChangeRepaintsAndMirrorsTheStatusBit)
{
    TLedIndicator lamp;
    lamp.StatusBit = 3;
    lamp.StatusInt = 0x100;
    for (bool on : {false, true, true, false, false})
        lamp.SetChecked(on);
    EXPECT_EQ(lamp.RepaintCount(), 2);
    EXPECT_EQ(lamp.StatusInt, 0x100u);
    lamp.SetChecked(true);
    EXPECT_EQ(lamp.StatusInt, 0x108u);
    EXPECT_EQ(lamp.focusPolicy(), Qt::NoFocus);
}

TEST(LedIndicator, ClickChangesNothingInIndicatorMode)
{
    TLedIndicator lamp;
    lamp.resize(150, 20);
    lamp.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&lamp));
    const QPoint centre = lamp.LampRect().center();
    QTest::mouseClick(&lamp, Qt::LeftButton, {}, centre);
    EXPECT_FALSE(lamp.Checked());
    EXPECT_EQ(lamp.RepaintCount(), 0);

    lamp.Mode = TLedIndicator::mSwitch;   // the same click does reach the lamp
    QTest::mouseClick(&lamp, Qt::LeftButton, {}, centre);
    EXPECT_TRUE(lamp.Checked());
}

TEST(LedIndicator, PaintsLampAtTheLeftWithHighlightAndNoBackground)
{
    TLedIndicator lamp;
    lamp.resize(150, 20);
    lamp.SetCaption("Пуск");
    EXPECT_EQ(lamp.LampRect(), QRect(0, 4, 13, 13));   // 20 / 2 - 13 / 2 = 4

    QImage dark = renderOn(lamp, kBackground);
    EXPECT_EQ(dark.pixelColor(6, 10), QColor(192, 192, 192));
    EXPECT_EQ(dark.pixelColor(6, 4), QColor(128, 128, 128));    // rim, top point
    EXPECT_EQ(dark.pixelColor(0, 10), QColor(128, 128, 128));   // rim, left point
    EXPECT_EQ(dark.pixelColor(140, 1), kBackground);           // caption area keeps the parent's colour

    lamp.SetChecked(true);
    QImage lit = renderOn(lamp, kBackground);
    EXPECT_EQ(lit.pixelColor(6, 10), QColor(255, 0, 0));
    EXPECT_EQ(lit.pixelColor(6, 6), QColor(255, 255, 255));     // highlight: top of the inner square
    EXPECT_EQ(lit.pixelColor(9, 10), QColor(255, 0, 0));        // ...but not its lower right

    // The caption's ink starts right of the 5-pixel gap after the lamp.
    auto inkIn = [&](int x0, int x1) {
        for (int x = x0; x < x1; ++x)
            for (int y = 0; y < 20; ++y)
                if (lit.pixelColor(x, y) != kBackground)
                    return true;
        return false;
    };
    EXPECT_FALSE(inkIn(13, 18));
    EXPECT_TRUE(inkIn(18, 60));
}

// ---------------------------------------------------------------- TComLed

TEST(ComLed, FollowsThePortAndShowsDarkWhenDisabled)
{
    PtyDevice device;
    TComPort port;
    port.Events = {evRxChar};
    port.SetPort("COM6");
    TComLed led;
    led.resize(21, 25);
    int changes = 0;
    led.OnChange = [&](QObject*, TLedState) { ++changes; };
    led.SetComPort(&port);
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_FALSE(led.ShowsLitPicture());

    port.Open();
    EXPECT_EQ(led.State(), lsOn);
    EXPECT_TRUE(led.ShowsLitPicture());
    led.setEnabled(false);
    EXPECT_FALSE(led.ShowsLitPicture());
    led.setEnabled(true);

    port.Close();
    EXPECT_EQ(led.State(), lsOff);
    EXPECT_FALSE(led.ShowsLitPicture());
    EXPECT_EQ(changes, 2);
}

TEST(ComLed, StaysDarkWhenTheOpenFailsAndStateIsNotSetWhileBound)
{
    setenv("ZASHCHITA_COM6", "/nonexistent/ttyQ", 1);
    TComPort port;
    port.SetPort("COM6");
    TComLed led;
    led.SetState(lsOn);   // unbound: allowed
    led.SetState(lsOff);
    led.SetComPort(&port);
    EXPECT_THROW(port.Open(), EComPort);
    EXPECT_EQ(led.State(), lsOff);
    try {
        led.SetState(lsOn);
        FAIL() << "State set while bound";
    } catch (const EComPort& e) {
        EXPECT_EQ(e.ErrorCode, 19);
        EXPECT_STREQ(e.what(), "Cannot change led state if ComPort is selected");
    }
}

TEST(ComLed, BindingTakesThePresentStateAndEitherSideMayGoFirst)
{
    PtyDevice device;
    auto* port = new TComPort;
    port->SetPort("COM6");
    port->Open();
    {
        TComLed led;
        led.SetComPort(port);
        EXPECT_EQ(led.State(), lsOn);
        led.SetComPort(nullptr);
        EXPECT_EQ(led.State(), lsOff);
        led.SetComPort(port);
    }
    port->Close();   // a link left behind by the lamp would be called here
    port->Open();

    TComLed led;
    led.SetComPort(port);
    delete port;
    EXPECT_EQ(led.ComPort(), nullptr);
    EXPECT_EQ(led.State(), lsOff);
}

TEST(ComLed, DrawsTheBulbCentredWithOliveTransparent)
{
    TComLed led;
    led.resize(21, 25);
    EXPECT_EQ(led.PicturePos(), QPoint(3, 5));
    EXPECT_EQ(led.CurrentPicture().size(), QSize(15, 15));

    const QImage dark = renderOn(led, kBackground);
    EXPECT_EQ(dark.pixelColor(3, 5), kBackground);                // olive corner: transparent
    EXPECT_EQ(dark.pixelColor(3 + 7, 5 + 3), QColor(255, 255, 255));   // white glass
    EXPECT_EQ(dark.pixelColor(3 + 7, 5 + 6), QColor(128, 128, 128));   // filament

    led.SetState(lsOn);
    const QImage lit = renderOn(led, kBackground);
    EXPECT_EQ(lit.pixelColor(3 + 7, 5 + 3), QColor(255, 255, 0));      // yellow glass
    EXPECT_EQ(lit.pixelColor(3 + 7, 5 + 0), QColor(255, 255, 0));      // a ray
    EXPECT_EQ(lit.pixelColor(3 + 0, 5 + 0), kBackground);
}
