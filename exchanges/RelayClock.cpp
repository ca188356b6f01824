#include "exchanges/RelayClock.h"

namespace {

// 29 February comes back at most eight years apart (2096, then 2104), so
// looking that far back finds a year in which any real day exists.
constexpr int kYearsToLookBack = 8;

// The date of `f` in the latest year from `year` back in which that day
// exists and `fits` accepts it; invalid when there is none (31 April).
template <class Fits>
QDate LatestDate(int year, const RelayClockFields& f, Fits fits)
{
    for (int y = year; y >= year - kYearsToLookBack; --y)
        if (const QDate date(y, f.month, f.day); date.isValid() && fits(date))
            return date;
    return QDate();
}

}  // namespace

bool InRange(const RelayClockFields& f)
{
    return f.month >= 1 && f.month <= 12 && f.day >= 1 && f.day <= 31 && f.hour <= 23 && f.minute <= 59
        && f.second <= 59;
}

QDateTime RelayClockFallback()
{
    return QDateTime(QDate(2001, 1, 1), QTime(1, 0, 0, 0));
}

QDate RelayClockDate(const QDate& today, const RelayClockFields& f)
{
    if (!InRange(f))
        return QDate();
    return LatestDate(today.year(), f, [](const QDate&) { return true; });
}

QDateTime RelayClockMoment(const QDate& today, const RelayClockFields& f)
{
    const QDate date = RelayClockDate(today, f);
    if (!date.isValid())
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
    const QDate date = LatestDate(now.date().year(), f, [&](const QDate& d) { return QDateTime(d, time) <= now; });
    if (!date.isValid())
        return RecordMomentFallback();
    return QDateTime(date, time);
}
