// The current parameters as CSV, column for column as
// `zashchita-cli monitor --format csv` writes them: the PC's time (ISO 8601
// with its offset), every reading with its unit, the status bits' names, the
// relay's clock and the failure column. Also read back, for the samples of a
// stored motor start and for an export.
#pragma once

#include <QByteArray>
#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "history/BlockSample.h"

// How a CSV file for a person's spreadsheet is written: its field separator
// and decimal mark. Files for programs (a start's samples.csv, the
// companion's output) keep ',' and '.'.
struct CsvStyle {
    QChar separator = QLatin1Char(',');
    QChar decimal = QLatin1Char('.');

    // ';' with a decimal comma where the locale writes decimals with a comma
    // (a Russian spreadsheet splits its CSV on ';'), else ',' with a point.
    // The environment's ZASHCHITA_CSV=semicolon or ZASHCHITA_CSV=comma
    // chooses either whatever the locale.
    static CsvStyle ForUser(const QLocale& locale = QLocale());
    // A number with `decimals` places and this style's decimal mark.
    QString Number(double value, int decimals) const;
};

QStringList ReadingsCsvHeader();
QStringList ReadingsCsvRow(const BlockSample& sample);

// One line of CSV: a field with the separator, a quote or a line break is quoted.
QString CsvLine(const QStringList& fields, QChar separator = QLatin1Char(','));

// A CSV file of these rows, in UTF-8. A file in another style than the
// programs' starts with a byte order mark, by which a spreadsheet knows its
// encoding.
QByteArray CsvText(const std::vector<QStringList>& rows, const CsvStyle& style);

// The samples' CSV file: the header, then a row per sample.
QByteArray ReadingsCsv(const std::vector<BlockSample>& samples, const CsvStyle& style = {});

// The fields of each line of a CSV file in either style (its separator
// found from its first line; a byte order mark skipped).
std::vector<QStringList> SplitCsv(const QByteArray& text);

// Reads a file ReadingsCsv wrote, in either style: the time and the
// readings of each row (the clock fields stay 0). Rows it cannot read are
// skipped; nullopt when the header is not its own.
std::optional<std::vector<BlockSample>> ParseReadingsCsv(const QByteArray& text);
