// monitor: the current parameters polled every --interval ms, one line per
// poll with the PC's time of it, for logging a motor start. A failed poll
// gets its line too, with the reason, so that a gap shows in the log.
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QTimer>

#include <algorithm>
#include <climits>

#include "Commands.h"
#include "exchanges/CountWords.h"
#include "Console.h"
#include "ExitCodes.h"
#include "StopSignals.h"
#include "settings/IsoTime.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"
#include "exchanges/BitText.h"

namespace {

const char* const kClockFormat = "yyyy-MM-dd HH:mm:ss";
constexpr int kMillisPerSecond = 1000;

// Column names of CSV, and keys of JSON lines.
const QString kPcTimeColumn = QStringLiteral("Время ПК");
const QString kBitsColumn = QStringLiteral("Биты статуса");
const QString kClockColumn = QStringLiteral("Часы реле");
const QString kFailureColumn = QStringLiteral("Ошибка");
// Read while another master was on the line: the values may be its traffic's.
const QString kForeignColumn = QStringLiteral("Другой ведущий");

struct Reading {
    QDateTime at;       // the PC's time of the reply, or of the failure
    BlockRead block;
};

QString Stamp(const Reading& r)
{
    return IsoTimeText(r.at, IsoPrecision::Milliseconds);
}

QDateTime RelayClock(const Reading& r)
{
    return RelayClockMoment(r.at.date(),
                            ClockFieldsAt(kClockFirstRegister, [&](int reg) { return r.block.At(reg); }));
}

QString ValueText(const ReadingSpec& definition, uint16_t value)
{
    return definition.bitText ? WordToBitText(value) : QString::number(value);
}

QStringList BitNames(const ReadingSpec& definition, uint16_t value)
{
    return SetBitNames(::BitNames(definition.reg), value);
}

QString TextLine(const Reading& r)
{
    if (!r.block.ok)
        return QStringLiteral("%1  poll failed: %2").arg(Stamp(r), r.block.failure);
    QStringList parts;
    for (const ReadingSpec& definition : BlockReadings(kCurrentParamsBlock)) {
        const uint16_t value = r.block.At(definition.reg);
        QString part = QStringLiteral("%1: %2").arg(definition.caption, ValueText(definition, value));
        if (definition.bitText)
            part += QStringLiteral(" (%1)").arg(BitNames(definition, value).join(QStringLiteral(", ")));
        else if (!definition.unit.isEmpty())
            part += QLatin1Char(' ') + definition.unit;
        parts << part;
    }
    const QDateTime clock = RelayClock(r);
    parts << QStringLiteral("%1: %2 %3").arg(kClockColumn, ShortDateText(clock.date()), LongTimeText(clock.time()));
    QString line = Stamp(r) + QStringLiteral("  ") + parts.join(QStringLiteral("; "));
    if (r.block.foreign)
        line += QStringLiteral("  [foreign: read while another master was on the line]");
    return line;
}

QStringList CsvHeader()
{
    QStringList header{kPcTimeColumn};
    for (const ReadingSpec& definition : BlockReadings(kCurrentParamsBlock)) {
        header << definition.column;
        if (definition.bitText)
            header << kBitsColumn;
    }
    header << kClockColumn << kFailureColumn << kForeignColumn;
    return header;
}

QStringList CsvRow(const Reading& r)
{
    QStringList row{Stamp(r)};
    if (!r.block.ok) {
        // Empty values, so that a column holds only what the relay sent.
        for (qsizetype k = 3; k < CsvHeader().size(); ++k)
            row << QString();
        return row << r.block.failure << QString();
    }
    for (const ReadingSpec& definition : BlockReadings(kCurrentParamsBlock)) {
        const uint16_t value = r.block.At(definition.reg);
        row << ValueText(definition, value);
        if (definition.bitText)
            row << BitNames(definition, value).join(QStringLiteral("; "));
    }
    return row << RelayClock(r).toString(QLatin1String(kClockFormat)) << QString()
               << (r.block.foreign ? QStringLiteral("1") : QString());
}

QString JsonRow(const Reading& r)
{
    JsonMembers members{{kPcTimeColumn, Stamp(r)}};
    if (!r.block.ok) {
        members.emplace_back(kFailureColumn, r.block.failure);
        return JsonLine(members);
    }
    for (const ReadingSpec& definition : BlockReadings(kCurrentParamsBlock)) {
        const uint16_t value = r.block.At(definition.reg);
        if (definition.bitText) {
            members.emplace_back(definition.column, WordToBitText(value));
            members.emplace_back(kBitsColumn, QJsonArray::fromStringList(BitNames(definition, value)));
        } else {
            members.emplace_back(definition.column, int(value));
        }
    }
    members.emplace_back(kClockColumn, RelayClock(r).toString(QLatin1String(kClockFormat)));
    if (r.block.foreign)
        members.emplace_back(kForeignColumn, true);
    return JsonLine(members);
}

QString Line(const Reading& r, OutputFormat format)
{
    switch (format) {
    case OutputFormat::Csv: return CsvRecord(CsvRow(r));
    case OutputFormat::Jsonl: return JsonRow(r);
    case OutputFormat::Text: break;
    }
    return TextLine(r);
}

bool StopAsked()
{
    const StopSignals* stop = StopSignals::Current();
    return stop && stop->First() != 0;
}

// Waits until `clock` shows `untilMs`, or a stop signal arrives: the signal
// wakes the event loop this waits in.
void WaitUntil(const QElapsedTimer& clock, qint64 untilMs)
{
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    if (StopSignals* stop = StopSignals::Current())
        QObject::connect(stop, &StopSignals::caught, &loop, &QEventLoop::quit);
    while (!StopAsked()) {
        const qint64 left = untilMs - clock.elapsed();
        if (left <= 0)
            return;
        timer.start(int(std::min<qint64>(left, INT_MAX)));
        loop.exec();
    }
}

}  // namespace

int RunMonitor(const CliOptions& options)
{
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    // SIGINT, SIGTERM and SIGHUP end the log at once (a poll under way is
    // given up), with everything printed and the summary given.
    if (options.format == OutputFormat::Csv && !PrintLine(CsvRecord(CsvHeader()))) {
        return OutputFailed();
    }
    QElapsedTimer running;
    running.start();
    const qint64 limitMs = qint64(options.seconds) * kMillisPerSecond;
    qint64 nextPollMs = 0;
    int replies = 0, failures = 0;
    while (!StopAsked() && (limitMs == 0 || running.elapsed() < limitMs)) {
        Reading r;
        r.block = link->Read(kCurrentParamsBlock);
        r.at = QDateTime::currentDateTime();
        if (StopAsked() && !r.block.ok)
            break;   // the poll given up for the stop is no failure of the relay
        // A failed poll is told once, as a line of the log in its format.
        ++(r.block.ok ? replies : failures);
        if (!PrintLine(Line(r, options.format))) {
            return OutputFailed();
        }
        if (r.block.lineLost)
            break;   // nothing more will come: the log ends with the loss
        // The next poll is due one interval after this one was; after a
        // slow poll it goes out at once, and no burst catches up.
        nextPollMs = std::max(nextPollMs + options.intervalMs, running.elapsed());
        WaitUntil(running, limitMs == 0 ? nextPollMs : std::min(nextPollMs, limitMs));
    }
    const double seconds = double(running.elapsed()) / kMillisPerSecond;
    Report(QStringLiteral("%1 and %2 in %3 s")
               .arg(CountText(replies, QStringLiteral("reply"), QStringLiteral("replies")),
                    CountText(failures, QStringLiteral("failed poll"), QStringLiteral("failed polls")))
               .arg(seconds, 0, 'f', 1));
    return replies > 0 && !link->LineLost() ? kExitDone : kExitRelayFailed;
}
