#include "Console.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <cerrno>
#include <cstdio>

#include "ExitCodes.h"
#include "history/ReadingsCsv.h"
#include "settings/AtomicFile.h"

namespace {

QString stdoutFailure;
bool stdoutClosed = false;   // the reader went away: EPIPE

bool WriteBytes(std::FILE* stream, const QByteArray& bytes)
{
    errno = 0;
    const bool written = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream) == size_t(bytes.size());
    return std::fflush(stream) == 0 && written;
}

// A JSON value as its text, by way of a list of one.
QString JsonText(const QJsonValue& value)
{
    const QByteArray list = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(list.mid(1, list.size() - 2));
}

}  // namespace

bool PrintBytes(const QByteArray& bytes)
{
    if (!stdoutFailure.isEmpty())
        return false;
    if (WriteBytes(stdout, bytes))
        return true;
    const int error = errno != 0 ? errno : EIO;
    stdoutClosed = error == EPIPE;
    stdoutFailure = SystemReason(error);
    return false;
}

bool PrintLine(const QString& line)
{
    return PrintBytes(line.toUtf8() + '\n');
}

QString StdoutFailure()
{
    return stdoutFailure;
}

int OutputFailed()
{
    if (!stdoutClosed)
        Report(QStringLiteral("cannot write the standard output: %1").arg(stdoutFailure));
    return kExitFailed;
}

void Report(const QString& message)
{
    ReportLine(kMessagePrefix + message);
}

void ReportLine(const QString& line)
{
    WriteBytes(stderr, line.toUtf8() + '\n');
}

QString CsvRecord(const QStringList& fields)
{
    return CsvLine(fields);   // quoted as the stored motor starts' samples are
}

QString JsonLine(const JsonMembers& members)
{
    QStringList parts;
    for (const auto& [key, value] : members)
        parts << JsonText(key) + QStringLiteral(": ") + JsonText(value);
    return QLatin1Char('{') + parts.join(QStringLiteral(", ")) + QLatin1Char('}');
}
