// The link every command opens, and the choice of command.
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "StopSignals.h"
#include "serial/DeviceNames.h"
#include "settings/JournalRecorder.h"

namespace {

// A journal write failed in this run; a line was opened in this run.
bool journalFailed = false;
bool lineTried = false;

}  // namespace

std::unique_ptr<RelayLink> OpenRelay(const CliOptions& options)
{
    lineTried = true;
    auto link = std::make_unique<RelayLink>(
        LinkSettings{options.port, options.address, options.timeoutMs, options.retries,
                     options.lineTiming == QLatin1String("on")    ? SessionOptions::Timing::On
                     : options.lineTiming == QLatin1String("off") ? SessionOptions::Timing::Off
                                                                  : SessionOptions::Timing::Auto});
    QString failure;
    if (!link->Open(failure)) {
        Report(failure);
        return nullptr;
    }
    // Every write this program makes goes into the journal of writes; one
    // that cannot be journalled is still made, and that is told once.
    auto* journal = new JournalRecorder(link->Session(), QStringLiteral("zashchita-cli"), JournalPath(), &link->Session());
    QObject::connect(journal, &JournalRecorder::journalFailed, [](const QString& path, const QString& reason) {
        journalFailed = true;
        Report(QStringLiteral("cannot write the journal %1: %2; the writes to the relay go on without it").arg(path, reason));
    });
    // A stop signal gives up the question under way at once, whatever the
    // line does; the command ends with what it has. A command that ends its
    // own way (a load's writes) takes the signal over.
    if (StopSignals* stop = StopSignals::Current()) {
        RelayLink* raw = link.get();
        QObject::connect(stop, &StopSignals::caught, &link->Session(), [raw](int, int) {
            if (!StopSignals::TakenOver())
                raw->Abandon();
        });
    }
    return link;
}

namespace {

int RunChosen(const CliOptions& options)
{
    switch (options.command) {
    case CliCommand::SettingsSave: return RunSettingsSave(options);
    case CliCommand::SettingsDiff: return RunSettingsDiff(options);
    case CliCommand::SettingsLoad: return RunSettingsLoad(options);
    case CliCommand::Records: return RunRecords(options);
    case CliCommand::Monitor: return RunMonitor(options);
    case CliCommand::Scan: return RunScan(options);
    case CliCommand::Journal: break;
    }
    return kExitBadUsage;
}

}  // namespace

int RunCommand(const CliOptions& options)
{
    // The journal is a file read: a signal ends it as it would any program.
    if (options.command == CliCommand::Journal)
        return RunJournal(options);
    StopSignals stop;
    const int code = RunChosen(options);
    // A monitor runs until stopped, and a load stopped in its writes says
    // itself what the stop left.
    if (const int signal = stop.First();
        signal != 0 && options.command != CliCommand::Monitor && code != StopSignals::ExitCode(signal)) {
        Report(QStringLiteral("interrupted by %1").arg(StopSignals::Name(signal)));
        return StopSignals::ExitCode(signal);
    }
    const bool failed = options.command == CliCommand::SettingsDiff ? code == kExitDiffTrouble : code != kExitDone;
    // A relay that did not answer on a port nobody named: say which one it was.
    if (failed && lineTried && !options.portGiven && stop.First() == 0)
        Report(QStringLiteral("no --port was given, so the default %1 was used: %2; name the adapter's device "
                              "with --port (see ls /dev/serial/by-id)")
                   .arg(options.port, DeviceNames::DevicePathFor(options.port)));
    // A write journalled nowhere is a file not written: the status says so.
    if (journalFailed && code == kExitDone)
        return kExitFailed;
    return code;
}
