// The window's own widgets: the spin edit and the page control.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QTimeEdit>
#include <QWheelEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>
#include <QToolButton>
#include <QVBoxLayout>

#include <memory>

#include "app/PageControl.h"
#include "app/PaneFill.h"
#include "app/ValueFieldStyle.h"
#include "app/SpinEdit.h"
#include "app/WindowLayout.h"

namespace {

// A shown, active window holding the control under test and a second field
// to take the focus away to.
class Host {
public:
    Host()
    {
        window_.setLayout(new QVBoxLayout);
        other_ = new QLineEdit(&window_);
        other_->setObjectName(QStringLiteral("other"));
    }

    template <class W>
    W* Add(W* widget)
    {
        window_.layout()->addWidget(widget);
        return widget;
    }

    bool Show()
    {
        window_.layout()->addWidget(other_);
        window_.show();
        window_.activateWindow();
        return QTest::qWaitForWindowActive(&window_);
    }

    void FocusAway() { other_->setFocus(Qt::TabFocusReason); }
    QWidget& Window() { return window_; }

private:
    QWidget window_;
    QLineEdit* other_ = nullptr;
};

TSpinEdit* MakeSpin(int min, int max, int maxLength, int increment = 1)
{
    auto* spin = new TSpinEdit;
    spin->SetMinValue(min);
    spin->SetMaxValue(max);
    spin->SetMaxLength(maxLength);
    spin->SetIncrement(increment);
    spin->SetValue(min);
    return spin;
}

// ---------------------------------------------------------------- TSpinEdit

TEST(SpinEdit, RangeIsEnforcedOnLeavingNotWhileTyping)
{
    Host host;
    TSpinEdit* spin = host.Add(MakeSpin(0, 65535, 5));
    ASSERT_TRUE(host.Show());
    spin->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(spin->hasFocus());
    spin->clear();

    QTest::keyClicks(spin, QStringLiteral("70000"));
    EXPECT_EQ(spin->text(), QStringLiteral("70000"));
    EXPECT_EQ(spin->Value(), 70000);   // the number as typed, out of range

    QSignalSpy exited(spin, &TSpinEdit::exited);
    host.FocusAway();
    ASSERT_FALSE(spin->hasFocus());
    EXPECT_EQ(spin->text(), QStringLiteral("65535"));
    EXPECT_EQ(spin->Value(), 65535);
    EXPECT_EQ(exited.count(), 1);

    // A number in range and an empty field are left as they are.
    spin->setFocus(Qt::TabFocusReason);
    spin->setText(QStringLiteral("123"));
    host.FocusAway();
    EXPECT_EQ(spin->text(), QStringLiteral("123"));
    spin->setFocus(Qt::TabFocusReason);
    spin->clear();
    host.FocusAway();
    EXPECT_EQ(spin->text(), QString());
}

TEST(SpinEdit, TypingIsLimitedToMaxLengthAndWholeNumbers)
{
    Host host;
    TSpinEdit* spin = host.Add(MakeSpin(0, 65535, 5));
    ASSERT_TRUE(host.Show());
    spin->setFocus(Qt::TabFocusReason);
    spin->clear();

    QTest::keyClicks(spin, QStringLiteral("1234567"));
    EXPECT_EQ(spin->text(), QStringLiteral("12345"));

    spin->clear();
    QTest::keyClicks(spin, QStringLiteral("1a-2 +3"));
    EXPECT_EQ(spin->text(), QStringLiteral("123"));

    spin->clear();
    QTest::keyClicks(spin, QStringLiteral("-12"));
    EXPECT_EQ(spin->text(), QStringLiteral("-12"));
    EXPECT_EQ(spin->Value(), -12);
    host.FocusAway();
    EXPECT_EQ(spin->text(), QStringLiteral("0"));
}

TEST(SpinEdit, ValueOfTextThatIsNoNumberIsTheMinimum)
{
    std::unique_ptr<TSpinEdit> spin(MakeSpin(1, 246, 5));
    spin->setText(QString());
    EXPECT_EQ(spin->Value(), 1);
    spin->setText(QStringLiteral("-"));
    EXPECT_EQ(spin->Value(), 1);
    spin->setText(QStringLiteral("abc"));
    EXPECT_EQ(spin->Value(), 1);
    spin->setText(QStringLiteral("300"));
    EXPECT_EQ(spin->Value(), 300);
}

TEST(SpinEdit, SetValueClampsUnlessTheRangeIsEmpty)
{
    std::unique_ptr<TSpinEdit> spin(MakeSpin(1, 246, 5));
    spin->SetValue(300);
    EXPECT_EQ(spin->text(), QStringLiteral("246"));
    spin->SetValue(0);
    EXPECT_EQ(spin->text(), QStringLiteral("1"));
    spin->SetValue(65535);
    EXPECT_EQ(spin->Value(), 246);

    // With MaxValue equal to MinValue there is no range to keep.
    spin->SetMinValue(0);
    spin->SetMaxValue(0);
    spin->SetValue(70000);
    EXPECT_EQ(spin->text(), QStringLiteral("70000"));
}

TEST(SpinEdit, UpAndDownStepByIncrementWithinTheRange)
{
    Host host;
    TSpinEdit* spin = host.Add(MakeSpin(0, 65535, 5, 10));
    ASSERT_TRUE(host.Show());
    spin->setFocus(Qt::TabFocusReason);

    spin->SetValue(100);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 110);
    QTest::keyClick(spin, Qt::Key_Down);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->Value(), 90);

    spin->SetValue(65530);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 65535);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->Value(), 65535);
    spin->SetValue(5);
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->Value(), 0);

    // Stepping from a typed value out of range lands inside it.
    spin->setText(QStringLiteral("70000"));
    QTest::keyClick(spin, Qt::Key_Down);
    EXPECT_EQ(spin->Value(), 65535);

    // The key still reaches whoever listens for it, after the step.
    QList<int> seen;
    QObject::connect(spin, &TSpinEdit::keyDown, spin,
                     [&](QKeyEvent* event) { seen << event->key() << spin->Value(); });
    spin->SetValue(0);
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(seen, QList<int>({Qt::Key_Up, 10}));
}

TEST(SpinEdit, ButtonsStepAndTakeTheFocus)
{
    Host host;
    TSpinEdit* spin = host.Add(MakeSpin(0, 65535, 5));
    ASSERT_TRUE(host.Show());
    host.FocusAway();
    spin->SetValue(7);

    QTest::mouseClick(spin->UpButton(), Qt::LeftButton);
    EXPECT_EQ(spin->Value(), 8);
    EXPECT_TRUE(spin->hasFocus());
    QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
    QTest::mouseClick(spin->DownButton(), Qt::LeftButton);
    EXPECT_EQ(spin->Value(), 6);

    // The buttons sit inside the field at its right edge.
    EXPECT_EQ(spin->UpButton()->parentWidget(), spin);
    EXPECT_LE(spin->UpButton()->geometry().right(), spin->width() - 1);
    EXPECT_LT(spin->UpButton()->geometry().bottom(), spin->DownButton()->geometry().top());
}

TEST(SpinEdit, ValueChangedFollowsTheText)
{
    Host host;
    TSpinEdit* spin = host.Add(MakeSpin(0, 65535, 5));
    ASSERT_TRUE(host.Show());
    spin->setFocus(Qt::TabFocusReason);
    QSignalSpy changed(spin, &TSpinEdit::valueChanged);

    spin->SetValue(42);
    EXPECT_EQ(changed.count(), 1);
    spin->SetValue(42);                 // same text: no change
    EXPECT_EQ(changed.count(), 1);
    QTest::keyClick(spin, Qt::Key_Backspace);
    EXPECT_EQ(changed.count(), 2);
    QTest::keyClick(spin, Qt::Key_Up);  // "4" to "5"
    EXPECT_EQ(changed.count(), 3);
}

// The address and configuration controls as the window builds them.
TEST(SpinEdit, AddressControlsOfTheWindow)
{
    QWidget form;
    WindowControls controls;
    BuildWindowLayout(&form, controls);
    form.show();
    form.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&form));

    auto* address = controls.Get<TSpinEdit>(QStringLiteral("SEAddres"));
    ASSERT_NE(address, nullptr);
    controls.PageControl1->SelectFromCode(0);
    address->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(address->hasFocus());
    address->selectAll();
    QTest::keyClicks(address, QStringLiteral("9999"));
    EXPECT_EQ(address->text(), QStringLiteral("999"));
    controls.Get<QWidget>(QStringLiteral("ButtonCOM"))->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(address->text(), QStringLiteral("247"));

    // The relay's own address stops at 246.
    auto* own = controls.Get<TSpinEdit>(QStringLiteral("NSE1"));
    ASSERT_NE(own, nullptr);
    controls.PageControl1->SelectFromCode(2);
    own->setFocus(Qt::TabFocusReason);
    own->SetValue(245);
    QTest::keyClick(own, Qt::Key_Up);
    QTest::keyClick(own, Qt::Key_Up);
    EXPECT_EQ(own->Value(), 246);
    own->SetValue(0);
    EXPECT_EQ(own->Value(), 1);

    // A setpoint refuses a sixth character.
    auto* setpoint = controls.Get<TSpinEdit>(QStringLiteral("SE3"));
    controls.PageControl1->SelectFromCode(1);
    setpoint->setFocus(Qt::TabFocusReason);
    setpoint->selectAll();
    QTest::keyClicks(setpoint, QStringLiteral("123456"));
    EXPECT_EQ(setpoint->text(), QStringLiteral("12345"));

    // The two relay-state boxes list the same words in opposite orders.
    auto* cb2 = controls.Get<QComboBox>(QStringLiteral("CB2"));
    auto* cb3 = controls.Get<QComboBox>(QStringLiteral("CB3"));
    ASSERT_NE(cb2, nullptr);
    ASSERT_NE(cb3, nullptr);
    ASSERT_EQ(cb2->count(), 2);
    ASSERT_EQ(cb3->count(), 2);
    EXPECT_EQ(cb2->itemText(0), QStringLiteral("включено"));
    EXPECT_EQ(cb2->itemText(1), QStringLiteral("отключено"));
    EXPECT_EQ(cb3->itemText(0), QStringLiteral("отключено"));
    EXPECT_EQ(cb3->itemText(1), QStringLiteral("включено"));
}

// ------------------------------------------------------------- TPageControl

class PageControlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        pc_ = host_.Add(new TPageControl);
        for (int i = 0; i < 4; ++i)
            pc_->AddPage(new QWidget, QStringLiteral("Page %1").arg(i));
        changing_ = std::make_unique<QSignalSpy>(pc_, &TPageControl::changing);
        changed_ = std::make_unique<QSignalSpy>(pc_, &TPageControl::changed);
        order_.clear();
        connect(pc_, &TPageControl::changing, [this](int i) { order_ << QStringLiteral("changing %1").arg(i); });
        connect(pc_, &TPageControl::changed, [this](int i) { order_ << QStringLiteral("changed %1").arg(i); });
        ASSERT_TRUE(host_.Show());
    }

    template <class F>
    void connect(TPageControl* sender, void (TPageControl::*signal)(int), F f)
    {
        QObject::connect(sender, signal, &host_.Window(), f);
    }

    void ClickTab(int index)
    {
        QTabBar* bar = pc_->tabBar();
        QTest::mouseClick(bar, Qt::LeftButton, Qt::NoModifier, bar->tabRect(index).center());
    }

    Host host_;
    TPageControl* pc_ = nullptr;
    std::unique_ptr<QSignalSpy> changing_, changed_;
    QStringList order_;
};

TEST_F(PageControlTest, AddingPagesRaisesNothing)
{
    EXPECT_EQ(pc_->currentIndex(), 0);
    EXPECT_EQ(changing_->count(), 0);
    EXPECT_EQ(changed_->count(), 0);
}

TEST_F(PageControlTest, ClickOnATabRaisesChangingThenChanged)
{
    ClickTab(2);
    EXPECT_EQ(pc_->currentIndex(), 2);
    EXPECT_EQ(order_, QStringList({QStringLiteral("changing 0"), QStringLiteral("changed 2")}));

    // A click on the tab already shown changes nothing.
    ClickTab(2);
    EXPECT_EQ(order_.size(), 2);
}

TEST_F(PageControlTest, KeyboardOnTheTabBarRaisesChangingThenChanged)
{
    QTest::keyClick(pc_->tabBar(), Qt::Key_Right);
    EXPECT_EQ(pc_->currentIndex(), 1);
    QTest::keyClick(pc_, Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(pc_->currentIndex(), 2);
    EXPECT_EQ(order_, QStringList({QStringLiteral("changing 0"), QStringLiteral("changed 1"),
                                   QStringLiteral("changing 1"), QStringLiteral("changed 2")}));
}

TEST_F(PageControlTest, WheelOnTheTabBarRaisesChangingThenChanged)
{
    QTabBar* bar = pc_->tabBar();
    const QPointF at = bar->tabRect(0).center();
    QWheelEvent wheel(at, bar->mapToGlobal(at), QPoint(), QPoint(0, -120), Qt::NoButton, Qt::NoModifier,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(bar, &wheel);
    EXPECT_EQ(pc_->currentIndex(), 1);
    EXPECT_EQ(order_, QStringList({QStringLiteral("changing 0"), QStringLiteral("changed 1")}));
}

TEST_F(PageControlTest, SelectingFromCodeRaisesNothingAndIsTheNextLeavingPage)
{
    pc_->SelectFromCode(3);
    EXPECT_EQ(pc_->currentIndex(), 3);
    pc_->SelectFromCode(1);
    EXPECT_EQ(pc_->currentIndex(), 1);
    EXPECT_TRUE(order_.isEmpty());

    ClickTab(0);
    EXPECT_EQ(order_, QStringList({QStringLiteral("changing 1"), QStringLiteral("changed 0")}));
}

TEST(PageControl, WindowStartsOnPageTwoWithNineTabs)
{
    QWidget form;
    WindowControls controls;
    BuildWindowLayout(&form, controls);
    TPageControl* pc = controls.PageControl1;
    ASSERT_NE(pc, nullptr);
    EXPECT_EQ(pc->currentIndex(), 2);
    EXPECT_EQ(pc->count(), 9);
    EXPECT_EQ(pc->tabText(8), QStringLiteral("    ?"));

    // All tabs lie in one row inside the window.
    form.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
    const QTabBar* bar = pc->tabBar();
    EXPECT_LE(bar->tabRect(8).right(), form.width() - 1);
    for (int i = 1; i < 9; ++i)
        EXPECT_EQ(bar->tabRect(i).top(), bar->tabRect(0).top());
}

}  // namespace

// The copied panels of the value fields and the page's fill behind the
// fields and the clocks change no pixel: each control on a page, as the style paints it and
// as the window does, enabled and then disabled.
TEST(PagePictures, CopiedPanelsAndThePagesFillChangeNothing)
{
    ValueFieldStyle fieldStyle(nullptr);
    for (const char* kind : {"QLineEdit", "QLabel", "QTimeEdit"}) {
        SCOPED_TRACE(kind);
        QImage pictures[2][2];
        for (const bool ours : {false, true}) {
            QTabWidget tabs;
            auto* page = new QWidget;
            tabs.addTab(page, QStringLiteral("Текущие параметры"));
            tabs.resize(240, 90);
            QWidget* control = kind == QLatin1String("QLineEdit") ? new QLineEdit(QStringLiteral("4321"), page)
                : kind == QLatin1String("QLabel") ? new QLabel(QStringLiteral("08.12.2026 12:00:00"), page)
                                                  : static_cast<QWidget*>(new QTimeEdit(QTime(10, 0, 5), page));
            control->setGeometry(20, 20, 140, 23);
            tabs.show();   // lays the page out: a hidden pane grabs its tab bar alone
            if (ours && kind == QLatin1String("QLineEdit"))
                control->setStyle(&fieldStyle);
            if (ours)
                PaintPaneFillBehind(control, &tabs);
            for (const bool enabled : {true, false}) {
                control->setEnabled(enabled);
                pictures[ours][enabled] = tabs.grab().toImage();
            }
        }
        EXPECT_EQ(pictures[0][1], pictures[1][1]);
        EXPECT_EQ(pictures[0][0], pictures[1][0]);
    }
}
