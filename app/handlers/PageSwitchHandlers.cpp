// Which exchange runs follows the page the user looks at: leaving a page
// withdraws its pending read, entering one with the link present asks for its
// read (and blanks the page until the first reply is due), entering one
// without a link empties its values so old ones are not taken for current.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include "app/LedIndicator.h"
#include "app/SpinEdit.h"
#include "app/UnitMain.h"
#include "exchanges/Masks.h"
#include "exchanges/PollModes.h"

bool TForm1::LinkPresent() const
{
    return session_->IsOpen() && !Link().LinkLost();
}

void TForm1::PageControl1Changing(int leavingIndex)
{
    ExchangeState& s = Exchanges();
    switch (leavingIndex) {
    case 0: s.ReadParamRequest = 0; break;
    case 1: case 2: s.ReadUstNastRequest = 0; break;
    case 3: case 4: case 5: case 6: s.ReadProtokolRequest = 0; break;
    case 7: s.ReadMaskRequest = 0; break;
    default: break;
    }
    // No control keeps the focus, so values set from here on are never taken
    // for the user's edits; an unconfirmed edit is dropped as its control is left.
    clearActiveControl();
}

void TForm1::PageControl1Change(int shownIndex)
{
    const bool link = LinkPresent();
    if (link) {
        askForPage(shownIndex);
        if (shownIndex >= 0 && shownIndex < 8)
            Panel_[shownIndex]->setVisible(false);
        if (!timer2_->isActive())
            timer2_->start();
    } else {
        resetPage(shownIndex);
    }
}

// The read of the page shown: its request flag, and for the settings pages
// the block the first read fetches.
void TForm1::askForPage(int index)
{
    ExchangeState& s = Exchanges();
    switch (index) {
    case 0: s.ReadParamRequest = 1; break;
    case 1: chooseSettingsBlock(ecSettingsBlock); s.ReadUstNastRequest = 1; break;
    case 2: chooseSettingsBlock(ecLiveBlock); s.ReadUstNastRequest = 1; break;
    case 3: case 4: case 5: case 6:
        s.ProtokolNumber = uint8_t(index - 2);
        s.ReadProtokolRequest = 1;
        break;
    case 7: s.ReadMaskRequest = 1; break;
    default: break;
    }
}

// The page's register controls go back to their empty look (value fields
// emptied, spin edits at their minimum, no item chosen, boxes and lamps off,
// the masks' Ok buttons hidden), except those that keep what they show.
// The block the next settings read fetches. A write under way keeps its own
// ExchangeContext until it ends: a clock set half way, or a setting whose echo
// no longer finds its write, would be the price.
void TForm1::chooseSettingsBlock(uint8_t context)
{
    if (Exchanges().PollMode != pmWriteRegister)
        Exchanges().ExchangeContext = context;
}

void TForm1::resetPage(int index)
{
    for (const BoundControl& c : registers_.Page(index))
        if (!c.row->keepOnReset)
            ResetControl(c);
    // Emptied masks follow the relay again: the next read fills them, and
    // no Ok is left to write a mask that shows nothing.
    if (index == kMasksPage)
        for (int reg : kMaskRegisters)
            followRelay(reg);
}
