// records: the four event records, each with its moment (the relay keeps no
// year: the PC's, or the year before when that would be in the future; a
// moment that is no date is said to be none), its status word by bit names
// and its values with units.
#include <QDateTime>
#include <QJsonArray>

#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "exchanges/EventRecords.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/BitText.h"
#include "report/TripArchive.h"

#include <QFile>
#include <optional>

namespace {

const char* const kIsoDate = "yyyy-MM-dd";
const char* const kIsoTime = "HH:mm:ss";
const QString kBitsColumn = QStringLiteral("Биты статуса");
// The relay's own fields of a record's moment, as it holds them.
const QStringList kRawMomentColumns{QStringLiteral("Месяц"), QStringLiteral("День"), QStringLiteral("Час"),
                                    QStringLiteral("Минута"), QStringLiteral("Секунда")};

struct Record {
    int number = 0;
    RelayClockFields fields;
    bool isDate = false;   // the fields make a real moment (not 30 February, not hour 24)
    QDateTime moment;      // when isDate
    BlockRead registers;
    std::optional<ArchivedRecord> origin;   // a record of the exporter's archive: where and when it was read
};

// The columns that say where an archived record comes from, as the archive names them.
const QStringList kOriginColumns{QStringLiteral("line"), QStringLiteral("relay"), QStringLiteral("address"),
                                 QStringLiteral("seen")};

QStringList OriginRow(const Record& r)
{
    return {r.origin->line, r.origin->relay, QString::number(r.origin->address),
            r.origin->seen.toUTC().toString(Qt::ISODate)};
}

// The caption of a record's moment field, as its tab shows it ("Дата", "Время").
QString MomentCaption(const char* pattern)
{
    const RegisterEntry* entry = FindRegister(QString::fromLatin1(pattern).arg(1));
    return entry ? EntryCaption(*entry) : QString();
}

QString ReadingText(const ReadingSpec& definition, uint16_t value)
{
    return definition.bitText ? WordToBitText(value) : QString::number(value);
}

QList<int> RawMoment(const Record& r)
{
    return {r.fields.month, r.fields.day, r.fields.hour, r.fields.minute, r.fields.second};
}

bool PrintText(const Record& r)
{
    const QString moment =
        r.isDate ? QStringLiteral("%1 %2").arg(ShortDateText(r.moment.date()), LongTimeText(r.moment.time()))
                 : QStringLiteral("not a date (month %1, day %2, hour %3, minute %4, second %5)")
                       .arg(r.fields.month).arg(r.fields.day).arg(r.fields.hour).arg(r.fields.minute)
                       .arg(r.fields.second);
    bool printed = true;
    if (r.origin)
        printed = PrintLine(QStringLiteral("%1/%2 (address %3), read %4:").arg(r.origin->line, r.origin->relay)
                                .arg(r.origin->address).arg(r.origin->seen.toUTC().toString(Qt::ISODate)));
    printed = PrintLine(QStringLiteral("%1: %2").arg(RecordName(r.number), moment)) && printed;
    for (const ReadingSpec& definition : BlockReadings(RecordBlock(r.number))) {
        const uint16_t value = r.registers.At(definition.reg);
        QString line = QStringLiteral("  %1: %2").arg(definition.caption, ReadingText(definition, value));
        if (definition.bitText) {
            const QStringList set = SetBitNames(BitNames(definition.reg), value);
            line += QStringLiteral(" (%1)").arg(set.join(QStringLiteral(", ")));
        }
        if (!definition.bitText && !definition.unit.isEmpty())
            line += QLatin1Char(' ') + definition.unit;
        printed = PrintLine(line) && printed;
    }
    return printed;
}

// One header for all four: the captions of record 1's tab, units in
// brackets, then the relay's own moment fields.
QStringList CsvHeader(bool archived = false)
{
    QStringList header = archived ? kOriginColumns : QStringList();
    header << QStringList{QStringLiteral("Протокол"), MomentCaption("DataP%1"), MomentCaption("TimeP%1")};
    for (const ReadingSpec& definition : BlockReadings(RecordBlock(1))) {
        header << definition.column;
        if (definition.bitText)
            header << kBitsColumn;
    }
    return header << kRawMomentColumns;
}

// A moment that is no date leaves its date and time empty.
QStringList CsvRow(const Record& r)
{
    QStringList row = r.origin ? OriginRow(r) : QStringList();
    row << QStringList{QString::number(r.number), r.isDate ? r.moment.date().toString(QLatin1String(kIsoDate)) : QString(),
                    r.isDate ? r.moment.time().toString(QLatin1String(kIsoTime)) : QString()};
    for (const ReadingSpec& definition : BlockReadings(RecordBlock(r.number))) {
        const uint16_t value = r.registers.At(definition.reg);
        row << ReadingText(definition, value);
        if (definition.bitText)
            row << SetBitNames(BitNames(definition.reg), value).join(QStringLiteral("; "));
    }
    for (int field : RawMoment(r))
        row << QString::number(field);
    return row;
}

// The CSV's columns as keys; a moment that is no date is null.
QString JsonRow(const Record& r)
{
    const QStringList header = CsvHeader();
    JsonMembers members;
    if (r.origin) {
        const QStringList origin = OriginRow(r);
        for (qsizetype k = 0; k < origin.size(); ++k)
            members.emplace_back(kOriginColumns[k], k == 2 ? QJsonValue(r.origin->address) : QJsonValue(origin[k]));
    }
    members.emplace_back(header[0], r.number);
    members.emplace_back(header[1], r.isDate ? QJsonValue(r.moment.date().toString(QLatin1String(kIsoDate))) : QJsonValue());
    members.emplace_back(header[2], r.isDate ? QJsonValue(r.moment.time().toString(QLatin1String(kIsoTime))) : QJsonValue());
    for (const ReadingSpec& definition : BlockReadings(RecordBlock(r.number))) {
        const uint16_t value = r.registers.At(definition.reg);
        if (definition.bitText) {
            members.emplace_back(definition.column, WordToBitText(value));
            members.emplace_back(kBitsColumn,
                                 QJsonArray::fromStringList(SetBitNames(BitNames(definition.reg), value)));
        } else {
            members.emplace_back(definition.column, int(value));
        }
    }
    const QList<int> raw = RawMoment(r);
    for (qsizetype k = 0; k < raw.size(); ++k)
        members.emplace_back(kRawMomentColumns[k], raw[k]);
    return JsonLine(members);
}

bool PrintRecord(const Record& r, OutputFormat format)
{
    switch (format) {
    case OutputFormat::Csv: return PrintLine(CsvRecord(CsvRow(r)));
    case OutputFormat::Jsonl: return PrintLine(JsonRow(r));
    case OutputFormat::Text: return PrintText(r);
    }
    return false;
}

bool PrintRecords(const std::vector<Record>& records, OutputFormat format, bool archived = false)
{
    bool printed = format != OutputFormat::Csv || PrintLine(CsvRecord(CsvHeader(archived)));
    for (const Record& r : records)
        printed = PrintRecord(r, format) && printed;
    return printed;
}

// The moment and whether it is a date, from the registers read at `now`.
void SetMoment(Record& r, const QDateTime& now)
{
    r.fields = ClockFieldsAt(RecordBlock(r.number).first, [&](int reg) { return r.registers.At(reg); });
    r.moment = RecordMoment(now, r.fields);
    // The year is this one or the last, so only a moment that is no date
    // comes back as the fallback of 2001.
    r.isDate = InRange(r.fields) && r.moment != RecordMomentFallback();
}

// The exporter's archive, line by line; a line that is no record is passed over and counted.
int RunArchive(const CliOptions& options)
{
    QFile file(options.archive);
    if (!file.open(QIODevice::ReadOnly)) {
        Report(QStringLiteral("cannot read %1: %2").arg(options.archive, file.errorString()));
        return kExitFailed;
    }
    constexpr qint64 kMaxLineBytes = 4096;
    int skipped = 0;
    // One header for the whole file, then a record at a time.
    bool printed = PrintRecords({}, options.format, true);
    while (!file.atEnd()) {
        const QByteArray text = file.readLine(kMaxLineBytes);
        ArchivedRecord archived;
        if (!TripArchive::ParseLine(text.trimmed(), archived)) {
            skipped += text.trimmed().isEmpty() ? 0 : 1;
            continue;
        }
        if (archived.registers.empty())
            continue;   // a relay looked at with its four slots empty: no record
        Record r;
        r.number = archived.slot;
        r.registers.block = RecordBlock(archived.slot);
        r.registers.values = archived.registers;
        r.registers.ok = true;
        r.origin = archived;
        SetMoment(r, archived.seen.toLocalTime());
        printed = PrintRecord(r, options.format) && printed;
    }
    if (skipped > 0)
        Report(QStringLiteral("%1: %2 line(s) that are no record passed over").arg(options.archive).arg(skipped));
    if (!printed) {
        Report(QStringLiteral("cannot write the standard output: %1").arg(StdoutFailure()));
        return kExitFailed;
    }
    return kExitDone;
}

}  // namespace

int RunRecords(const CliOptions& options)
{
    if (!options.archive.isEmpty())
        return RunArchive(options);
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    std::vector<Record> records;
    for (int n = 1; n <= kRecordCount; ++n) {
        Record r;
        r.number = n;
        r.registers = link->Read(RecordBlock(n));
        if (!r.registers.ok || r.registers.foreign) {
            Report(r.registers.ok ? link->ForeignReadText(RecordBlock(n)) : r.registers.failure);
            return kExitRelayFailed;
        }
        SetMoment(r, QDateTime::currentDateTime());
        records.push_back(r);
    }
    if (!PrintRecords(records, options.format)) {
        return OutputFailed();
    }
    return kExitDone;
}
