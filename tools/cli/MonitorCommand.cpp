// monitor: the current parameters polled without pause, one line per reply
// with the PC's time of it, for logging a motor start.
#include <QDateTime>
#include <QElapsedTimer>

#include <csignal>

#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"
#include "link/BitText.h"

namespace {

const char* const kStampFormat = "yyyy-MM-dd HH:mm:ss.zzz";
const char* const kClockFormat = "yyyy-MM-dd HH:mm:ss";
constexpr int kMillisPerSecond = 1000;

volatile std::sig_atomic_t stopAsked = 0;

extern "C" void AskStop(int)
{
    stopAsked = 1;
}

struct Reading {
    QDateTime at;       // the PC's time of the reply
    BlockRead block;
};

QDateTime RelayClock(const Reading& r)
{
    return RelayClockMoment(r.at.date(),
                            ClockFieldsAt(kClockFirstRegister, [&](int reg) { return r.block.At(reg); }));
}

QString ValueText(const ReadingSpec& definition, uint16_t value)
{
    return definition.format == ValueFormat::BitText ? WordToBitText(value) : QString::number(value);
}

QString BitNames(const ReadingSpec& definition, uint16_t value, const QString& separator)
{
    return SetBitNames(StatusBitNames(kCurrentParamsPage, definition.reg), value).join(separator);
}

QString TextLine(const Reading& r)
{
    QStringList parts;
    for (const ReadingSpec& definition : PageReadings(kCurrentParamsPage)) {
        const uint16_t value = r.block.At(definition.reg);
        QString part = QStringLiteral("%1: %2").arg(definition.caption, ValueText(definition, value));
        if (definition.format == ValueFormat::BitText)
            part += QStringLiteral(" (%1)").arg(BitNames(definition, value, QStringLiteral(", ")));
        else if (!definition.unit.isEmpty())
            part += QLatin1Char(' ') + definition.unit;
        parts << part;
    }
    const QDateTime clock = RelayClock(r);
    parts << QStringLiteral("Часы реле: %1 %2").arg(ShortDateText(clock.date()), LongTimeText(clock.time()));
    return r.at.toString(QLatin1String(kStampFormat)) + QStringLiteral("  ") + parts.join(QStringLiteral("; "));
}

QStringList CsvHeader()
{
    QStringList header{QStringLiteral("Время ПК")};
    for (const ReadingSpec& definition : PageReadings(kCurrentParamsPage)) {
        header << (definition.unit.isEmpty() ? definition.caption : QStringLiteral("%1 (%2)").arg(definition.caption, definition.unit));
        if (definition.format == ValueFormat::BitText)
            header << QStringLiteral("Биты статуса");
    }
    header << QStringLiteral("Часы реле");
    return header;
}

QStringList CsvRow(const Reading& r)
{
    QStringList row{r.at.toString(QLatin1String(kStampFormat))};
    for (const ReadingSpec& definition : PageReadings(kCurrentParamsPage)) {
        const uint16_t value = r.block.At(definition.reg);
        row << ValueText(definition, value);
        if (definition.format == ValueFormat::BitText)
            row << BitNames(definition, value, QStringLiteral("; "));
    }
    row << RelayClock(r).toString(QLatin1String(kClockFormat));
    return row;
}

}  // namespace

int RunMonitor(const CliOptions& options)
{
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    // Ctrl-C ends the log after the reply under way, with everything printed.
    stopAsked = 0;
    std::signal(SIGINT, AskStop);
    std::signal(SIGTERM, AskStop);

    if (options.csv)
        PrintLine(CsvRecord(CsvHeader()));
    QElapsedTimer running;
    running.start();
    const qint64 limitMs = qint64(options.seconds) * kMillisPerSecond;
    int replies = 0;
    while (!stopAsked && (limitMs == 0 || running.elapsed() < limitMs)) {
        Reading r;
        r.block = link->Read(kCurrentParamsBlock);
        r.at = QDateTime::currentDateTime();
        if (!r.block.ok) {
            ReportLine(QStringLiteral("%1  %2").arg(r.at.toString(QLatin1String(kStampFormat)), r.block.failure));
            continue;
        }
        ++replies;
        PrintLine(options.csv ? CsvRecord(CsvRow(r)) : TextLine(r));
    }
    const double seconds = double(running.elapsed()) / kMillisPerSecond;
    ReportLine(QStringLiteral("%1 replies in %2 s").arg(replies).arg(seconds, 0, 'f', 1));
    return replies > 0 ? kExitDone : kExitRelayFailed;
}
