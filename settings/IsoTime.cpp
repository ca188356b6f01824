#include "settings/IsoTime.h"

#include <cstdlib>

namespace {
constexpr int kSecondsPerMinute = 60;
constexpr int kMinutesPerHour = 60;
}  // namespace

QString IsoTimeText(const QDateTime& moment, IsoPrecision precision)
{
    const QDateTime local = moment.toLocalTime();
    const int offsetMinutes = local.offsetFromUtc() / kSecondsPerMinute;
    const int size = std::abs(offsetMinutes);
    const QString offset = QStringLiteral("%1%2:%3")
                               .arg(offsetMinutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                               .arg(size / kMinutesPerHour, 2, 10, QLatin1Char('0'))
                               .arg(size % kMinutesPerHour, 2, 10, QLatin1Char('0'));
    const QLatin1String format(precision == IsoPrecision::Milliseconds ? "yyyy-MM-dd'T'HH:mm:ss.zzz"
                                                                        : "yyyy-MM-dd'T'HH:mm:ss");
    return local.toString(format) + offset;
}
