// Setpoints and configuration: the 44-register block from 80 shown on
// "Уставки" or "Настройки", and on "Настройки" the live block from 50 in turn
// with it, so calibration coefficients can be set against live readings.
#include "app/PageControl.h"
#include "app/SpinEdit.h"
#include "app/UnitMain.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/SetpointsConfig.h"

// Decoded by the block that was asked for: a live reply never fills settings
// and a settings reply never fills the live fields, whatever page the user
// has gone to since the request left. (The session keeps the alternation.)
void TForm1::ReadUstNastReceive(const RegisterValues& reply)
{
    if (reply.block.first == kLiveBlock.first) {
        DecodeReply(registers_.Page(kConfigurationPage), reply, false);
        return;
    }
    if (pageControl1_->currentIndex() == kSetpointsPage) {
        applyEnableRules(kSetpointsPage, DecodeReply(registers_.Page(kSetpointsPage), reply, true));
        return;
    }
    DecodeReply(registers_.Page(kConfigurationPage), reply, true);
}

void TForm1::applyEnableRules(int page, const std::vector<const BoundControl*>& filled)
{
    for (const BoundControl* master : filled) {
        const auto* spin = qobject_cast<const TSpinEdit*>(master->widget);
        if (!spin)
            continue;
        for (const BoundControl& c : registers_.Page(page))
            if (c.row->enabledWhileZero == master->row->name) {
                SetOwnWriteRule(c.widget, spin->Value() == 0);
                ApplyWriteLook(c.widget, WriteLookOf(WriteControl::Setting, WritingConditions(), spin->Value() == 0));
            }
    }
}
