#include "app/WriteControls.h"

#include <QToolButton>
#include <QVariant>

#include "app/SpinEdit.h"

namespace {
constexpr const char* kOwnRule = "writeRuleAllows";
}

WriteLook WriteLookOf(WriteControl control, const WriteConditions& c, bool own)
{
    const bool writable = !c.readOnly;
    // The relay's clock is set only over a line that answers.
    const bool clockUsable = writable && c.open && c.link;
    switch (control) {
    case WriteControl::Setting:
    case WriteControl::MaskBox:
        return {own && writable, true, writable};
    case WriteControl::MaskOk:
        return {writable, own && writable, true};
    case WriteControl::ClockFromPc:
        return {clockUsable, clockUsable, true};
    case WriteControl::ClockFromPickers:
        return {clockUsable, clockUsable && c.clockEdited, true};
    case WriteControl::ClockPicker:
        return {clockUsable, true, true};
    case WriteControl::WriteNote:
        return {true, writable, true};
    case WriteControl::LoadFromFile:
        return {writable, writable, true};
    }
    return {};
}

void ApplyWriteLook(QWidget* w, const WriteLook& look)
{
    if (w->isEnabled() != look.enabled)
        w->setEnabled(look.enabled);
    if (w->isHidden() == look.shown)
        w->setVisible(look.shown);
    if (auto* spin = qobject_cast<TSpinEdit*>(w))
        for (QToolButton* arrow : {spin->UpButton(), spin->DownButton()})
            if (arrow->isHidden() == look.arrows)
                arrow->setVisible(look.arrows);
}

void SetOwnWriteRule(QWidget* control, bool allows)
{
    control->setProperty(kOwnRule, allows);
}

bool OwnWriteRule(const QWidget* control, bool byDefault)
{
    const QVariant rule = control->property(kOwnRule);
    return rule.isValid() ? rule.toBool() : byDefault;
}
