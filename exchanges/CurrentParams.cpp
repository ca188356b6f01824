// Current parameters: 29 registers from 50 with the measurements, the status
// word, the relay's clock and the operating time, shown on page 0.
#include <QDate>
#include <QDateEdit>
#include <QLineEdit>
#include <QPushButton>
#include <QTimeEdit>

#include "app/LayoutTables.h"
#include "app/LedIndicator.h"
#include "app/UnitMain.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RelayClock.h"
#include "link/BitText.h"

void TForm1::ReadParamTimer()
{
    FillReadRequest(TxFrame, SlaveAddress, kCurrentParamsFirst, kCurrentParamsCount);
}

// The value fields of page 0 come from its layout table, which names the
// register behind each; the status word has its own text form.
void TForm1::bindCurrentParams()
{
    for (const ControlRow& row : LayoutTables().at(0).rows)
        if (row.kind == ControlKind::ValueField && row.reg >= kCurrentParamsFirst
            && row.reg < kCurrentParamsFirst + kCurrentParamsCount && row.reg != kStatusRegister)
            currentFields_.push_back({ControlAs<QLineEdit>(row.name), row.reg});
}

void TForm1::ReadParamReceive()
{
    for (const CurrentField& field : currentFields_)
        field.edit->setText(QString::number(ReplyRegister(RxBuffer, kCurrentParamsFirst, field.reg)));

    const uint16_t status = ReplyRegister(RxBuffer, kCurrentParamsFirst, kStatusRegister);
    E_[1]->setText(WordToBitText(status));
    for (int bit = 0; bit <= 14; ++bit)
        L_[bit]->SetChecked(status & (1u << bit));

    RelayClockFields clock;
    clock.month = ReplyRegister(RxBuffer, kCurrentParamsFirst, kClockFirstRegister);
    clock.day = ReplyRegister(RxBuffer, kCurrentParamsFirst, kClockFirstRegister + 1);
    clock.hour = ReplyRegister(RxBuffer, kCurrentParamsFirst, kClockFirstRegister + 2);
    clock.minute = ReplyRegister(RxBuffer, kCurrentParamsFirst, kClockFirstRegister + 3);
    clock.second = ReplyRegister(RxBuffer, kCurrentParamsFirst, kClockFirstRegister + 4);
    const QDateTime moment = RelayClockMoment(QDate::currentDate(), clock);
    // While ButtonDT shows, the pickers hold the user's own clock setting.
    if (ButtonDT->isHidden()) {
        DPicker->setDate(moment.date());
        TPicker->setTime(moment.time());
    }
}
