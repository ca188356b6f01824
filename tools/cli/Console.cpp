#include "Console.h"

#include <cstdio>

namespace {
void WriteLine(std::FILE* stream, const QString& line)
{
    const QByteArray bytes = line.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString CsvField(const QString& field)
{
    const bool quote = field.contains(QLatin1Char(',')) || field.contains(QLatin1Char('"'))
        || field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
    if (!quote)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}
}  // namespace

void PrintLine(const QString& line)
{
    WriteLine(stdout, line);
}

void ReportLine(const QString& line)
{
    WriteLine(stderr, line);
}

QString CsvRecord(const QStringList& fields)
{
    QStringList out;
    for (const QString& f : fields)
        out << CsvField(f);
    return out.join(QLatin1Char(','));
}
