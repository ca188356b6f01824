#include "exchanges/CountWords.h"

QString CountText(qint64 count, const QString& one, const QString& many)
{
    return QString::number(count) + QLatin1Char(' ') + (count == 1 ? one : many);
}

QString RussianNoun(qint64 count, const QString& one, const QString& few, const QString& many)
{
    const qint64 n = count < 0 ? -count : count;
    const qint64 lastTwo = n % 100;
    const qint64 last = n % 10;
    if (lastTwo >= 11 && lastTwo <= 14)
        return many;
    if (last == 1)
        return one;
    if (last >= 2 && last <= 4)
        return few;
    return many;
}

QString RussianCountText(qint64 count, const QString& one, const QString& few, const QString& many)
{
    return QString::number(count) + QLatin1Char(' ') + RussianNoun(count, one, few, many);
}
