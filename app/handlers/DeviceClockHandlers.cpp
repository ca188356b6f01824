// The relay's clock: set from the PC's clock (ButtonSys) or from the two
// pickers (ButtonDT) in five register writes, month, day, hour, minute and
// second, each sent only after the previous one was echoed.
#include <QDateEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>

#include "app/UnitMain.h"
#include "exchanges/ExchangeTable.h"

// Raised by the user's changes only: the decoder sets the pickers with their
// signals blocked. From here on the pickers hold the user's choice.
void TForm1::DPickerChange(QObject* /*Sender*/)
{
    clockEdited_ = true;
    applyWriteControls();
}

void TForm1::ButtonSysClick(QObject* Sender)
{
    if (readOnly_)
        return;
    {
        // Each picker holds only what it shows.
        const QSignalBlocker blockDate(DPicker), blockTime(TPicker);
        DPicker->setTime(QTime(0, 0));
        TPicker->setDate(QDate(2000, 1, 1));
    }
    const QDateTime moment = Sender == ButtonDT ? QDateTime(DPicker->date(), TPicker->time()) : Now();
    clockEdited_ = false;
    applyWriteControls();
    const QDate date = moment.date();
    const QTime time = moment.time();
    StartClockWrite(Exchanges(), ClockTime{uint16_t(date.month()), uint16_t(date.day()), uint16_t(time.hour()),
                                      uint16_t(time.minute()), uint16_t(time.second())});
}
