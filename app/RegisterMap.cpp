#include "app/RegisterMap.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>

#include "app/LedIndicator.h"
#include "app/SpinEdit.h"
#include "exchanges/BitText.h"

const PageControls& RegisterMap::Page(int index) const
{
    static const PageControls none;
    return index >= 0 && index < int(pages_.size()) ? pages_[size_t(index)] : none;
}

bool IsEdited(const QObject* control)
{
    return control->property("Tag").toInt() != kTagFollowing;
}

void SetEdited(QObject* control, bool edited)
{
    control->setProperty("Tag", edited ? kTagEdited : kTagFollowing);
}

void SetTextIfChanged(QWidget* edit, const QString& text)
{
    if (auto* line = qobject_cast<QLineEdit*>(edit); line && line->text() != text)
        line->setText(text);
}

void ShowRegisterValue(const BoundControl& control, uint16_t value)
{
    const ControlRow& row = *control.row;
    const bool bitSet = row.bit >= 0 && (value >> row.bit & 1u);
    switch (row.kind) {
    case ControlKind::ValueField:
        if (row.format == ValueFormat::BitText)
            SetTextIfChanged(control.widget, WordToBitText(value));
        else if (row.format == ValueFormat::Decimal)
            SetTextIfChanged(control.widget, QString::number(value));
        break;
    case ControlKind::SpinEdit: {
        auto* spin = static_cast<TSpinEdit*>(control.widget);
        if (spin->text() != QString::number(spin->CheckValue(value)))
            spin->SetValue(value);
        break;
    }
    case ControlKind::ComboBox: {
        auto* box = static_cast<QComboBox*>(control.widget);
        const int item = value < row.items.size() ? int(value) : row.itemForLarger;
        if (box->currentIndex() != item)
            box->setCurrentIndex(item);
        break;
    }
    case ControlKind::CheckBox:
        static_cast<QCheckBox*>(control.widget)->setChecked(bitSet);
        break;
    case ControlKind::Led:
        static_cast<TLedIndicator*>(control.widget)->SetChecked(bitSet);
        break;
    default:
        break;
    }
}

std::vector<const BoundControl*> DecodeReply(const PageControls& controls, const RegisterValues& reply,
                                             bool respectMarks)
{
    std::vector<const BoundControl*> filled;
    for (const BoundControl& c : controls) {
        if (!reply.Carries(c.row->reg) || c.row->format == ValueFormat::Moment)
            continue;
        if (respectMarks && IsEdited(c.widget))
            continue;
        ShowRegisterValue(c, reply.At(c.row->reg));
        filled.push_back(&c);
    }
    return filled;
}

void ResetControl(const BoundControl& control)
{
    switch (control.row->kind) {
    case ControlKind::ValueField:
        static_cast<QLineEdit*>(control.widget)->clear();
        break;
    case ControlKind::SpinEdit: {
        auto* spin = static_cast<TSpinEdit*>(control.widget);
        spin->SetValue(spin->MinValue());
        break;
    }
    case ControlKind::ComboBox:
        static_cast<QComboBox*>(control.widget)->setCurrentIndex(-1);
        break;
    case ControlKind::CheckBox:
        static_cast<QCheckBox*>(control.widget)->setChecked(false);
        break;
    case ControlKind::Led:
        static_cast<TLedIndicator*>(control.widget)->SetChecked(false);
        break;
    case ControlKind::Button:
        control.widget->setVisible(false);
        break;
    default:
        break;
    }
}
