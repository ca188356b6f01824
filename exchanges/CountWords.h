// A count with its noun in the form the number takes: "1 reply", "2 replies"
// for the companion's English messages; "1 уставка", "3 уставки",
// "43 уставки", "11 уставок" for the window's Russian.
#pragma once

#include <QString>

// `one` for 1, `many` for every other count.
QString CountText(qint64 count, const QString& one, const QString& many);

// Russian: `one` after 1, 21, 101 ...; `few` after 2 to 4, 22 to 24 ...;
// `many` after 0, 5 to 20, 25 to 30 ..., 111 to 114 ...
QString RussianCountText(qint64 count, const QString& one, const QString& few, const QString& many);
// The noun alone, as RussianCountText would put it after `count`.
QString RussianNoun(qint64 count, const QString& one, const QString& few, const QString& many);
