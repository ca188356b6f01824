// The protection masks: twelve registers from 96 read into three columns of
// check boxes with their bit text (mask 1 register 96, mask 2 register 107,
// mask 3 register 97), edited box by box and written one mask at a time with
// its Ok button.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "exchanges/Masks.h"
#include "exchanges/BitText.h"

// A mask's edit and boxes under edit (mark 111) keep what the user made of them.
void TForm1::ReadMaskReceive(const RegisterValues& reply)
{
    DecodeReply(registers_.Page(kMasksPage), reply, true);
}

std::vector<const BoundControl*> TForm1::maskControls(int reg) const
{
    std::vector<const BoundControl*> controls;
    for (const BoundControl& c : registers_.Page(kMasksPage))
        if (c.row->reg == reg)
            controls.push_back(&c);
    return controls;
}

QLineEdit* TForm1::maskEdit(int reg) const
{
    for (const BoundControl* c : maskControls(reg))
        if (c->row->kind == ControlKind::ValueField)
            return static_cast<QLineEdit*>(c->widget);
    return nullptr;
}

QPushButton* TForm1::maskOk(int reg) const
{
    for (const BoundControl* c : maskControls(reg))
        if (c->row->kind == ControlKind::Button)
            return static_cast<QPushButton*>(c->widget);
    return nullptr;
}

void TForm1::followRelay(int reg)
{
    if (maskUnderEdit_ == reg)
        maskUnderEdit_ = -1;
    for (const BoundControl* c : maskControls(reg)) {
        if (c->row->kind == ControlKind::Button)
            ApplyWriteLook(c->widget, WriteLookOf(WriteControl::MaskOk, WritingConditions(), false));
        else
            SetEdited(c->widget, false);
    }
}

// Raised only by the user's clicks; a box set from a reply never comes here.
void TForm1::M1CB1Click(QObject* Sender)
{
    const BoundControl* box = registers_.Of(Sender);
    if (!box || !portOpen())
        return;   // with the port closed, a click changes only the box itself
    const int reg = box->row->reg;
    SetEdited(box->widget, true);
    QLineEdit* edit = maskEdit(reg);
    QString text = edit->text().left(17);
    SetEdited(edit, true);
    const int at = MaskBitTextPosition(box->row->bit) - 1;
    if (at < text.size())
        text[at] = static_cast<QCheckBox*>(box->widget)->isChecked() ? QLatin1Char('1') : QLatin1Char('0');
    edit->setText(text);
    maskUnderEdit_ = reg;
    ApplyWriteLook(maskOk(reg), WriteLookOf(WriteControl::MaskOk, WritingConditions(), true));
    // One mask under edit at a time: the others drop their changes.
    for (int other : kMaskRegisters)
        if (other != reg)
            followRelay(other);
    clearActiveControl();
}

void TForm1::ButtonM1Click() { confirmMask(kMaskRegisters[0]); }
void TForm1::ButtonM2Click() { confirmMask(kMaskRegisters[1]); }
void TForm1::ButtonM3Click() { confirmMask(kMaskRegisters[2]); }

// A full bit text is written back whole, bit 15 as it was read. An edit that
// holds no full bit text (emptied by a page entered without a link, or never
// filled) writes nothing: the mask follows the relay again, and the window
// says that nothing was written.
void TForm1::confirmMask(int reg)
{
    const QString text = maskEdit(reg)->text();
    followRelay(reg);
    if (readOnly_)
        return;
    if (!IsBitText(text)) {
        ShowErrorMessage(this, {QStringLiteral("Защита"), QStringLiteral("Маска не записана"),
                                QStringLiteral("Маска ещё не прочитана из защиты: дождитесь связи и измените её снова.")});
        return;
    }
    Exchanges().MaskWriteRegister = uint16_t(reg);
    Exchanges().MaskWriteValue = BitTextToWord(text);
    Exchanges().WriteFrameSent = 0;
    Exchanges().WriteMaskRequest = 1;
}
