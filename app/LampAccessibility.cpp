#include "app/LampAccessibility.h"

#include <QAccessible>
#include <QAccessibleWidget>

#include <utility>

#include "app/ComLed.h"
#include "app/LedIndicator.h"

const char* const kLampOnText = "on";
const char* const kLampOffText = "off";

namespace {

std::function<void(QAccessibleEvent&)>& EventHook()
{
    static std::function<void(QAccessibleEvent&)> hook;
    return hook;
}

// Nothing is made when nobody listens: the lamps of a polling window change
// many times a second.
bool Listened()
{
    return EventHook() || QAccessible::isActive();
}

void Announce(QAccessibleEvent& event)
{
    if (EventHook())
        EventHook()(event);
    else
        QAccessible::updateAccessibility(&event);
}

QString LitText(bool lit)
{
    return QString::fromLatin1(lit ? kLampOnText : kLampOffText);
}

// A lamp with a caption. The window's lamps are plain indicators; the
// switch, button and radio modes are offered as the controls they act like.
class LedIndicatorAccessible : public QAccessibleWidget {
public:
    explicit LedIndicatorAccessible(TLedIndicator* lamp)
        : QAccessibleWidget(lamp, QAccessible::Indicator)
    {
    }

    QAccessible::Role role() const override
    {
        switch (lamp()->Mode) {
        case TLedIndicator::mSwitch:
        case TLedIndicator::mButton: return QAccessible::CheckBox;
        case TLedIndicator::mRadioButton: return QAccessible::RadioButton;
        case TLedIndicator::mIndicator: break;
        }
        return QAccessible::Indicator;
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = lamp()->Checked();
        s.readOnly = lamp()->Mode == TLedIndicator::mIndicator;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: {
            const QString set = widget()->accessibleName();
            return set.isEmpty() ? lamp()->Caption() : set;
        }
        case QAccessible::Value: return LitText(lamp()->Checked());
        default: return QAccessibleWidget::text(t);
        }
    }

private:
    TLedIndicator* lamp() const { return static_cast<TLedIndicator*>(widget()); }
};

// The port lamp has no caption of its own: its name tells which line state
// it follows. Its value is what it shows: a disabled lamp shows dark.
class ComLedAccessible : public QAccessibleWidget {
public:
    explicit ComLedAccessible(TComLed* lamp) : QAccessibleWidget(lamp, QAccessible::Indicator) {}

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.checkable = true;
        s.checked = lamp()->ShowsLitPicture();
        s.readOnly = true;
        return s;
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name: {
            const QString set = widget()->accessibleName();
            return set.isEmpty() ? SignalName(lamp()->LedSignal()) : set;
        }
        case QAccessible::Value: return LitText(lamp()->ShowsLitPicture());
        default: return QAccessibleWidget::text(t);
        }
    }

private:
    static QString SignalName(TComLedSignal signal)
    {
        switch (signal) {
        case lsConn: return QStringLiteral("СОМ-порт");
        case lsCTS: return QStringLiteral("CTS");
        case lsDSR: return QStringLiteral("DSR");
        case lsRLSD: return QStringLiteral("RLSD");
        case lsRing: return QStringLiteral("RING");
        case lsRx: return QStringLiteral("Приём");
        case lsTx: return QStringLiteral("Передача");
        }
        return QString();
    }

    TComLed* lamp() const { return static_cast<TComLed*>(widget()); }
};

QAccessibleInterface* LampFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TLedIndicator")) {
        if (auto* lamp = qobject_cast<TLedIndicator*>(object))
            return new LedIndicatorAccessible(lamp);
    } else if (className == QLatin1String("TComLed")) {
        if (auto* lamp = qobject_cast<TComLed*>(object))
            return new ComLedAccessible(lamp);
    }
    return nullptr;
}

}  // namespace

void InstallLampAccessibility()
{
    static const bool installed = [] {
        QAccessible::installFactory(LampFactory);
        return true;
    }();
    (void)installed;
}

void NotifyLampStateChanged(QWidget* lamp)
{
    if (!Listened())
        return;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(lamp, changed);
    Announce(event);
}

void NotifyLampNameChanged(QWidget* lamp)
{
    if (!Listened())
        return;
    QAccessibleEvent event(lamp, QAccessible::NameChanged);
    Announce(event);
}

void SetLampEventHook(std::function<void(QAccessibleEvent& event)> hook)
{
    EventHook() = std::move(hook);
}
