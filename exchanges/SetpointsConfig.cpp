// Setpoints and configuration: the 44-register block from 80 shown on
// "Уставки" or "Настройки", and on "Настройки" the live block from 50 in turn
// with it, so calibration coefficients can be set against live readings.
#include "app/PageControl.h"
#include "app/SpinEdit.h"
#include "app/UnitMain.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/SetpointsConfig.h"

void TForm1::ReadUstNastTimer()
{
    // The live values belong to "Настройки"; "Уставки" always reads its block,
    // also when it was entered while the alternation had asked for live values.
    const bool live = ExchangeContext == ecLiveBlock && PageControl1->currentIndex() != kSetpointsPage;
    const RegisterBlock block = live ? kLiveBlock : kSettingsBlock;
    FillReadRequest(TxFrame, SlaveAddress, block.first, block.count);
}

// Decoded by the block that was asked for: a live reply never fills settings
// and a settings reply never fills the live fields, whatever page the user
// has gone to since the request left.
void TForm1::ReadUstNastReceive(const SentRequest& sent)
{
    // The alternation is this exchange's own; a write already switched to
    // keeps its ExchangeContext.
    const bool running = PollMode == pmReadUstNast;
    if (sent.Register() == kLiveBlock.first) {
        DecodeReply(registers_.Page(kConfigurationPage), sent, RxBuffer, false);
        if (running)
            ExchangeContext = ecSettingsBlock;
        return;
    }
    if (PageControl1->currentIndex() == kSetpointsPage) {
        applyEnableRules(kSetpointsPage, DecodeReply(registers_.Page(kSetpointsPage), sent, RxBuffer, true));
        return;
    }
    DecodeReply(registers_.Page(kConfigurationPage), sent, RxBuffer, true);
    if (running)
        ExchangeContext = ecLiveBlock;
}

void TForm1::applyEnableRules(int page, const std::vector<const BoundControl*>& filled)
{
    for (const BoundControl* master : filled) {
        const auto* spin = qobject_cast<const TSpinEdit*>(master->widget);
        if (!spin)
            continue;
        for (const BoundControl& c : registers_.Page(page))
            if (c.row->enabledWhileZero == master->row->name)
                c.widget->setEnabled(spin->Value() == 0);
    }
}
