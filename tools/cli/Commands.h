// The commands. Each returns the program's exit code.
#pragma once

#include <memory>

#include "CliOptions.h"
#include "RelayLink.h"

int RunSettingsSave(const CliOptions& options);
int RunSettingsDiff(const CliOptions& options);
int RunSettingsLoad(const CliOptions& options);
int RunRecords(const CliOptions& options);
int RunMonitor(const CliOptions& options);
int RunScan(const CliOptions& options);
int RunJournal(const CliOptions& options);

// The command the options name.
int RunCommand(const CliOptions& options);

// The link the options name, opened; nullptr after reporting why not.
std::unique_ptr<RelayLink> OpenRelay(const CliOptions& options);
