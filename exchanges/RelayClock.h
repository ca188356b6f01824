// The relay's clock as one moment: month, day, hour, minute and second from
// the relay, the year from the PC (the relay keeps none).
#pragma once

#include <QDate>
#include <QDateTime>
#include <cstdint>

struct RelayClockFields {
    uint16_t month = 0, day = 0, hour = 0, minute = 0, second = 0;
    friend bool operator==(const RelayClockFields&, const RelayClockFields&) = default;
};

// Month 1..12, day 1..31, hour 0..23, minute and second 0..59.
bool InRange(const RelayClockFields& f);

// The fields from the five registers that follow one another from the month:
// month, day, hour, minute, second. `value(reg)` reads one register of
// whatever holds the reply.
template <class ReadRegister>
RelayClockFields ClockFieldsAt(int monthRegister, ReadRegister value)
{
    RelayClockFields f;
    f.month = value(monthRegister);
    f.day = value(monthRegister + 1);
    f.hour = value(monthRegister + 2);
    f.minute = value(monthRegister + 3);
    f.second = value(monthRegister + 4);
    return f;
}

// The moment shown for the relay's clock: the fields in `today`'s year, or
// in the latest year before it in which the day exists (29 February off a
// leap year: the relay's own day is shown, in the last leap year). 1 January
// 2001, 01:00:00 when a field is out of range or the day exists in no year
// (31 April, 30 February).
QDateTime RelayClockMoment(const QDate& today, const RelayClockFields& f);
// The date of that moment; invalid where the moment is the fallback.
QDate RelayClockDate(const QDate& today, const RelayClockFields& f);

// The moment shown when the relay's clock cannot be read as a date.
QDateTime RelayClockFallback();

// The moment of an event record: the fields in the latest year, not after
// `now`'s, in which the day exists and the moment is not after `now` (the
// relay keeps no year; a record is never in the future). So 29 February read
// in 2029 is 29 February 2028. 1 January 2001, 00:00:00 when a field is out
// of range or the day exists in no year (31 April, 30 February).
QDateTime RecordMoment(const QDateTime& now, const RelayClockFields& f);
QDateTime RecordMomentFallback();
