#include "history/ReadingsCsv.h"

#include <QDateTime>

#include "exchanges/CurrentParams.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"
#include "exchanges/BitText.h"
#include "settings/IsoTime.h"

namespace {

const QString kPcTimeColumn = QStringLiteral("Время ПК");
const QString kBitsColumn = QStringLiteral("Биты статуса");
const QString kClockColumn = QStringLiteral("Часы реле");
const QString kFailureColumn = QStringLiteral("Ошибка");
const char* const kClockFormat = "yyyy-MM-dd HH:mm:ss";

QString ColumnName(const ReadingSpec& definition)
{
    return definition.unit.isEmpty() ? definition.caption
                                     : QStringLiteral("%1 (%2)").arg(definition.caption, definition.unit);
}

const std::vector<ReadingSpec>& Readings()
{
    static const std::vector<ReadingSpec> readings = BlockReadings(kCurrentParamsBlock);
    return readings;
}

const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

QString CsvField(const QString& field, QChar separator)
{
    const bool quote = field.contains(separator) || field.contains(QLatin1Char('"'))
        || field.contains(QLatin1Char('\n')) || field.contains(QLatin1Char('\r'));
    if (!quote)
        return field;
    QString quoted = field;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

// The fields of one CSV line as CsvLine writes them.
QStringList SplitCsvLine(const QString& line, QChar separator)
{
    QStringList fields;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == separator) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    fields << field;
    return fields;
}

}  // namespace

CsvStyle CsvStyle::ForUser(const QLocale& locale)
{
    const QString chosen = qEnvironmentVariable("ZASHCHITA_CSV").trimmed().toLower();
    const bool semicolon = chosen == QLatin1String("semicolon") ? true
        : chosen == QLatin1String("comma")                      ? false
                                                                : locale.decimalPoint() == QLatin1String(",");
    return semicolon ? CsvStyle{QLatin1Char(';'), QLatin1Char(',')} : CsvStyle{};
}

QString CsvStyle::Number(double value, int decimals) const
{
    QString text = QString::number(value, 'f', decimals);
    if (decimal != QLatin1Char('.'))
        text.replace(QLatin1Char('.'), decimal);
    return text;
}

int TrendRegister(int channel)
{
    static const int kRegisters[kTrendChannels] = {50, 51, 52, 56, 53};
    return kRegisters[channel];
}

QString TrendCaption(int channel)
{
    static const char* const kCaptions[kTrendChannels] = {"Ток фазы А, %", "Ток фазы В, %", "Ток фазы С, %",
                                                           "Тепловой импульс, %", "Сопротивление изоляции, кОм"};
    return QString::fromUtf8(kCaptions[channel]);
}

QStringList ReadingsCsvHeader()
{
    QStringList header{kPcTimeColumn};
    for (const ReadingSpec& definition : Readings()) {
        header << ColumnName(definition);
        if (definition.bitText)
            header << kBitsColumn;
    }
    return header << kClockColumn << kFailureColumn;
}

QStringList ReadingsCsvRow(const BlockSample& sample)
{
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(sample.ms);
    QStringList row{IsoTimeText(at, IsoPrecision::Milliseconds)};
    for (const ReadingSpec& definition : Readings()) {
        const uint16_t value = sample.At(definition.reg);
        if (definition.bitText)
            row << WordToBitText(value) << SetBitNames(BitNames(definition.reg), value).join(QStringLiteral("; "));
        else
            row << QString::number(value);
    }
    const QDateTime clock
        = RelayClockMoment(at.date(), ClockFieldsAt(kClockFirstRegister, [&](int reg) { return sample.At(reg); }));
    return row << clock.toString(QLatin1String(kClockFormat)) << QString();
}

QString CsvLine(const QStringList& fields, QChar separator)
{
    QStringList out;
    for (const QString& f : fields)
        out << CsvField(f, separator);
    return out.join(separator);
}

QByteArray CsvText(const std::vector<QStringList>& rows, const CsvStyle& style)
{
    QByteArray bytes = style.separator == QLatin1Char(',') ? QByteArray() : kByteOrderMark;
    for (const QStringList& row : rows)
        bytes += CsvLine(row, style.separator).toUtf8() + '\n';
    return bytes;
}

QByteArray ReadingsCsv(const std::vector<BlockSample>& samples, const CsvStyle& style)
{
    std::vector<QStringList> rows{ReadingsCsvHeader()};
    rows.reserve(samples.size() + 1);
    for (const BlockSample& s : samples)
        rows.push_back(ReadingsCsvRow(s));
    return CsvText(rows, style);
}

std::vector<QStringList> SplitCsv(const QByteArray& text)
{
    const QByteArray body = text.startsWith(kByteOrderMark) ? text.mid(kByteOrderMark.size()) : text;
    const QStringList lines = QString::fromUtf8(body).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    std::vector<QStringList> rows;
    if (lines.isEmpty())
        return rows;
    // The header's first field is plain text: a ';' before any ',' is the separator.
    const qsizetype semicolon = lines.first().indexOf(QLatin1Char(';'));
    const qsizetype comma = lines.first().indexOf(QLatin1Char(','));
    const QChar separator = semicolon >= 0 && (comma < 0 || semicolon < comma) ? QLatin1Char(';') : QLatin1Char(',');
    rows.reserve(size_t(lines.size()));
    for (const QString& line : lines)
        rows.push_back(SplitCsvLine(line, separator));
    return rows;
}

std::optional<std::vector<BlockSample>> ParseReadingsCsv(const QByteArray& text)
{
    const std::vector<QStringList> lines = SplitCsv(text);
    if (lines.empty() || lines.front() != ReadingsCsvHeader())
        return std::nullopt;
    std::vector<BlockSample> samples;
    for (size_t n = 1; n < lines.size(); ++n) {
        const QStringList& fields = lines[n];
        if (fields.size() != ReadingsCsvHeader().size())
            continue;
        const QDateTime at = QDateTime::fromString(fields[0], Qt::ISODateWithMs);
        if (!at.isValid())
            continue;
        BlockSample s;
        s.ms = at.toMSecsSinceEpoch();
        qsizetype column = 1;
        bool ok = true;
        for (const ReadingSpec& definition : Readings()) {
            const QString field = fields[column++];
            const uint value = definition.bitText ? BitTextToWord(field) : field.toUInt(&ok);
            if (!ok || value > 0xFFFF)
                break;
            s.Set(definition.reg, uint16_t(value));
            if (definition.bitText)
                ++column;
        }
        if (ok)
            samples.push_back(s);
    }
    return samples;
}
