// The link every command opens, and the choice of command.
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"

std::unique_ptr<RelayLink> OpenRelay(const CliOptions& options)
{
    auto link = std::make_unique<RelayLink>(
        LinkSettings{options.port, options.address, options.timeoutMs, options.retries});
    QString failure;
    if (!link->Open(failure)) {
        Report(failure);
        return nullptr;
    }
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
    }
    return kExitBadUsage;
}

