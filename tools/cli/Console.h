// Output of the command-line program: lines of UTF-8 text on stdout (the
// data: settings, differences, records, live values) and on stderr (what
// happened and why), and fields of CSV.
#pragma once

#include <QString>
#include <QStringList>

// One line on stdout, flushed at once so that a log piped into a file is
// complete up to the last reply.
void PrintLine(const QString& line);
// One line on stderr.
void ReportLine(const QString& line);

// A CSV record (RFC 4180): fields holding a comma, a quote or a line break
// are quoted, quotes doubled.
QString CsvRecord(const QStringList& fields);
