// records: the four event records, each with its moment (the relay keeps no
// year: the PC's, or the year before when that would be in the future),
// its status word by bit names and its values with units.
#include <QDateTime>

#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "exchanges/EventRecords.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"
#include "exchanges/LocaleFormats.h"
#include "link/BitText.h"

namespace {

const char* const kIsoDate = "yyyy-MM-dd";
const char* const kIsoTime = "HH:mm:ss";

struct Record {
    int number = 0;
    QDateTime moment;
    BlockRead registers;
};

QString PageCaption(int page)
{
    return LayoutTables()[size_t(page)].caption;
}

// The caption of a record's moment field, as its tab shows it ("Дата", "Время").
QString MomentCaption(const char* pattern)
{
    const ControlRow* row = FindRow(QString::fromLatin1(pattern).arg(1));
    return row ? RowCaption(*row) : QString();
}

QString ReadingText(const ReadingSpec& definition, uint16_t value)
{
    return definition.format == ValueFormat::BitText ? WordToBitText(value) : QString::number(value);
}

void PrintText(const Record& r)
{
    const int page = RecordPage(r.number);
    PrintLine(QStringLiteral("%1: %2 %3").arg(PageCaption(page), ShortDateText(r.moment.date()),
                                              LongTimeText(r.moment.time())));
    for (const ReadingSpec& definition : PageReadings(page)) {
        const uint16_t value = r.registers.At(definition.reg);
        QString line = QStringLiteral("  %1: %2").arg(definition.caption, ReadingText(definition, value));
        if (definition.format == ValueFormat::BitText) {
            const QStringList set = SetBitNames(StatusBitNames(page, definition.reg), value);
            line += QStringLiteral(" (%1)").arg(set.join(QStringLiteral(", ")));
        }
        if (definition.format != ValueFormat::BitText && !definition.unit.isEmpty())
            line += QLatin1Char(' ') + definition.unit;
        PrintLine(line);
    }
}

// One header for all four: the captions of record 1's tab, units in brackets.
QStringList CsvHeader()
{
    QStringList header{QStringLiteral("Протокол"), MomentCaption("DataP%1"), MomentCaption("TimeP%1")};
    for (const ReadingSpec& definition : PageReadings(RecordPage(1))) {
        header << (definition.unit.isEmpty() ? definition.caption : QStringLiteral("%1 (%2)").arg(definition.caption, definition.unit));
        if (definition.format == ValueFormat::BitText)
            header << QStringLiteral("Биты статуса");
    }
    return header;
}

QStringList CsvRow(const Record& r)
{
    const int page = RecordPage(r.number);
    QStringList row{QString::number(r.number), r.moment.date().toString(QLatin1String(kIsoDate)),
                    r.moment.time().toString(QLatin1String(kIsoTime))};
    for (const ReadingSpec& definition : PageReadings(page)) {
        const uint16_t value = r.registers.At(definition.reg);
        row << ReadingText(definition, value);
        if (definition.format == ValueFormat::BitText)
            row << SetBitNames(StatusBitNames(page, definition.reg), value).join(QStringLiteral("; "));
    }
    return row;
}

}  // namespace

int RunRecords(const CliOptions& options)
{
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    std::vector<Record> records;
    for (int n = 1; n <= kRecordCount; ++n) {
        Record r;
        r.number = n;
        r.registers = link->Read(RecordBlock(n));
        if (!r.registers.ok) {
            ReportLine(r.registers.failure);
            return kExitRelayFailed;
        }
        const int first = RecordBlock(n).first;
        r.moment = RecordMoment(QDateTime::currentDateTime(),
                                ClockFieldsAt(first, [&](int reg) { return r.registers.At(reg); }));
        records.push_back(r);
    }
    if (options.csv) {
        PrintLine(CsvRecord(CsvHeader()));
        for (const Record& r : records)
            PrintLine(CsvRecord(CsvRow(r)));
        return kExitDone;
    }
    for (const Record& r : records)
        PrintText(r);
    return kExitDone;
}
