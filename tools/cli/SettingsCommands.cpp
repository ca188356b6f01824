// settings save, diff and load.
#include <QDateTime>

#include <memory>
#include <optional>

#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "SettingsPlan.h"

namespace {

// The file, checked whole; nullopt after reporting every fault.
std::optional<SettingsFile> LoadFile(const QString& path)
{
    const SettingsFileRead read = ReadSettingsFile(path);
    if (!read.ok) {
        for (const QString& error : read.errors)
            ReportLine(QStringLiteral("%1: %2").arg(path, error));
        ReportLine(QStringLiteral("%1: refused; nothing was sent to the relay").arg(path));
        return std::nullopt;
    }
    return read.file;
}

std::optional<BlockRead> ReadSettings(RelayLink& link)
{
    BlockRead read = link.Read(kSettingsBlock);
    if (!read.ok) {
        ReportLine(read.failure);
        return std::nullopt;
    }
    return read;
}

// What diff and load start from: the file, checked before the port is even
// opened, and the relay's settings as they stand.
struct FileAndRelay {
    SettingsFile file;
    std::unique_ptr<RelayLink> link;
    BlockRead relay;
};

// nullopt, with the exit code to end with in `exitCode`, when the file is
// refused or the relay cannot be read.
std::optional<FileAndRelay> LoadFileAndReadRelay(const CliOptions& options, int& exitCode)
{
    std::optional<SettingsFile> file = LoadFile(options.file);
    if (!file) {
        exitCode = kExitBadUsage;
        return std::nullopt;
    }
    exitCode = kExitRelayFailed;
    std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return std::nullopt;
    std::optional<BlockRead> relay = ReadSettings(*link);
    if (!relay)
        return std::nullopt;
    return FileAndRelay{std::move(*file), std::move(link), std::move(*relay)};
}

QString SavedNow()
{
    const QDateTime now = QDateTime::currentDateTime();
    return now.toOffsetFromUtc(now.offsetFromUtc()).toString(Qt::ISODate);
}

// Makes the writes in order; stops at the first one the relay does not
// confirm with its exact echo. Returns whether all were confirmed.
bool MakeWrites(RelayLink& link, const LoadPlan& plan)
{
    int made = 0;
    for (const PlannedWrite& w : plan.writes) {
        const SettingSpec& definition = *w.definition;
        const RegisterWrite result = link.Write(definition.reg, w.to);
        QString line;
        switch (result.outcome) {
        case WriteOutcome::Confirmed:
            PrintLine(QStringLiteral("wrote %1: %2 -> %3")
                          .arg(SettingLabel(definition), ValueWithUnit(definition, w.from), ValueWithUnit(definition, w.to)));
            ++made;
            continue;
        case WriteOutcome::Refused:
            line = QStringLiteral("refused %1: the relay answered %2 with exception %3")
                       .arg(SettingLabel(definition), ValueWithUnit(definition, w.to), ExceptionText(result.exceptionCode));
            break;
        case WriteOutcome::Altered:
            line = QStringLiteral("altered %1: the relay stored %2 instead of %3")
                       .arg(SettingLabel(definition), ValueWithUnit(definition, result.stored), ValueWithUnit(definition, w.to));
            break;
        case WriteOutcome::NoEcho:
            line = QStringLiteral("unconfirmed %1: no echo to the write of %2")
                       .arg(SettingLabel(definition), ValueWithUnit(definition, w.to));
            break;
        }
        PrintLine(line);
        ReportLine(QStringLiteral("stopped at %1 after %2 of %3 writes").arg(definition.name).arg(made)
                       .arg(plan.writes.size()));
        return false;
    }
    return true;
}

// Reads the block back; the relay's own address, when just written, may
// have moved the relay to its new address.
std::optional<BlockRead> ReadBack(RelayLink& link, const LoadPlan& plan)
{
    BlockRead read = link.Read(kSettingsBlock);
    if (read.ok)
        return read;
    for (const PlannedWrite& w : plan.writes) {
        if (w.definition->reg != kRelayAddressRegister || w.to == link.Address())
            continue;
        ReportLine(QStringLiteral("%1; trying the relay's new address %2").arg(read.failure).arg(w.to));
        link.SetAddress(w.to);
        read = link.Read(kSettingsBlock);
        if (read.ok)
            return read;
    }
    ReportLine(read.failure);
    return std::nullopt;
}

// Every setting of the plan that does not read back as expected.
int ReportMismatches(const LoadPlan& plan, const BlockRead& relay)
{
    int mismatches = 0;
    for (const SettingValue& s : plan.expected) {
        const uint16_t held = relay.At(s.definition->reg);
        if (held == s.value)
            continue;
        PrintLine(QStringLiteral("mismatch %1: the relay holds %2, not %3")
                      .arg(SettingLabel(*s.definition), ValueWithUnit(*s.definition, held), ValueWithUnit(*s.definition, s.value)));
        ++mismatches;
    }
    return mismatches;
}

}  // namespace

int RunSettingsSave(const CliOptions& options)
{
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    const std::optional<BlockRead> relay = ReadSettings(*link);
    if (!relay)
        return kExitRelayFailed;
    SettingsFile file;
    file.saved = SavedNow();
    file.address = link->Address();
    for (const SettingSpec& definition : SettingSpecs())
        file.settings.push_back({&definition, relay->At(definition.reg)});
    QString error;
    if (!WriteSettingsFile(options.file, file, error)) {
        ReportLine(error);
        return kExitBadUsage;
    }
    PrintLine(QStringLiteral("saved %1 settings of the relay at address %2 to %3")
                  .arg(file.settings.size()).arg(file.address).arg(options.file));
    return kExitDone;
}

int RunSettingsDiff(const CliOptions& options)
{
    int exitCode = kExitDone;
    const std::optional<FileAndRelay> start = LoadFileAndReadRelay(options, exitCode);
    if (!start)
        return exitCode;
    const std::vector<SettingDifference> differences = Differences(start->file, start->relay);
    for (const SettingDifference& d : differences)
        PrintLine(DifferenceLine(d));
    ReportLine(QStringLiteral("%1 of the file's %2 settings differ").arg(differences.size())
                   .arg(start->file.settings.size()));
    return kExitDone;
}

int RunSettingsLoad(const CliOptions& options)
{
    int exitCode = kExitDone;
    const std::optional<FileAndRelay> start = LoadFileAndReadRelay(options, exitCode);
    if (!start)
        return exitCode;
    RelayLink& link = *start->link;

    const LoadPlan plan = PlanLoad(start->file, start->relay, options.includeAddress);
    for (const QString& note : plan.kept)
        PrintLine(QStringLiteral("kept %1").arg(note));
    if (plan.writes.empty()) {
        ReportLine(QStringLiteral("nothing to write: the relay holds the file's settings"));
        return kExitDone;
    }
    if (!options.yes) {
        for (const PlannedWrite& w : plan.writes)
            PrintLine(QStringLiteral("would write %1: %2 -> %3")
                          .arg(SettingLabel(*w.definition), ValueWithUnit(*w.definition, w.from), ValueWithUnit(*w.definition, w.to)));
        ReportLine(QStringLiteral("%1 writes to make; nothing written: add --yes to make them")
                       .arg(plan.writes.size()));
        return kExitDone;
    }

    const bool allConfirmed = MakeWrites(link, plan);
    const std::optional<BlockRead> after = ReadBack(link, plan);
    if (!after)
        return kExitRelayFailed;
    const int mismatches = ReportMismatches(plan, *after);
    if (mismatches == 1)
        ReportLine(QStringLiteral("read back: 1 setting does not hold the file's value"));
    else if (mismatches > 1)
        ReportLine(QStringLiteral("read back: %1 settings do not hold the file's value").arg(mismatches));
    else
        ReportLine(QStringLiteral("read back: the relay holds the file's settings"));
    return allConfirmed && mismatches == 0 ? kExitDone : kExitRelayFailed;
}
