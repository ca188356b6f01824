// Current parameters on page 0: the measurements, the status word with its
// fifteen lamps, the operating time and the relay's clock in the pickers.
#include <QDate>
#include <QDateEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTimeEdit>
#include <QTimer>

#include "app/UnitMain.h"
#include "history/TrendRecorder.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RelayClock.h"

// The value fields, the status word's text and its fifteen lamps come from
// page 0's rows, which name the register behind each; the clock is composed
// here from its five registers.
void TForm1::ReadParamReceive(const RegisterValues& reply)
{
    // Read while another master is on the line, the values may be its
    // traffic's: no field, lamp, trend point or start is made of them.
    ShowDoubtful(reply.foreign);
    if (reply.foreign)
        return;
    // One look at the PC's clock a reply: each is a look at the time zone.
    const QDateTime now = Now();
    DecodeReply(registers_.Page(kCurrentParamsPage), reply, false);
    trends_->Sample(reply, now.toMSecsSinceEpoch());

    const RelayClockFields clock = ClockFieldsAt(kClockFirstRegister, [&](int reg) { return reply.At(reg); });
    const QDateTime moment = RelayClockMoment(now.date(), clock);
    if (clock != relayClockShown_) {
        // The relay's second has moved on, and its values with it: the PC's
        // clock is shown in the same repaint, and Timer1 waits until the
        // replies stop bringing new seconds.
        relayClockShown_ = clock;
        showPcClock(now);
        timer1_->start(kPcClockMs + kPcClockGraceMs);
    }
    // While the clock is under edit ("ButtonDT" shows), the pickers hold the
    // user's own clock setting. Set from here, a picker's change is not the user's.
    if (!clockEdited_) {
        const QSignalBlocker blockDate(DPicker), blockTime(TPicker);
        if (DPicker->date() != moment.date())
            DPicker->setDate(moment.date());
        if (TPicker->time() != moment.time())
            TPicker->setTime(moment.time());
    }
}

void TForm1::ShowDoubtful(bool doubtful)
{
    if (doubtful == doubtfulShown_)
        return;
    doubtfulShown_ = doubtful;
    for (const BoundControl& c : registers_.Page(kCurrentParamsPage)) {
        if (c.row->kind != ControlKind::ValueField)
            continue;
        QFont font = c.widget->font();
        font.setItalic(doubtful);
        c.widget->setFont(font);
        QPalette palette = c.widget->palette();
        palette.setColor(QPalette::Active, QPalette::Text,
                         doubtful ? palette.color(QPalette::Disabled, QPalette::Text)
                                  : palette.color(QPalette::Inactive, QPalette::Text));
        c.widget->setPalette(palette);
    }
}
