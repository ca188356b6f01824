// The current parameters as CSV, column for column as
// `zashchita-cli monitor --format csv` writes them: the PC's time (ISO 8601
// with its offset), every reading with its unit, the status bits' names, the
// relay's clock and the failure column. Also read back, for the samples of a
// stored motor start.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "history/BlockSample.h"

QStringList ReadingsCsvHeader();
QStringList ReadingsCsvRow(const BlockSample& sample);

// One line of CSV: a field with a comma, a quote or a line break is quoted.
QString CsvLine(const QStringList& fields);

// The samples' CSV file: the header, then a row per sample.
QByteArray ReadingsCsv(const std::vector<BlockSample>& samples);

// Reads a file ReadingsCsv wrote: the time and the readings of each row (the
// clock fields stay 0). Rows it cannot read are skipped; nullopt when the
// header is not its own.
std::optional<std::vector<BlockSample>> ParseReadingsCsv(const QByteArray& text);
