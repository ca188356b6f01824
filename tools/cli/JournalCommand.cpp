// journal: the journal of writes that the window and this program made to
// relays, oldest first, as lines, as CSV or as JSON lines, read and printed
// one entry at a time.
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "settings/Journal.h"

namespace {

QString BeforeText(const JournalEntry& e)
{
    return e.before ? QString::number(*e.before) : QString();
}

QString EntryLine(const JournalEntry& e)
{
    const QString setting = e.name.isEmpty() ? QStringLiteral("register %1").arg(e.reg)
                                             : QStringLiteral("%1 (%2) %3").arg(e.name).arg(e.reg).arg(e.caption);
    return QStringLiteral("%1 %2 %3 address %4 %5: %6 -> %7: %8")
        .arg(e.time, e.program, e.device.isEmpty() ? QStringLiteral("-") : e.device)
        .arg(e.address)
        .arg(setting, e.before ? QString::number(*e.before) : QStringLiteral("?"))
        .arg(e.value)
        .arg(OutcomeText(e));
}

QStringList CsvFields(const JournalEntry& e)
{
    return {e.time,
            e.program,
            e.device,
            QString::number(e.address),
            QString::number(e.reg),
            e.name,
            e.caption,
            BeforeText(e),
            QString::number(e.value),
            OutcomeWord(e.outcome),
            e.outcome == Outcome::Refused ? QString::number(e.exceptionCode) : QString(),
            e.outcome == Outcome::Altered ? QString::number(e.stored) : QString(),
            QString::number(e.tries)};
}

}  // namespace

int RunJournal(const CliOptions& options)
{
    const QString path = JournalPath();
    const bool csv = options.format == OutputFormat::Csv;
    bool printed = !csv
        || PrintLine(CsvRecord({QStringLiteral("time"), QStringLiteral("program"), QStringLiteral("device"),
                                QStringLiteral("address"), QStringLiteral("register"), QStringLiteral("name"),
                                QStringLiteral("caption"), QStringLiteral("before"), QStringLiteral("value"),
                                QStringLiteral("outcome"), QStringLiteral("exception"), QStringLiteral("stored"),
                                QStringLiteral("tries")}));
    // One entry at a time from the file to the output, whatever its size.
    const JournalScan scan = ScanJournal(path, [&](const JournalEntry& e) {
        switch (options.format) {
        case OutputFormat::Csv: printed = printed && PrintLine(CsvRecord(CsvFields(e))); break;
        case OutputFormat::Jsonl: printed = printed && PrintBytes(JournalLine(e)); break;
        case OutputFormat::Text: printed = printed && PrintLine(EntryLine(e)); break;
        }
        return printed;
    });
    if (!printed)
        return OutputFailed();
    if (!scan.failure.isEmpty()) {
        Report(QStringLiteral("cannot read the journal %1").arg(scan.failure));
        return kExitFailed;
    }
    if (scan.unreadable > 0)
        Report(QStringLiteral("%1: %2 left out").arg(path).arg(scan.unreadable == 1
                                                                   ? QStringLiteral("1 line is no journal entry and was")
                                                                   : QStringLiteral("%1 lines are no journal entry and were")
                                                                         .arg(scan.unreadable)));
    if (scan.entries == 0)
        Report(QStringLiteral("the journal %1 holds no writes").arg(path));
    return kExitDone;
}
