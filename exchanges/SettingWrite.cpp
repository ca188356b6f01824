// Editing and writing one setting: a spin edit or selection box of "Уставки"
// or "Настройки" changed by the user is marked as edited and left alone by the
// reads; ENTER writes its one register with function 6, and the page is read
// back so the control shows what the relay now holds.
#include <QApplication>
#include <QComboBox>

#include "app/ComLed.h"
#include "app/SpinEdit.h"
#include "app/UnitMain.h"
#include "exchanges/ExchangeTable.h"

namespace {
bool IsEnter(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}
}  // namespace

bool TForm1::portOpen() const
{
    return ComLed->State() == lsOn;
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
    if (!spin || !bound || !IsEnter(Key) || !portOpen())
        return;
    EditedSpinEdit = spin;
    clearActiveControl();
    // The range comes before the value: 70000 writes 65535, -5 writes 0, and
    // a text that is not a number the range's minimum.
    const int value = spin->CheckValue(spin->Value());
    if (spin->text() != QString::number(value))
        spin->SetValue(value);
    WriteUstValue = uint16_t(value);
    WriteUstRegister = uint8_t(bound->row->reg);
    SetEdited(spin, false);
    confirmedSetting_ = spin;
    WriteFrameSent = 0;
    WriteUstRequest = 1;
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
    EditedComboBox = box;
    if (box->currentIndex() == -1 || !IsEnter(Key) || !portOpen())
        return;
    WriteUstRegister = uint8_t(bound->row->reg);
    WriteUstValue = uint16_t(box->currentIndex());
    SetEdited(box, false);
    confirmedSetting_ = box;
    clearActiveControl();
    WriteFrameSent = 0;
    WriteUstRequest = 1;
}

// ---- the write exchange ----------------------------------------------------

void TForm1::WriteUstTimer()
{
    if (const WriteKind* kind = FindWriteKind(ExchangeContext)) {
        (this->*kind->build)();
        return;
    }
    TxFrame[0] = uint8_t(SlaveAddress);   // nothing of its own: the previous request again
}

void TForm1::WriteUstReceive(const SentRequest& sent, ReplyVerdict verdict)
{
    if (const WriteKind* kind = FindWriteKind(sent.context))
        (this->*(verdict == ReplyVerdict::WriteEcho ? kind->echoed : kind->finalWord))();
}

void TForm1::BuildSettingWrite()
{
    if (confirmedSetting_)
        SetEdited(confirmedSetting_, false);
    FillWriteRequest(TxFrame, SlaveAddress, WriteUstRegister, WriteUstValue);
    WriteFrameSent = 1;
}

// The echo confirms the write; an exception or an echo of another value is the
// relay's own final word on it. Either way the write is over and the page is
// read back, so the control shows what the relay really holds. An answer to
// a write the user has since replaced changes nothing.
void TForm1::SettingWriteEnded()
{
    if (WriteFrameSent != 1)
        return;
    if (confirmedSetting_)
        SetEdited(confirmedSetting_, false);
    PollMode = pmReadUstNast;
}
