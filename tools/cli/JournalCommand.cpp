// journal: the journal of writes that the window and this program made to
// relays, oldest first, as lines or as CSV.
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
            e.outcome == JournalOutcome::Refused ? QString::number(e.exceptionCode) : QString(),
            e.outcome == JournalOutcome::Altered ? QString::number(e.stored) : QString(),
            QString::number(e.tries)};
}

}  // namespace

int RunJournal(const CliOptions& options)
{
    const QString path = JournalPath();
    const JournalRead read = ReadJournal(path);
    if (!read.failure.isEmpty()) {
        Report(QStringLiteral("cannot read the journal %1").arg(read.failure));
        return kExitFailed;
    }
    const bool csv = options.format == OutputFormat::Csv;
    bool ok = !csv
        || PrintLine(CsvRecord({QStringLiteral("time"), QStringLiteral("program"), QStringLiteral("device"),
                                QStringLiteral("address"), QStringLiteral("register"), QStringLiteral("name"),
                                QStringLiteral("caption"), QStringLiteral("before"), QStringLiteral("value"),
                                QStringLiteral("outcome"), QStringLiteral("exception"), QStringLiteral("stored"),
                                QStringLiteral("tries")}));
    for (size_t i = 0; ok && i < read.entries.size(); ++i)
        ok = PrintLine(csv ? CsvRecord(CsvFields(read.entries[i])) : EntryLine(read.entries[i]));
    if (!ok) {
        Report(QStringLiteral("cannot write the standard output: %1").arg(StdoutFailure()));
        return kExitFailed;
    }
    if (read.unreadable > 0)
        Report(QStringLiteral("%1: %2 lines are no journal entry and were left out").arg(path).arg(read.unreadable));
    if (read.entries.empty())
        Report(QStringLiteral("the journal %1 holds no writes").arg(path));
    return kExitDone;
}
