// The link every command opens, and the choice of command.
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "StopSignals.h"
#include "settings/JournalRecorder.h"

std::unique_ptr<RelayLink> OpenRelay(const CliOptions& options)
{
    auto link = std::make_unique<RelayLink>(
        LinkSettings{options.port, options.address, options.timeoutMs, options.retries});
    QString failure;
    if (!link->Open(failure)) {
        Report(failure);
        return nullptr;
    }
    // Every write this program makes goes into the journal of writes; one
    // that cannot be journalled is still made, and that is told once.
    auto* journal = new JournalRecorder(link->Session(), QStringLiteral("zashchita-cli"), JournalPath(), &link->Session());
    QObject::connect(journal, &JournalRecorder::journalFailed, [](const QString& path, const QString& reason) {
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

int RunRelayCommand(const CliOptions& options)
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
    const int code = RunRelayCommand(options);
    const int signal = stop.First();
    // A monitor runs until stopped, and a load stopped in its writes says
    // itself what the stop left.
    if (signal == 0 || options.command == CliCommand::Monitor || code == StopSignals::ExitCode(signal))
        return code;
    Report(QStringLiteral("interrupted by %1").arg(StopSignals::Name(signal)));
    return StopSignals::ExitCode(signal);
}

