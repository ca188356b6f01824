#include "exchanges/LocaleFormats.h"

#include <QLocale>

namespace {
// Drops the unquoted time-zone letters ("t" runs) of a Qt time format and the
// blank that separated them.
QString withoutZone(const QString& format)
{
    QString out;
    bool quoted = false;
    for (QChar c : format) {
        if (c == QLatin1Char('\''))
            quoted = !quoted;
        if (!quoted && c == QLatin1Char('t'))
            continue;
        out += c;
    }
    return out.simplified();
}
}

// Without regional settings (the C or POSIX locale) Qt's short date reads
// "7 Dec 2026", which is not numeric and would go into the reports as is.
bool NoRegionalSettings()
{
    return QLocale::system().language() == QLocale::C;
}

QString ShortDateFormat()
{
    if (NoRegionalSettings())
        return QStringLiteral("dd.MM.yyyy");
    return QLocale::system().dateFormat(QLocale::ShortFormat);
}

QString LongTimeFormat()
{
    if (NoRegionalSettings())
        return QStringLiteral("HH:mm:ss");
    return withoutZone(QLocale::system().timeFormat(QLocale::LongFormat));
}

QString ShortDateText(const QDate& date)
{
    return QLocale::system().toString(date, ShortDateFormat());
}

QString LongTimeText(const QTime& time)
{
    return QLocale::system().toString(time, LongTimeFormat());
}

QString LocalDateTimeText(const QDateTime& moment)
{
    return ShortDateText(moment.date()) + QLatin1Char(' ') + LongTimeText(moment.time());
}
