// The masks tab and the relay's clock driven as the user does against the
// relay simulator: three masks in their columns, a box click marking one
// character and showing Ok, Ok writing the mask; the clock written field by
// field from the PC's clock or the pickers, also across a page change.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QFile>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>

#include <csignal>

#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {

struct RelayWindow : SimWindowTest {
    void Start(std::vector<std::string> args)
    {
        args.insert(args.end(), {"--no-pace", "--log", logPath.toStdString()});
        StartSim(args);
    }
    // Selects the masks tab and waits until its content shows again.
    void EnterMasks()
    {
        ui.SelectPage(7);
        ASSERT_TRUE(WaitFor([&] { return form.Control(QStringLiteral("Panel8"))->isVisible(); }));
    }
    QCheckBox* Box(int mask, int k) { return form.ControlAs<QCheckBox>(QStringLiteral("M%1CB%2").arg(mask).arg(k)); }
    QWidget* Ok(int mask) { return form.Control(QStringLiteral("ButtonM%1").arg(mask)); }
    QString MaskText(int mask) { return form.ControlAs<QLineEdit>(QStringLiteral("EditMask%1").arg(mask))->text(); }
    // A click on the box's square: past the end of its caption a check box
    // does not take clicks.
    void ClickBox(int mask, int k)
    {
        QTest::mouseClick(Box(mask, k), Qt::LeftButton, {}, QPoint(5, Box(mask, k)->height() / 2));
    }
    bool WaitFor(const std::function<bool()>& what, int ms = 5000) { return QTest::qWaitFor(what, ms); }
    std::vector<Frame> Logged() { return LoggedFrames(logPath); }
    // Waits for a read of the masks that starts after this moment.
    bool NextMaskRead()
    {
        const size_t from = Logged().size();
        const Frame read = RelaySim::readRequest(1, 96, 12);
        return WaitFor([&] {
            const auto frames = Logged();
            for (size_t i = from; i + 1 < frames.size(); ++i)
                if (frames[i] == read)
                    return true;
            return false;
        });
    }
    QDateEdit* DPicker() { return form.ControlAs<QDateEdit>(QStringLiteral("DPicker")); }
    QTimeEdit* TPicker() { return form.ControlAs<QTimeEdit>(QStringLiteral("TPicker")); }
};

TEST_F(RelayWindow, ThreeMasksStandInTheirColumnsWithTheirBitTexts)
{
    Start({"--freeze", "--set", "96=0x8001", "--set", "97=0x0102", "--set", "107=0x4010"});
    EnterMasks();
    ASSERT_TRUE(WaitFor([&] { return MaskText(1) == "10000000 00000001"; }));
    EXPECT_EQ(MaskText(2), "01000000 00010000");   // register 107, the middle column
    EXPECT_EQ(MaskText(3), "00000001 00000010");   // register 97, the right-hand column
    for (int k = 1; k <= 15; ++k) {
        EXPECT_EQ(Box(1, k)->isChecked(), k == 1) << k;
        EXPECT_EQ(Box(2, k)->isChecked(), k == 5 || k == 15) << k;
        EXPECT_EQ(Box(3, k)->isChecked(), k == 2 || k == 9) << k;
        const bool userBit = k < 10 || k > 13;
        EXPECT_EQ(Box(1, k)->isEnabled(), userBit) << k;
        EXPECT_TRUE(Box(2, k)->isEnabled()) << k;
        EXPECT_EQ(Box(3, k)->isEnabled(), userBit) << k;
    }
    for (int m = 1; m <= 3; ++m)
        EXPECT_TRUE(Ok(m)->isHidden());
}

TEST_F(RelayWindow, BoxClickMarksOneCharacterAndOkWritesTheMaskThenReadsItBack)
{
    Start({"--freeze", "--set", "96=0", "--set", "97=0", "--set", "107=0"});
    EnterMasks();
    ASSERT_TRUE(WaitFor([&] { return MaskText(1) == "00000000 00000000"; }));
    ClickBox(1, 1);
    EXPECT_TRUE(Box(1, 1)->isChecked());
    EXPECT_EQ(MaskText(1), "00000000 00000001");
    EXPECT_TRUE(Ok(1)->isVisible());
    EXPECT_EQ(Box(1, 1)->property("Tag").toInt(), 111);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
    // The reads leave a mask under edit alone.
    ASSERT_TRUE(NextMaskRead());
    EXPECT_EQ(MaskText(1), "00000000 00000001");

    QTest::mouseClick(static_cast<QPushButton*>(Ok(1)), Qt::LeftButton);
    EXPECT_TRUE(Ok(1)->isHidden());
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    const Frame written = Writes(Logged()).front();
    EXPECT_EQ(written, (Frame{0x01, 0x06, 0x00, 0x60, 0x00, 0x01, written[6], written[7]}));
    EXPECT_EQ(written, WriteFrame(96, 1));
    ASSERT_TRUE(WaitFor([&] { return form.Exchanges().PollMode == 8; }));
    ASSERT_TRUE(NextMaskRead());
    EXPECT_EQ(MaskText(1), "00000000 00000001");
    EXPECT_TRUE(Box(1, 1)->isChecked());
    EXPECT_EQ(Writes(Logged()).size(), 1u);
}

TEST_F(RelayWindow, EditingAnotherMaskDropsTheFirstAndBitFifteenIsWrittenAsRead)
{
    Start({"--freeze", "--set", "96=0x8000", "--set", "97=0", "--set", "107=0"});
    EnterMasks();
    ASSERT_TRUE(WaitFor([&] { return MaskText(1) == "10000000 00000000"; }));
    ClickBox(1, 3);
    ClickBox(2, 1);
    EXPECT_TRUE(Ok(1)->isHidden());
    EXPECT_TRUE(Ok(2)->isVisible());
    ASSERT_TRUE(NextMaskRead());
    EXPECT_FALSE(Box(1, 3)->isChecked()) << "mask 1 follows the relay again";
    EXPECT_EQ(MaskText(1), "10000000 00000000");
    EXPECT_TRUE(Box(2, 1)->isChecked());
    EXPECT_EQ(MaskText(2), "00000000 00000001");

    // Checking and unchecking leaves the text, but the mask stays under edit.
    ClickBox(1, 2);
    ClickBox(1, 2);
    EXPECT_EQ(MaskText(1), "10000000 00000000");
    EXPECT_TRUE(Ok(1)->isVisible());
    ClickBox(1, 2);
    QTest::mouseClick(static_cast<QPushButton*>(Ok(1)), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    EXPECT_EQ(Writes(Logged()).front(), WriteFrame(96, 0x8002));
}

TEST_F(RelayWindow, RefusedMaskWriteEndsAndTheMasksAreReadAgain)
{
    Start({"--freeze", "--set", "107=0", "--refuse-writes", "107"});
    EnterMasks();
    ASSERT_TRUE(WaitFor([&] { return MaskText(2) == "00000000 00000000"; }));
    ClickBox(2, 4);
    QTest::mouseClick(static_cast<QPushButton*>(Ok(2)), Qt::LeftButton);
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    ASSERT_TRUE(WaitFor([&] { return form.Exchanges().PollMode == 8; }));
    ASSERT_TRUE(NextMaskRead());
    EXPECT_FALSE(Box(2, 4)->isChecked());
    EXPECT_EQ(Writes(Logged()).size(), 1u);
}

TEST(MasksClosed, ClicksWithThePortClosedChangeOnlyTheBox)
{
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ui.SelectPage(7);
    auto* box = form.ControlAs<QCheckBox>(QStringLiteral("M2CB4"));
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(box->property("Tag").toInt(), 0);
    EXPECT_TRUE(form.Control(QStringLiteral("ButtonM2"))->isHidden());
    EXPECT_TRUE(form.ControlAs<QLineEdit>(QStringLiteral("EditMask2"))->text().isEmpty());
    EXPECT_EQ(form.Exchanges().WriteMaskRequest, 0);
}

// ---- the relay's clock -------------------------------------------------------

const QDateTime kThirdOfMarch(QDate(2026, 3, 3), QTime(14, 5, 9));

std::vector<Frame> ClockWrites(const std::vector<Frame>& frames)
{
    std::vector<Frame> out;
    for (const Frame& f : Writes(frames))
        if (f[3] >= 67 && f[3] <= 71)
            out.push_back(f);
    return out;
}

const std::vector<Frame> kMarchWrites = {WriteFrame(67, 3), WriteFrame(68, 3), WriteFrame(69, 14),
                                         WriteFrame(70, 5), WriteFrame(71, 9)};

TEST_F(RelayWindow, SystemClockIsWrittenFieldByFieldAndPageZeroShowsTheRelaysNewClock)
{
    form.SetNow([] { return kThirdOfMarch; });
    Start({"--freeze"});
    ASSERT_TRUE(ui.Button("ButtonSys")->isVisible());
    ui.Click("ButtonSys");
    ASSERT_TRUE(WaitFor([&] { return ClockWrites(Logged()).size() == 5 && form.Exchanges().PollMode == 5; }));
    EXPECT_EQ(ClockWrites(Logged()), kMarchWrites);
    EXPECT_EQ(form.Exchanges().ClockStep, 0);
    ASSERT_TRUE(WaitFor([&] { return TPicker()->time() == QTime(14, 5, 9); }));
    EXPECT_EQ(DPicker()->date(), QDate(2026, 3, 3));
    // One write at a time: every write frame in the log follows the echo of
    // the one before, so none is sent twice.
    EXPECT_EQ(Writes(Logged()).size(), 5u);
}

TEST_F(RelayWindow, PickedMomentShowsButtonDtHoldsThePickersAndIsWrittenByIt)
{
    form.SetNow([] { return kThirdOfMarch; });
    Start({});   // the relay's clock ticks
    ASSERT_TRUE(WaitFor([&] { return DPicker()->isEnabled(); }));
    DPicker()->setFocus();
    DPicker()->setDate(QDate(2026, 7, 21));   // the user's pick: a change while the picker is live
    EXPECT_TRUE(ui.Button("ButtonDT")->isVisible());
    TPicker()->setTime(QTime(8, 30, 0));
    // Replies no longer move either picker.
    const size_t from = Logged().size();
    ASSERT_TRUE(WaitFor([&] { return Logged().size() > from + 10; }));
    EXPECT_EQ(DPicker()->date(), QDate(2026, 7, 21));
    EXPECT_EQ(TPicker()->time(), QTime(8, 30, 0));

    ui.Click("ButtonDT");
    EXPECT_TRUE(ui.Button("ButtonDT")->isHidden());
    ASSERT_TRUE(WaitFor([&] { return ClockWrites(Logged()).size() == 5 && form.Exchanges().PollMode == 5; }));
    EXPECT_EQ(ClockWrites(Logged()), (std::vector<Frame>{WriteFrame(67, 7), WriteFrame(68, 21), WriteFrame(69, 8),
                                                         WriteFrame(70, 30), WriteFrame(71, 0)}));
    // The pickers follow the relay again, from the moment just written.
    ASSERT_TRUE(WaitFor([&] { return DPicker()->date() == QDate(2026, 7, 21) && TPicker()->time() >= QTime(8, 30, 0)
                                     && TPicker()->time() < QTime(8, 31, 0); }));
}

// A page changed while the clock is being written: all five fields still
// reach the relay, then the new page's read takes over.
TEST_F(RelayWindow, PageChangeDuringTheClockWriteStillLandsAllFiveFields)
{
    form.SetNow([] { return kThirdOfMarch; });
    Start({"--freeze"});
    bool switched = false;
    QObject scope;   // the hook goes with this test's locals, before the fixture's window
    QObject::connect(form.Timer(), &QTimer::timeout, &scope, [&] {
        if (!switched && form.Link().Sent.IsWrite() && form.Link().Sent.Register() == 68) {
            switched = true;
            ui.SelectPage(2);   // also asks for the live block at once
        }
    });
    ui.Click("ButtonSys");
    ASSERT_TRUE(WaitFor([&] { return switched && form.Exchanges().PollMode == 1; }));
    EXPECT_EQ(ClockWrites(Logged()), kMarchWrites);
    const size_t from = Logged().size();
    ASSERT_TRUE(WaitFor([&] { return Logged().size() > from + 2; }));
    EXPECT_EQ(Logged().back()[1], 3);
    EXPECT_EQ(Writes(Logged()).size(), 5u);
}

TEST_F(RelayWindow, RefusedClockFieldEndsTheSequence)
{
    form.SetNow([] { return kThirdOfMarch; });
    Start({"--freeze", "--refuse-writes", "69"});
    ui.Click("ButtonSys");
    ASSERT_TRUE(WaitFor([&] { return ClockWrites(Logged()).size() == 3 && form.Exchanges().PollMode == 5; }));
    const size_t from = Logged().size();
    ASSERT_TRUE(WaitFor([&] { return Logged().size() > from + 3; }));
    EXPECT_EQ(ClockWrites(Logged()), (std::vector<Frame>{kMarchWrites[0], kMarchWrites[1], kMarchWrites[2]}));
    EXPECT_EQ(form.Exchanges().ClockStep, 0);
}

TEST_F(RelayWindow, LostLinkTakesTheClockControlsAwayAndDropsThePick)
{
    Start({"--freeze"});
    DPicker()->setFocus();
    DPicker()->setDate(QDate(2026, 7, 21));
    ASSERT_TRUE(ui.Button("ButtonDT")->isVisible());
    kill(sim->pid(), SIGSTOP);
    ASSERT_TRUE(WaitFor([&] { return form.Link().LinkLost(); }));
    EXPECT_TRUE(ui.Button("ButtonSys")->isHidden());
    EXPECT_TRUE(ui.Button("ButtonDT")->isHidden());
    EXPECT_FALSE(DPicker()->isEnabled());
    kill(sim->pid(), SIGCONT);
    ASSERT_TRUE(WaitFor([&] { return !form.Link().LinkLost() && DPicker()->isEnabled(); }));
    EXPECT_TRUE(ui.Button("ButtonSys")->isVisible());
    EXPECT_TRUE(ui.Button("ButtonDT")->isHidden()) << "stays hidden when the link returns";
}

}  // namespace
