// Date and time texts in the system's regional formats: the short date and
// the long time without a time-zone part. Where the system has no regional
// settings, numeric "dd.MM.yyyy" and "HH:mm:ss".
#pragma once

#include <QDateTime>
#include <QString>

QString ShortDateFormat();
QString LongTimeFormat();
QString ShortDateText(const QDate& date);
QString LongTimeText(const QTime& time);
QString LocalDateTimeText(const QDateTime& moment);   // short date, a blank, long time
