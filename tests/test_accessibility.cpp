// What an assistive tool reads from the self-drawn lamps through QAccessible:
// the caption as the name, "on"/"off" as the value, lit as the checked state.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QGroupBox>
#include <QTest>

#include <vector>

#include "app/ComLed.h"
#include "app/LampAccessibility.h"
#include "app/LedIndicator.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

QAccessibleInterface* Accessible(QWidget* widget)
{
    return QAccessible::queryAccessibleInterface(widget);
}

// What a screen reader says for a lamp: "name: value".
QString Spoken(QWidget* widget)
{
    QAccessibleInterface* iface = Accessible(widget);
    if (!iface)
        return QString();
    return iface->text(QAccessible::Name) + QStringLiteral(": ") + iface->text(QAccessible::Value);
}

// Collects the lamps' announcements while it lives.
class EventRecorder {
public:
    struct Seen {
        QObject* object;
        QAccessible::Event type;
        QAccessible::State changed;
    };

    EventRecorder()
    {
        SetLampEventHook([this](QAccessibleEvent& event) {
            Seen s{event.object(), event.type(), {}};
            if (event.type() == QAccessible::StateChanged)
                s.changed = static_cast<QAccessibleStateChangeEvent&>(event).changedStates();
            seen.push_back(s);
        });
    }
    ~EventRecorder() { SetLampEventHook({}); }

    std::vector<Seen> seen;
};

const std::vector<std::string> kFrozen = {"--no-pace", "--freeze", "--set", "66=0x0001"};

}  // namespace

TEST(LampAccessibility, StatusLampTellsItsCaptionAndWhetherItIsLit)
{
    QWidget parent;
    auto* lamp = new TLedIndicator(&parent);
    lamp->SetCaption(QStringLiteral("Отсечка"));
    parent.show();

    QAccessibleInterface* iface = Accessible(lamp);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Indicator);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Отсечка"));
    EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("off"));
    EXPECT_EQ(Spoken(lamp), QStringLiteral("Отсечка: off"));
    QAccessible::State state = iface->state();
    EXPECT_TRUE(state.checkable);
    EXPECT_FALSE(state.checked);
    EXPECT_TRUE(state.readOnly);
    EXPECT_FALSE(state.focusable);

    lamp->SetChecked(true);
    EXPECT_EQ(Spoken(lamp), QStringLiteral("Отсечка: on"));
    EXPECT_TRUE(Accessible(lamp)->state().checked);

    lamp->SetChecked(false);
    EXPECT_EQ(Spoken(lamp), QStringLiteral("Отсечка: off"));
    EXPECT_FALSE(Accessible(lamp)->state().checked);

    EXPECT_EQ(iface->parent(), Accessible(&parent));
    EXPECT_EQ(iface->window(), parent.windowHandle());
}

TEST(LampAccessibility, CaptionChangesAndAnAccessibleNameGivenByHandAreRead)
{
    TLedIndicator lamp;
    lamp.SetCaption(QStringLiteral("Пульсация"));
    EXPECT_EQ(Accessible(&lamp)->text(QAccessible::Name), QStringLiteral("Пульсация"));
    lamp.SetCaption(QStringLiteral("Перегрузка"));
    EXPECT_EQ(Accessible(&lamp)->text(QAccessible::Name), QStringLiteral("Перегрузка"));
    lamp.setAccessibleName(QStringLiteral("Лампа перегрузки"));
    EXPECT_EQ(Accessible(&lamp)->text(QAccessible::Name), QStringLiteral("Лампа перегрузки"));
    lamp.setAccessibleDescription(QStringLiteral("бит 3 статусного регистра"));
    EXPECT_EQ(Accessible(&lamp)->text(QAccessible::Description),
              QStringLiteral("бит 3 статусного регистра"));
}

TEST(LampAccessibility, LampsThatReactToTheMouseAreOfferedAsWhatTheyActLike)
{
    TLedIndicator lamp;
    lamp.Mode = TLedIndicator::mSwitch;
    EXPECT_EQ(Accessible(&lamp)->role(), QAccessible::CheckBox);
    EXPECT_FALSE(Accessible(&lamp)->state().readOnly);
    lamp.Mode = TLedIndicator::mButton;
    EXPECT_EQ(Accessible(&lamp)->role(), QAccessible::CheckBox);
    lamp.Mode = TLedIndicator::mRadioButton;
    EXPECT_EQ(Accessible(&lamp)->role(), QAccessible::RadioButton);
    lamp.Mode = TLedIndicator::mIndicator;
    EXPECT_EQ(Accessible(&lamp)->role(), QAccessible::Indicator);
    EXPECT_TRUE(Accessible(&lamp)->state().readOnly);
}

TEST(LampAccessibility, PortLampIsNamedByItsSignalAndReadsWhatItShows)
{
    TComLed led;
    QAccessibleInterface* iface = Accessible(&led);
    ASSERT_NE(iface, nullptr);
    EXPECT_EQ(iface->role(), QAccessible::Indicator);
    EXPECT_EQ(Spoken(&led), QStringLiteral("СОМ-порт: off"));
    EXPECT_TRUE(iface->state().checkable);
    EXPECT_TRUE(iface->state().readOnly);

    led.SetState(lsOn);   // no port bound: the state may be set
    EXPECT_EQ(Spoken(&led), QStringLiteral("СОМ-порт: on"));
    EXPECT_TRUE(iface->state().checked);

    // A disabled lamp shows dark, and says so.
    led.setEnabled(false);
    EXPECT_EQ(Spoken(&led), QStringLiteral("СОМ-порт: off"));
    EXPECT_FALSE(iface->state().checked);
    EXPECT_TRUE(iface->state().disabled);
    led.setEnabled(true);

    led.SetLedSignal(lsRx);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Приём"));
    led.SetLedSignal(lsCTS);
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("CTS"));
    led.setAccessibleName(QStringLiteral("Порт"));
    EXPECT_EQ(iface->text(QAccessible::Name), QStringLiteral("Порт"));
}

TEST(LampAccessibility, StateAndCaptionChangesAreAnnounced)
{
    EventRecorder events;
    TLedIndicator lamp;
    lamp.SetCaption(QStringLiteral("Несимметрия"));
    lamp.SetChecked(true);
    lamp.SetChecked(true);   // unchanged: nothing to announce
    lamp.SetChecked(false);
    TComLed led;
    led.SetState(lsOn);

    int lampStates = 0, lampNames = 0, ledStates = 0;
    for (const auto& seen : events.seen) {
        if (seen.object == &lamp && seen.type == QAccessible::StateChanged && seen.changed.checked)
            ++lampStates;
        if (seen.object == &lamp && seen.type == QAccessible::NameChanged)
            ++lampNames;
        if (seen.object == &led && seen.type == QAccessible::StateChanged && seen.changed.checked)
            ++ledStates;
    }
    EXPECT_EQ(lampStates, 2);
    EXPECT_EQ(lampNames, 1);
    EXPECT_EQ(ledStates, 1);
}

TEST(LampAccessibility, NothingIsAnnouncedWhileNoAssistiveToolListens)
{
    // The offscreen test platform has no assistive tool: announcing must be
    // harmless and leave the lamps as they were.
    ASSERT_FALSE(QAccessible::isActive());
    TLedIndicator lamp;
    lamp.SetCaption(QStringLiteral("Холостой ход"));
    lamp.SetChecked(true);
    NotifyLampStateChanged(&lamp);
    NotifyLampNameChanged(&lamp);
    EXPECT_EQ(Spoken(&lamp), QStringLiteral("Холостой ход: on"));
}

TEST(LampAccessibility, EveryLampOfTheWindowHasItsCaptionAsName)
{
    TForm1 form;
    form.show();
    const QList<TLedIndicator*> lamps = form.findChildren<TLedIndicator*>();
    EXPECT_EQ(lamps.size(), 79);
    for (TLedIndicator* lamp : lamps) {
        QAccessibleInterface* iface = Accessible(lamp);
        ASSERT_NE(iface, nullptr) << lamp->objectName().toStdString();
        EXPECT_FALSE(lamp->Caption().isEmpty()) << lamp->objectName().toStdString();
        EXPECT_EQ(iface->text(QAccessible::Name), lamp->Caption()) << lamp->objectName().toStdString();
        EXPECT_EQ(iface->text(QAccessible::Value), QStringLiteral("off"));
    }
    // The lamps are reachable from the window, as a screen reader walks it.
    auto* group = form.ControlAs<QGroupBox>(QStringLiteral("GroupBox1"));
    ASSERT_NE(group, nullptr);
    auto* l0 = form.ControlAs<TLedIndicator>(QStringLiteral("L0"));
    ASSERT_NE(l0, nullptr);
    QAccessibleInterface* groupIface = Accessible(group);
    EXPECT_GE(groupIface->indexOfChild(Accessible(l0)), 0);
}

TEST(LampAccessibility, WindowLampsReadOnWhileThePortIsOpenAndTheRelaySetsTheBit)
{
    RelaySim sim(kFrozen);
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    auto* comLed = form.ControlAs<TComLed>(QStringLiteral("ComLed"));
    auto* l0 = form.ControlAs<TLedIndicator>(QStringLiteral("L0"));
    ASSERT_NE(comLed, nullptr);
    ASSERT_NE(l0, nullptr);
    EXPECT_EQ(Spoken(comLed), QStringLiteral("СОМ-порт: off"));

    ASSERT_TRUE(ui.Open());
    EXPECT_EQ(Spoken(comLed), QStringLiteral("СОМ-порт: on"));
    // Status word 0x0001: bit 0, "Отсечка", lit.
    EXPECT_TRUE(QTest::qWaitFor([&] { return l0->Checked(); }, 5000));
    EXPECT_EQ(Spoken(l0), QStringLiteral("Отсечка: on"));

    ASSERT_TRUE(ui.Close());
    EXPECT_EQ(Spoken(comLed), QStringLiteral("СОМ-порт: off"));
    EXPECT_EQ(Spoken(l0), QStringLiteral("Отсечка: off"));
    EXPECT_TRUE(boxes.shown.empty());
}
