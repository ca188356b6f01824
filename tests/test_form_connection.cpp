// Start-up, port choice, opening and closing, the address, and a device that
// goes away: the main window driven by its controls against the relay
// simulator on a pseudo-terminal.
#include <gtest/gtest.h>

#include <QDateEdit>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>

#include <grp.h>
#include <sys/stat.h>

#include "serial/PortMessages.h"

#include "app/LedIndicator.h"
#include "app/SpinEdit.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/WindowDriver.h"

namespace {

const std::vector<std::string> kFrozen = {"--no-pace", "--freeze", "--set", "67=6", "--set", "68=15",
                                          "--set", "69=12", "--set", "70=30", "--set", "71=45",
                                          "--set", "66=0x4C05"};

TEST(Connection, StartsClosedOnPageZeroWithComOneAndAddressOne)
{
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Защита электродвигателя на 0,4кВ"));
    EXPECT_EQ(form.PageControl1()->geometry(), QRect(0, 0, 605, 442));
    EXPECT_EQ(form.size(), QSize(605, 462)) << "the pages and the status bar below them";
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(form.PageControl1()->currentIndex(), 0);
    EXPECT_TRUE(form.findChild<QLabel*>(QStringLiteral("LabelOtherMaster"))->isHidden()) << "no other master seen";
    EXPECT_EQ(form.ComNumber(), 1);
    EXPECT_EQ(form.Link().SlaveAddress, 1);
    EXPECT_EQ(form.Exchanges().ReadParamRequest, 0) << "the start-up page selection raises nothing";
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_FALSE(ui.Lit());
    EXPECT_TRUE(ui.Text("E1").isEmpty());
    EXPECT_FALSE(form.Timer()->isActive());
    EXPECT_TRUE(form.Timer1()->isActive());
    form.Timer1Timer();
    EXPECT_FALSE(form.ControlAs<QLabel>(QStringLiteral("LabelDT"))->text().isEmpty());
}

TEST(Connection, OpeningShowsLiveValuesAndClosingEmptiesPageZero)
{
    RelaySim sim(kFrozen);
    const auto regs = RelaySim::dumpRegisters(kFrozen);
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};

    ASSERT_TRUE(ui.Open());
    EXPECT_TRUE(boxes.shown.empty());
    EXPECT_TRUE(ui.Lit());
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Закрыть"));
    EXPECT_EQ(form.ControlAs<QLabel>(QStringLiteral("LabelNum"))->text(), QStringLiteral("COM 1"));
    EXPECT_FALSE(ui.Button("ButtonSys")->isHidden());
    EXPECT_TRUE(form.ControlAs<QDateEdit>(QStringLiteral("DPicker"))->isEnabled());
    EXPECT_EQ(ui.Text("E0"), QString::number(regs.at(78)));
    for (int i = 2; i <= 12; ++i)
        EXPECT_EQ(ui.Edit(qPrintable(QStringLiteral("E%1").arg(i)))->text(), QString::number(regs.at(48 + i)));
    EXPECT_EQ(ui.Text("E1"), QStringLiteral("01001100 00000101"));
    EXPECT_TRUE(form.ControlAs<TLedIndicator>(QStringLiteral("L0"))->Checked());
    EXPECT_TRUE(form.ControlAs<TLedIndicator>(QStringLiteral("L14"))->Checked());
    EXPECT_FALSE(form.ControlAs<TLedIndicator>(QStringLiteral("L1"))->Checked());
    EXPECT_EQ(form.ControlAs<QTimeEdit>(QStringLiteral("TPicker"))->time(), QTime(12, 30, 45));

    ASSERT_TRUE(ui.Close());
    EXPECT_FALSE(ui.Lit());
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_EQ(form.ControlAs<QLabel>(QStringLiteral("LabelNum"))->text(), QStringLiteral("COM-порт"));
    EXPECT_TRUE(ui.Text("E0").isEmpty());
    EXPECT_TRUE(ui.Text("E1").isEmpty());
    EXPECT_FALSE(form.ControlAs<TLedIndicator>(QStringLiteral("L0"))->Checked());
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());
    EXPECT_FALSE(form.ControlAs<QDateEdit>(QStringLiteral("DPicker"))->isEnabled());
    EXPECT_EQ(form.Exchanges().ExchangeContext, 1);

    // And it opens again.
    ASSERT_TRUE(ui.Open());
    EXPECT_TRUE(ui.Close());
}

TEST(Connection, PortThatCannotBeOpenedShowsTheMessageAndStaysClosed)
{
    PortEnv env(2, "/nonexistent/ttyZ9");
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    form.PopupMenu()->actions().at(1)->trigger();   // "СОМ 2"
    ui.Click("ButtonCOM");
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Ошибка СОМ порта"));
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Не могу открыть СОМ порт"));
    EXPECT_TRUE(boxes.shown[0].detail.contains(QStringLiteral("/nonexistent/ttyZ9")));
    EXPECT_TRUE(boxes.shown[0].detail.contains(QString::fromLocal8Bit(strerror(ENOENT))));
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_FALSE(ui.Lit());
    EXPECT_FALSE(form.Timer()->isActive());
}

TEST(Connection, PermissionErrorNamesTheGroupThatOwnsTheDevice)
{
    struct stat st {};
    ASSERT_EQ(stat("/dev/null", &st), 0);
    const QString owner = QString::fromLocal8Bit(getgrgid(st.st_gid)->gr_name);
    const QString denied = PortFailureDetail(QStringLiteral("/dev/null"), EACCES);
    EXPECT_TRUE(denied.contains(QStringLiteral("/dev/null")));
    EXPECT_TRUE(denied.contains(QString::fromLocal8Bit(strerror(EACCES))));
    EXPECT_TRUE(denied.contains(QStringLiteral("«%1»").arg(owner)));
    EXPECT_TRUE(denied.contains(QStringLiteral("dialout")));

    const QString missing = PortFailureDetail(QStringLiteral("/dev/ttyUSB7"), ENOENT);
    EXPECT_FALSE(missing.contains(QStringLiteral("группу")));
    // Without an OS code the port's own message is the reason.
    EXPECT_TRUE(PortFailureDetail(QStringLiteral("/dev/x"), -1, QStringLiteral("Unable to open com port"))
                    .contains(QStringLiteral("Unable to open com port")));
}

TEST(Connection, PortMenuChoosesTheNextPortAndPopsUpOnlyWhileClosed)
{
    RelaySim sim(kFrozen);
    PortEnv env(3, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};

    ui.RightClickPortLabel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.PopupMenu()->isVisible(); }, 2000));
    form.PopupMenu()->hide();
    const QList<QAction*> items = form.PopupMenu()->actions();
    ASSERT_EQ(items.size(), 4);
    EXPECT_EQ(items[2]->text(), QStringLiteral("СОМ 3"));
    items[2]->trigger();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(items[i]->isChecked(), i == 2);
    EXPECT_EQ(form.ComNumber(), 3);

    ASSERT_TRUE(ui.Open());
    EXPECT_EQ(form.ControlAs<QLabel>(QStringLiteral("LabelNum"))->text(), QStringLiteral("COM 3"));
    EXPECT_EQ(form.ComPort()->Port(), QStringLiteral("COM3"));
    ui.RightClickPortLabel();
    QTest::qWait(100);
    EXPECT_FALSE(form.PopupMenu()->isVisible());
    ASSERT_TRUE(ui.Close());
    ui.RightClickPortLabel();
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.PopupMenu()->isVisible(); }, 2000));
    form.PopupMenu()->hide();
}

TEST(Connection, EnterInTheAddressFieldChangesTheNextRequest)
{
    QTemporaryDir dir;
    const std::string log = (dir.path() + QStringLiteral("/wire.log")).toStdString();
    std::vector<std::string> args = kFrozen;
    args.insert(args.end(), {"--log", log});
    RelaySim sim(args);
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ASSERT_TRUE(ui.Open());

    auto* address = form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    address->setFocus();
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("7"));
    QTest::qWait(100);
    EXPECT_EQ(form.Link().SlaveAddress, 1) << "typing alone changes nothing";
    QTest::keyClick(address, Qt::Key_Return);
    EXPECT_EQ(form.Link().SlaveAddress, 7);

    auto logHas = [&](const QByteArray& prefix) {
        QFile f(QString::fromStdString(log));
        if (!f.open(QIODevice::ReadOnly))
            return false;
        for (const QByteArray& line : f.readAll().split('\n'))
            if (line.startsWith(prefix))
                return true;
        return false;
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return logHas("07 03 00 32 00 1D"); }, 5000));
    // Nobody answers at 7: the link is declared lost and the notice blinks.
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Link().MissCount >= 5; }, 5000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Timer3()->isActive(); }, 1000));
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());

    // Back to address 1: the link returns and the notice goes.
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("1"));
    QTest::keyClick(address, Qt::Key_Enter);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !form.Timer3()->isActive() && form.Link().MissCount == 0; }, 5000));
    EXPECT_TRUE(form.ControlAs<QLabel>(QStringLiteral("LabelS1"))->isHidden());
    EXPECT_FALSE(ui.Button("ButtonSys")->isHidden());
    ASSERT_TRUE(ui.Close());
}

TEST(Connection, SilentRelayBlinksTheNoticeAndStillClosesOnRequest)
{
    RelaySim sim({"--silent"});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ui.Click("ButtonCOM");
    ASSERT_TRUE(form.ComPort()->Connected());
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Link().MissCount >= 5; }, 10000));
    auto* notice = form.ControlAs<QLabel>(QStringLiteral("LabelS1"));
    const bool before = notice->isHidden();
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice->isHidden() != before; }, 3000)) << "the notice blinks";
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());
    EXPECT_FALSE(form.ControlAs<QDateEdit>(QStringLiteral("DPicker"))->isEnabled());

    // While the relay is silent the poll timer wakes only to time out and to
    // send again (two wake-ups in 32 ticks), not every 5 ms.
    int wakeUps = 0;
    auto counter = QObject::connect(form.Timer(), &QTimer::timeout, [&] { ++wakeUps; });
    const int misses = form.Link().MissCount;
    QTest::qWait(1000);
    QObject::disconnect(counter);
    EXPECT_GT(form.Link().MissCount, misses) << "still polling";
    EXPECT_LE(wakeUps, 2 * (form.Link().MissCount - misses) + 2);

    // A page entered now asks for nothing, is reset, and blinks its own notice.
    auto* spin = form.ControlAs<TSpinEdit>(QStringLiteral("SE4"));
    spin->SetValue(321);
    ui.SelectPage(1);
    EXPECT_EQ(spin->Value(), 0);
    EXPECT_EQ(form.Exchanges().ReadUstNastRequest, 0);
    EXPECT_EQ(form.Exchanges().PollMode, 5);
    auto* notice2 = form.ControlAs<QLabel>(QStringLiteral("LabelS2"));
    const bool before2 = notice2->isHidden();
    EXPECT_TRUE(QTest::qWaitFor([&] { return notice2->isHidden() != before2; }, 3000));
    ui.SelectPage(0);

    // The close waits for the request in flight to time out, then happens.
    ui.Click("ButtonCOM");
    EXPECT_EQ(form.Link().CloseRequested, 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 5000));
    EXPECT_TRUE(notice->isHidden());
    EXPECT_FALSE(form.Timer3()->isActive());
    EXPECT_EQ(form.Link().MissCount, 0);
    EXPECT_TRUE(boxes.shown.empty());
}

// A reply that reaches the port a byte at a time, as a line does: the window
// looks away while the rest is on its way, so the port wakes a handful of
// times per reply rather than once per byte, and every value still arrives
// whole and on time.
TEST(Connection, ReplyInOneBytePiecesIsTakenInAFewReceiveEventsAndShownWhole)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("requests.log"));
    const std::vector<std::string> args = {"--freeze", "--piece-bytes", "1", "--log", log.toStdString(),
                                           "--set", "50=4321", "--set", "60=65535", "--set", "78=777"};
    RelaySim sim(args);
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ASSERT_TRUE(ui.Open());

    const size_t requestsBefore = LoggedFrames(log).size();
    const quint64 wakeUpsBefore = form.ComPort()->WakeUps();
    QTest::qWait(1500);
    const size_t exchanges = LoggedFrames(log).size() - requestsBefore;
    const quint64 wakeUps = form.ComPort()->WakeUps() - wakeUpsBefore;
    ASSERT_GE(exchanges, 5u) << "a 63-byte reply takes 66 ms of line";
    // Taken as the bytes land, a reply costs about seven wake-ups here; looking
    // away for its rest, two or three.
    EXPECT_LE(wakeUps, 5 * exchanges) << wakeUps << " wake-ups for " << exchanges << " replies";
    EXPECT_EQ(form.Link().MissCount, 0);
    EXPECT_EQ(ui.Text("E0"), QStringLiteral("777"));
    EXPECT_EQ(ui.Text("E2"), QStringLiteral("4321"));
    EXPECT_EQ(ui.Text("E12"), QStringLiteral("65535"));
    EXPECT_TRUE(ui.Close());
    EXPECT_TRUE(boxes.shown.empty());
}

TEST(Connection, PulledDeviceGivesOneMessageAndTheClosedLookWithoutSpinning)
{
    // Through the simulator's link, which goes with the device: a pty number
    // set free may soon belong to someone else.
    QTemporaryDir dir;
    const std::string link = (dir.path() + QStringLiteral("/COM1")).toStdString();
    RelaySim sim({"--no-pace", "--gone-after", "1.5", "--link", link});
    PortEnv env(1, link);
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ASSERT_TRUE(ui.Open());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.empty(); }, 10000));
    QTest::qWait(300);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, QStringLiteral("Ошибка СОМ порта"));
    EXPECT_TRUE(boxes.shown[0].detail.contains(QString::fromStdString(link)));
    EXPECT_FALSE(form.ComPort()->Connected());
    EXPECT_FALSE(ui.Lit());
    EXPECT_FALSE(form.Timer()->isActive());
    EXPECT_EQ(ui.Button("ButtonCOM")->text(), QStringLiteral("Открыть"));
    EXPECT_TRUE(ui.Text("E0").isEmpty());

    // Nothing spins while the device is missing: no poll tick, no port wake-up.
    const quint64 wakeUps = form.ComPort()->WakeUps();
    QTest::qWait(1000);
    EXPECT_LE(form.ComPort()->WakeUps() - wakeUps, 5u);
    EXPECT_FALSE(form.Timer()->isActive());
    EXPECT_EQ(boxes.shown.size(), 1u);

    // Opening again while the device is still missing only says so.
    ui.Click("ButtonCOM");
    EXPECT_EQ(boxes.shown.size(), 2u);
    EXPECT_EQ(boxes.shown.back().text, QStringLiteral("Не могу открыть СОМ порт"));
}

}  // namespace
