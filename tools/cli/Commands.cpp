// The link every command opens, and the choice of command.
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "settings/JournalRecorder.h"

std::unique_ptr<RelayLink> OpenRelay(const CliOptions& options)
{
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
        Report(QStringLiteral("cannot write the journal %1: %2; the writes to the relay go on without it").arg(path, reason));
    });
    return link;
}

int RunCommand(const CliOptions& options)
{
    switch (options.command) {
    case CliCommand::SettingsSave: return RunSettingsSave(options);
    case CliCommand::SettingsDiff: return RunSettingsDiff(options);
    case CliCommand::SettingsLoad: return RunSettingsLoad(options);
    case CliCommand::Records: return RunRecords(options);
    case CliCommand::Monitor: return RunMonitor(options);
    case CliCommand::Scan: return RunScan(options);
    case CliCommand::Journal: return RunJournal(options);
    }
    return kExitBadUsage;
}

