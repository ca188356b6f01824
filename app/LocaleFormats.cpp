#include "app/LocaleFormats.h"

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

QString ShortDateFormat()
{
    return QLocale::system().dateFormat(QLocale::ShortFormat);
}

QString LongTimeFormat()
{
    return withoutZone(QLocale::system().timeFormat(QLocale::LongFormat));
}

QString LocalDateTimeText(const QDateTime& moment)
{
    const QLocale locale = QLocale::system();
    return locale.toString(moment.date(), ShortDateFormat()) + QLatin1Char(' ')
        + locale.toString(moment.time(), LongTimeFormat());
}
