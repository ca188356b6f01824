// Current parameters: 29 registers from 50 with the measurements, the status
// word, the relay's clock and the operating time, shown on page 0.
#include <QDate>
#include <QDateEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>

#include "app/UnitMain.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RelayClock.h"

void TForm1::ReadParamTimer()
{
    FillReadRequest(TxFrame, SlaveAddress, kCurrentParamsBlock.first, kCurrentParamsBlock.count);
}

// The value fields, the status word's text and its fifteen lamps come from
// page 0's rows, which name the register behind each; the clock is composed
// here from its five registers.
void TForm1::ReadParamReceive(const SentRequest& sent)
{
    DecodeReply(registers_.Page(kCurrentParamsPage), sent, RxBuffer, false);

    const int first = sent.Register();
    const RelayClockFields clock =
        ClockFieldsAt(kClockFirstRegister, [&](int reg) { return ReplyRegister(RxBuffer, first, reg); });
    const QDateTime moment = RelayClockMoment(Now().date(), clock);
    // While ButtonDT shows, the pickers hold the user's own clock setting.
    // Set from here, a picker's change is not the user's.
    if (ButtonDT->isHidden()) {
        const QSignalBlocker blockDate(DPicker), blockTime(TPicker);
        if (DPicker->date() != moment.date())
            DPicker->setDate(moment.date());
        if (TPicker->time() != moment.time())
            TPicker->setTime(moment.time());
    }
}
