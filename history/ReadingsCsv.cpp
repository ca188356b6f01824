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

// The fields of one CSV line as CsvLine writes them.
QStringList SplitCsvLine(const QString& line)
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
        } else if (c == QLatin1Char(',')) {
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

QString CsvLine(const QStringList& fields)
{
    QStringList out;
    for (const QString& f : fields)
        out << CsvField(f);
    return out.join(QLatin1Char(','));
}

QByteArray ReadingsCsv(const std::vector<BlockSample>& samples)
{
    QByteArray bytes = CsvLine(ReadingsCsvHeader()).toUtf8() + '\n';
    for (const BlockSample& s : samples)
        bytes += CsvLine(ReadingsCsvRow(s)).toUtf8() + '\n';
    return bytes;
}

std::optional<std::vector<BlockSample>> ParseReadingsCsv(const QByteArray& text)
{
    const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (lines.isEmpty() || SplitCsvLine(lines.first()) != ReadingsCsvHeader())
        return std::nullopt;
    std::vector<BlockSample> samples;
    for (qsizetype n = 1; n < lines.size(); ++n) {
        const QStringList fields = SplitCsvLine(lines[n]);
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
