// Output of the command-line program: lines of UTF-8 text on stdout (the
// data: settings, differences, records, live values) and on stderr (what
// happened and why, each line after the program's name), and fields of CSV.
#pragma once

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <utility>
#include <vector>

// The program's name before each of its messages.
inline const QString kMessagePrefix = QStringLiteral("zashchita-cli: ");

// One line on stdout, flushed at once so that a log piped into a file is
// complete up to the last reply. False when it could not be written (a full
// disk): StdoutFailure() then says why, and later lines are not tried.
bool PrintLine(const QString& line);
// Bytes on stdout as they are, flushed; false as for PrintLine.
bool PrintBytes(const QByteArray& bytes);
// Why stdout could not be written, empty while it could.
QString StdoutFailure();
// The end of a command whose output could not be written: says why on
// stderr and gives the exit code 1. A reader that went away (a closed pipe,
// `| head`) is no fault to tell: the command stops quietly, as a filter
// does, with the same code.
int OutputFailed();

// One message on stderr: "zashchita-cli: " and the text.
void Report(const QString& message);
// One line on stderr as it is.
void ReportLine(const QString& line);

// A CSV record (RFC 4180): fields holding a comma, a quote or a line break
// are quoted, quotes doubled.
QString CsvRecord(const QStringList& fields);

// One JSON object on one line, its members in the order given (a JSON
// object of Qt's would sort them).
using JsonMembers = std::vector<std::pair<QString, QJsonValue>>;
QString JsonLine(const JsonMembers& members);
