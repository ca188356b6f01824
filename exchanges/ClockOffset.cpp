#include "exchanges/ClockOffset.h"

#include <QDate>
#include <QDateTime>

#include <cstdlib>
#include <ctime>

#include "exchanges/RelayClock.h"

namespace {

constexpr qint64 kMsPerDay = 86400000;
constexpr qint64 kUnixEpochJulianDay = 2440588;

// The zone's offset from UTC at `utcMs`, in milliseconds. localtime_r reads
// the zone once; mktime and localtime look at its file on every call.
qint64 LocalOffsetMs(qint64 utcMs)
{
    const time_t seconds = time_t(utcMs >= 0 ? utcMs / 1000 : (utcMs - 999) / 1000);
    tm local{};
    localtime_r(&seconds, &local);
    return qint64(local.tm_gmtoff) * 1000;
}

qint64 WallMs(const QDate& date, int hour, int minute, int second)
{
    return (date.toJulianDay() - kUnixEpochJulianDay) * kMsPerDay + ((hour * 60 + minute) * 60 + second) * 1000;
}

}  // namespace

std::optional<qint64> ClockOffsetMs(const RelayClockFields& f, qint64 nowMs)
{
    if (!InRange(f))
        return std::nullopt;
    const qint64 nowOffset = LocalOffsetMs(nowMs);
    const qint64 nowWall = nowMs + nowOffset;
    const QDate today = QDate::fromJulianDay(kUnixEpochJulianDay + nowWall / kMsPerDay);
    QDate base = RelayClockDate(today, f);
    int hour = f.hour, minute = f.minute, second = f.second;
    if (!base.isValid()) {
        // A day that exists in no year (31 April): the fallback moment, as shown.
        const QDateTime fallback = RelayClockFallback();
        base = fallback.date();
        hour = fallback.time().hour();
        minute = fallback.time().minute();
        second = fallback.time().second();
    }
    qint64 wall = WallMs(base, hour, minute, second);
    for (int years : {-1, 1}) {
        const qint64 other = WallMs(base.addYears(years), hour, minute, second);
        if (std::abs(other - nowWall) < std::abs(wall - nowWall))
            wall = other;
    }
    // Local to UTC: the offset at the moment itself, found from the offset
    // now (they differ only across a change of summer time).
    const qint64 utc = wall - LocalOffsetMs(wall - nowOffset);
    return utc - nowMs;
}
