// Editing and writing one setting: a spin edit or selection box of "Уставки"
// or "Настройки" changed by the user is marked as edited and left alone by the
// reads; ENTER writes its one register with function 6, and the page is read
// back so the control shows what the relay now holds.
#include <QApplication>
#include <QComboBox>

#include "app/SpinEdit.h"
#include "app/UnitMain.h"
#include "exchanges/PollModes.h"

namespace {
bool IsEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}
}  // namespace

bool TForm1::portOpen() const
{
    return session_->IsOpen();
}

void TForm1::clearActiveControl()
{
    if (QWidget* focused = QApplication::focusWidget(); focused && focused->window() == this)
        focused->clearFocus();
}

// Raised only by the user's own changes (typing, the up and down buttons),
// never by a value set from a reply.
void TForm1::SE0Change(QObject* Sender)
{
    SetEdited(Sender, true);
}

void TForm1::SE0Exit(QObject* Sender)
{
    SetEdited(Sender, false);
}

void TForm1::SE0KeyDown(QObject* Sender, int Key)
{
    auto* spin = qobject_cast<TSpinEdit*>(Sender);
    const BoundControl* bound = registers_.Of(Sender);
    if (!spin || !bound || !IsEnter(Key) || !portOpen() || readOnly_)
        return;
    clearActiveControl();
    // The range comes before the value: 70000 writes 65535, -5 writes 0, and
    // a text that is not a number the range's minimum.
    const int value = spin->CheckValue(spin->Value());
    if (spin->text() != QString::number(value))
        spin->SetValue(value);
    Exchanges().WriteUstValue = uint16_t(value);
    Exchanges().WriteUstRegister = uint8_t(bound->row->reg);
    SetEdited(spin, false);
    confirmedSetting_ = spin;
    Exchanges().WriteFrameSent = 0;
    Exchanges().WriteUstRequest = 1;
}

// Raised by the user's choice of an item and by opening the list.
void TForm1::CB1Change(QObject* Sender)
{
    SetEdited(Sender, true);
}

void TForm1::CB1Exit(QObject* Sender)
{
    SetEdited(Sender, false);
}

void TForm1::CB1KeyDown(QObject* Sender, int Key)
{
    auto* box = qobject_cast<QComboBox*>(Sender);
    const BoundControl* bound = registers_.Of(Sender);
    if (!box || !bound)
        return;
    if (box->currentIndex() == -1 || !IsEnter(Key) || !portOpen() || readOnly_)
        return;
    Exchanges().WriteUstRegister = uint8_t(bound->row->reg);
    Exchanges().WriteUstValue = uint16_t(box->currentIndex());
    SetEdited(box, false);
    confirmedSetting_ = box;
    clearActiveControl();
    Exchanges().WriteFrameSent = 0;
    Exchanges().WriteUstRequest = 1;
}

// ---- the write exchange ----------------------------------------------------

// The setting's frame is built: its control follows the relay from now on, so
// the read-back shows what the relay holds.
void TForm1::requestSent(const SentRequest& sent)
{
    if (sent.IsWrite() && sent.context == ecSettingWrite && confirmedSetting_)
        SetEdited(confirmedSetting_, false);
}

// The echo confirms the write; an exception or an echo of another value is the
// relay's own final word on it. Either way the page is read back (the session
// switches to it), so the control shows what the relay really holds. An answer
// to a write the user has since replaced changes nothing.
void TForm1::WriteUstReceive(const WriteResult& result)
{
    // Only the relay's own word ends the edit: an unconfirmed write leaves it edited.
    if (result.how == Outcome::NoAnswer || result.how == Outcome::Unconfirmed)
        return;
    if (result.context == ecSettingWrite && Exchanges().WriteFrameSent == 1 && confirmedSetting_)
        SetEdited(confirmedSetting_, false);
}
