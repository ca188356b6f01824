// A moment of the PC's clock as ISO 8601 with its UTC offset, always as
// +HH:MM (never "Z"), so that every stamp of a log has the same width and
// says where it was taken: 2026-12-08T07:02:53.388+03:00.
#pragma once

#include <QDateTime>
#include <QString>

enum class IsoPrecision { Seconds, Milliseconds };

QString IsoTimeText(const QDateTime& moment, IsoPrecision precision);
