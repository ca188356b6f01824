// Page switching: the request each page raises or withdraws, the content
// panel's blink, and the reset of a page entered without a link.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include "app/LedIndicator.h"
#include "exchanges/ExchangeFlags.h"
#include "app/SpinEdit.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

QWidget* Panel(TForm1& form, int page) { return form.Control(QStringLiteral("Panel%1").arg(page + 1)); }

TEST(PageSwitch, EachPageWithALinkSwitchesTheExchangeAndBlinksItsPanel)
{
    RelaySim sim({"--no-pace", "--freeze"});
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ASSERT_TRUE(ui.Open());

    struct Expect { int page, pollMode, context, record; };
    const Expect pages[] = {{1, 1, 12, -1}, {2, 1, 11, -1}, {3, 7, -1, 1}, {4, 7, -1, 2},
                            {5, 7, -1, 3}, {6, 7, -1, 4}, {7, 8, -1, -1}, {0, 5, -1, -1}};
    for (const Expect& e : pages) {
        ui.SelectPage(e.page);
        EXPECT_TRUE(Panel(form, e.page)->isHidden()) << "page " << e.page;
        if (e.context >= 0) {
            EXPECT_EQ(form.Exchanges().ExchangeContext, e.context) << "set at once, page " << e.page;
        }
        if (e.record >= 0) {
            EXPECT_EQ(form.Exchanges().ProtokolNumber, e.record);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return form.Exchanges().PollMode == e.pollMode; }, 3000)) << "page " << e.page;
        EXPECT_TRUE(QTest::qWaitFor([&] { return !Panel(form, e.page)->isHidden(); }, 3000));
        EXPECT_FALSE(form.Timer2()->isActive());
    }
    // The about page switches nothing; leaving it withdraws nothing.
    ui.SelectPage(8);
    QTest::qWait(400);
    EXPECT_EQ(form.Exchanges().PollMode, 5);
    ui.SelectPage(7);
    EXPECT_TRUE(QTest::qWaitFor([&] { return form.Exchanges().PollMode == 8; }, 3000));
    EXPECT_TRUE(boxes.shown.empty());
    ASSERT_TRUE(ui.Close());
}

// The handlers one after another with no receive event in between: the poll
// timer is stopped so that only the flags tell what would happen next.
struct HeldCycle : ::testing::Test {
    RelaySim sim{{"--silent"}};
    PortEnv env{1, sim.path()};
    MessageCatcher boxes;
    TForm1 form;
    WindowDriver ui{form};

    void SetUp() override
    {
        form.show();
        ui.Click("ButtonCOM");
        ASSERT_TRUE(form.ComPort()->Connected());
        form.Timer()->stop();
    }
    // Five exchanges go unanswered: asked of an address where nothing answers.
    void MissFive()
    {
        form.Session().SetSlaveAddress(99);
        for (int i = 0; i < 1000 && !form.Link().LinkLost(); ++i)
            form.Session().Tick();
        form.Session().SetSlaveAddress(1);
    }
    void Change(int from, int to)
    {
        form.PageControl1Changing(from);
        form.PageControl1Change(to);
    }
};

TEST_F(HeldCycle, PageLeftBeforeTheReceiveEventLeavesNoTrace)
{
    Change(0, 3);
    EXPECT_EQ(form.Exchanges().ReadProtokolRequest, 1);
    Change(3, 8);
    EXPECT_EQ(form.Exchanges().ReadProtokolRequest, 0);
    EXPECT_EQ(form.Exchanges().ReadParamRequest + form.Exchanges().ReadUstNastRequest + form.Exchanges().ReadMaskRequest, 0);

    Change(8, 1);
    Change(1, 2);
    EXPECT_EQ(form.Exchanges().ReadUstNastRequest, 1);
    EXPECT_EQ(form.Exchanges().ExchangeContext, 11);
    ApplyRequestFlags(form.Exchanges());
    EXPECT_EQ(form.Exchanges().PollMode, 1);
}

TEST_F(HeldCycle, TwoQuickChangesShowOnlyTheLastPanel)
{
    Change(0, 1);
    Change(1, 2);
    EXPECT_TRUE(Panel(form, 1)->isHidden());
    EXPECT_TRUE(Panel(form, 2)->isHidden());
    form.PageControl1()->SelectFromCode(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !form.Timer2()->isActive(); }, 2000));
    EXPECT_FALSE(Panel(form, 2)->isHidden());
    EXPECT_TRUE(Panel(form, 1)->isHidden()) << "stays hidden until entered again with a link";
    Change(2, 1);
    form.PageControl1()->SelectFromCode(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !Panel(form, 1)->isHidden(); }, 2000));
}

TEST_F(HeldCycle, FiveMissesMakeAPageChangeActAsWithoutALink)
{
    MissFive();
    ASSERT_TRUE(form.Link().LinkLost());
    auto* spin = form.ControlAs<TSpinEdit>(QStringLiteral("SE3"));
    spin->SetValue(1234);
    Change(0, 1);
    EXPECT_EQ(form.Exchanges().ReadUstNastRequest, 0);
    EXPECT_FALSE(Panel(form, 1)->isHidden());
    EXPECT_FALSE(form.Timer2()->isActive());
    EXPECT_EQ(spin->Value(), 0);
}

TEST(PageSwitch, PagesEnteredWithoutALinkAreResetAndAskForNothing)
{
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    auto spin = [&](const QString& n) { return form.ControlAs<TSpinEdit>(n); };
    auto edit = [&](const QString& n) { return form.ControlAs<QLineEdit>(n); };

    spin("SE0")->SetValue(500);
    spin("SE22")->SetValue(7);
    spin("NSE1")->SetValue(100);
    spin("NSE21")->SetValue(3);
    edit("EditA")->setText("12");
    form.ControlAs<QComboBox>(QStringLiteral("CB4"))->setCurrentIndex(3);
    edit("P2E1")->setText("1");
    edit("P2E11")->setText("11");
    edit("P2E12")->setText("12");
    edit("DataP2")->setText("01.02");
    form.ControlAs<TLedIndicator>(QStringLiteral("P2L3"))->SetChecked(true);
    form.ControlAs<TLedIndicator>(QStringLiteral("P2L16"))->SetChecked(true);
    edit("EditMask2")->setText("00000000 00000001");
    form.ControlAs<QCheckBox>(QStringLiteral("M2CB1"))->setChecked(true);
    form.Control(QStringLiteral("ButtonM2"))->setVisible(true);
    edit("E5")->setText("99");

    ui.SelectPage(1);
    EXPECT_EQ(spin("SE0")->Value(), 0);
    EXPECT_EQ(spin("SE22")->Value(), 0);
    ui.SelectPage(2);
    EXPECT_EQ(spin("NSE1")->Value(), 1);
    EXPECT_EQ(spin("NSE21")->Value(), 0);
    EXPECT_TRUE(edit("EditA")->text().isEmpty());
    EXPECT_EQ(form.ControlAs<QComboBox>(QStringLiteral("CB4"))->currentIndex(), -1);
    ui.SelectPage(4);
    EXPECT_TRUE(edit("P2E1")->text().isEmpty());
    EXPECT_TRUE(edit("P2E11")->text().isEmpty());
    EXPECT_TRUE(edit("DataP2")->text().isEmpty());
    EXPECT_EQ(edit("P2E12")->text(), "12") << "the start time stays";
    EXPECT_FALSE(form.ControlAs<TLedIndicator>(QStringLiteral("P2L3"))->Checked());
    EXPECT_TRUE(form.ControlAs<TLedIndicator>(QStringLiteral("P2L16"))->Checked());
    ui.SelectPage(7);
    EXPECT_TRUE(edit("EditMask2")->text().isEmpty());
    EXPECT_FALSE(form.ControlAs<QCheckBox>(QStringLiteral("M2CB1"))->isChecked());
    EXPECT_TRUE(form.Control(QStringLiteral("ButtonM2"))->isHidden());
    ui.SelectPage(0);
    EXPECT_TRUE(edit("E5")->text().isEmpty());

    EXPECT_EQ(form.Exchanges().ReadParamRequest + form.Exchanges().ReadUstNastRequest + form.Exchanges().ReadProtokolRequest
                  + form.Exchanges().ReadMaskRequest, 0);
    EXPECT_FALSE(form.Timer2()->isActive());
    for (int p = 0; p < 8; ++p)
        EXPECT_FALSE(Panel(form, p)->isHidden());
}

TEST(PageSwitch, LeavingAPageTakesTheFocusAway)
{
    TForm1 form;
    form.show();
    QApplication::setActiveWindow(&form);
    WindowDriver ui{form};
    ui.SelectPage(1);
    auto* spin = form.ControlAs<TSpinEdit>(QStringLiteral("SE5"));
    spin->setFocus();
    ASSERT_TRUE(QTest::qWaitFor([&] { return spin->hasFocus(); }, 1000));
    ui.SelectPage(2);
    EXPECT_EQ(QApplication::focusWidget(), nullptr);
}

// The value fields and the clocks paint their rectangles whole, corners too:
// the page under them is not painted again.
TEST(PageSwitch, LiveControlsPaintTheirCornersOverThePage)
{
    TForm1 form;
    form.show();
    WindowDriver{form}.SelectPage(0);
    const QImage pane = form.PageControl1()->grab().toImage();
    for (const char* name : {"DPicker", "TPicker", "LabelDT", "E0", "E6", "E12"}) {
        const QWidget* c = form.Control(QString::fromLatin1(name));
        ASSERT_TRUE(c && c->isVisible()) << name;
        const QRect r(c->mapTo(form.PageControl1(), QPoint(0, 0)), c->size());
        for (const QPoint corner : {r.topLeft(), r.topRight(), r.bottomLeft(), r.bottomRight()})
            EXPECT_EQ(pane.pixelColor(corner).alpha(), 255) << name;
    }
}

}  // namespace
