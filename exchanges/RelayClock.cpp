#include "exchanges/RelayClock.h"

QDateTime RelayClockFallback()
{
    return QDateTime(QDate(2001, 1, 1), QTime(1, 0, 0, 0));
}

QDateTime RelayClockMoment(const QDate& today, const RelayClockFields& f)
{
    if (f.month < 1 || f.month > 12 || f.day < 1 || f.day > 31 || f.hour > 23
        || f.minute > 59 || f.second > 59)
        return RelayClockFallback();
    const QDate date(today.year(), f.month, f.day);
    if (!date.isValid())
        return RelayClockFallback();
    return QDateTime(date, QTime(f.hour, f.minute, f.second, 0));
}
