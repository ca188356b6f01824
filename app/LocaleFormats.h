// Date and time texts in the system's regional formats: the short date and
// the long time without a time-zone part.
#pragma once

#include <QDateTime>
#include <QString>

QString ShortDateFormat();
QString LongTimeFormat();
QString LocalDateTimeText(const QDateTime& moment);   // short date, a blank, long time
