// The relay's clock: set from the PC's clock (ButtonSys) or from the two
// pickers (ButtonDT) in five register writes, month, day, hour, minute and
// second, each sent only after the previous one was echoed.
#include <QDateEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>

#include "app/UnitMain.h"
#include "exchanges/CurrentParams.h"
#include "link/PollModes.h"

// Raised by the user's changes only: the decoder sets the pickers with their
// signals blocked. From here on the pickers hold the user's choice.
void TForm1::DPickerChange(QObject* /*Sender*/)
{
    ButtonDT->setVisible(true);
}

void TForm1::ButtonSysClick(QObject* Sender)
{
    {
        // Each picker holds only what it shows.
        const QSignalBlocker blockDate(DPicker), blockTime(TPicker);
        DPicker->setTime(QTime(0, 0));
        TPicker->setDate(QDate(2000, 1, 1));
    }
    ClockWriteTime = Sender == ButtonDT ? QDateTime(DPicker->date(), TPicker->time()) : Now();
    ClockValue = uint16_t(ClockWriteTime.date().month());
    ButtonDT->setVisible(false);
    // A click while a sequence runs starts it again from the month; the
    // running sequence is already the write exchange, so no second request.
    if (!ClockSequenceRunning())
        WriteClockRequest = 1;
    ClockRegister = kClockFirstRegister;
    ClockStep = 1;
    ClockFrameSent = 0;
}

void TForm1::BuildClockWrite()
{
    FillWriteRequest(TxFrame, SlaveAddress, ClockRegister, ClockValue);
    ClockFrameSent = 1;
}

void TForm1::ClockWriteEchoed()
{
    if (ClockFrameSent == 1) {
        ++ClockStep;
        ++ClockRegister;
    }
    const QDate date = ClockWriteTime.date();
    const QTime time = ClockWriteTime.time();
    switch (ClockStep) {
    case 1: ClockValue = uint16_t(date.month()); break;
    case 2: ClockValue = uint16_t(date.day()); break;
    case 3: ClockValue = uint16_t(time.hour()); break;
    case 4: ClockValue = uint16_t(time.minute()); break;
    case 5: ClockValue = uint16_t(time.second()); break;
    default: ClockWriteEnded(); break;
    }
}

// After the fifth echo, or when the relay refuses a field or stores another
// value: the sequence is over and page 0 reads the relay's clock again.
void TForm1::ClockWriteEnded()
{
    PollMode = pmReadParam;
    ClockStep = 0;
}
