#include "exchanges/RelayClock.h"

bool InRange(const RelayClockFields& f)
{
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= 31 && f.hour <= 23 && f.minute <= 59
        && f.second <= 59;
}

QDateTime RelayClockFallback()
{
    return QDateTime(QDate(2001, 1, 1), QTime(1, 0, 0, 0));
}

QDateTime RelayClockMoment(const QDate& today, const RelayClockFields& f)
{
    const QDate date(today.year(), f.month, f.day);
    if (!InRange(f) || !date.isValid())
        return RelayClockFallback();
    return QDateTime(date, QTime(f.hour, f.minute, f.second, 0));
}

QDateTime RecordMomentFallback()
{
    return QDateTime(QDate(2001, 1, 1), QTime(0, 0, 0, 0));
}

QDateTime RecordMoment(const QDateTime& now, const RelayClockFields& f)
{
    if (!InRange(f))
        return RecordMomentFallback();
    const QTime time(f.hour, f.minute, f.second, 0);
    QDate date(now.date().year(), f.month, f.day);
    if (date.isValid() && QDateTime(date, time) > now)
        date = QDate(now.date().year() - 1, f.month, f.day);
    if (!date.isValid())
        return RecordMomentFallback();
    return QDateTime(date, time);
}
