// settings save, diff and load.
#include <QDateTime>
#include <QFileInfo>

#include <memory>
#include <optional>

#include "settings/AtomicFile.h"
#include "Commands.h"
#include "Console.h"
#include "ExitCodes.h"
#include "settings/IsoTime.h"
#include "settings/SettingsPlan.h"
#include "serial/ComPort.h"

namespace {

// A file of a thousand faults needs only the first few to be mended.
constexpr int kMaxListedErrors = 20;

// The file, checked whole; nullopt after reporting its faults.
std::optional<SettingsFile> LoadFile(const QString& path)
{
    const SettingsFileRead read = ReadSettingsFile(path);
    if (!read.ok) {
        for (const QString& error : read.errors.mid(0, kMaxListedErrors))
            Report(QStringLiteral("%1: %2").arg(path, error));
        if (read.errors.size() > kMaxListedErrors)
            Report(QStringLiteral("%1: and %2 more faults").arg(path).arg(read.errors.size() - kMaxListedErrors));
        Report(QStringLiteral("%1: refused; nothing was sent to the relay").arg(path));
        return std::nullopt;
    }
    return read.file;
}

std::optional<BlockRead> ReadSettings(RelayLink& link)
{
    BlockRead read = link.Read(kSettingsBlock);
    if (!read.ok) {
        Report(read.failure);
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
// refused (kExitBadUsage) or the relay cannot be read (`relayFailed`).
std::optional<FileAndRelay> LoadFileAndReadRelay(const CliOptions& options, int relayFailed, int& exitCode)
{
    std::optional<SettingsFile> file = LoadFile(options.file);
    if (!file) {
        exitCode = kExitBadUsage;
        return std::nullopt;
    }
    exitCode = relayFailed;
    std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return std::nullopt;
    std::optional<BlockRead> relay = ReadSettings(*link);
    if (!relay)
        return std::nullopt;
    return FileAndRelay{std::move(*file), std::move(link), std::move(*relay)};
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
        Report(QStringLiteral("stopped at %1 after %2 of %3 writes").arg(definition.name).arg(made)
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
        Report(QStringLiteral("%1; trying the relay's new address %2").arg(read.failure).arg(w.to));
        link.SetAddress(w.to);
        read = link.Read(kSettingsBlock);
        if (read.ok)
            return read;
    }
    Report(read.failure);
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
    const QString& path = options.file;
    const bool toStdout = path == kStandardOutputName;
    QString reason;
    if (!toStdout && !CheckWritable(path, reason)) {
        Report(QStringLiteral("cannot write %1: %2; nothing was sent to the relay").arg(path, reason));
        return kExitBadUsage;
    }
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    const std::optional<BlockRead> relay = ReadSettings(*link);
    if (!relay)
        return kExitRelayFailed;
    SettingsFile file;
    file.saved = IsoTimeText(QDateTime::currentDateTime(), IsoPrecision::Seconds);
    file.address = link->Address();
    for (const SettingSpec& definition : SettingSpecs())
        file.settings.push_back({&definition, relay->At(definition.reg)});
    const QString saved = QStringLiteral("saved %1 settings of the relay at address %2 to %3")
                              .arg(file.settings.size()).arg(file.address);

    if (toStdout) {
        if (!PrintBytes(SettingsText(file, SettingsFormat::Json))) {
            Report(QStringLiteral("cannot write the standard output: %1").arg(StdoutFailure()));
            return kExitFailed;
        }
        Report(saved.arg(QStringLiteral("the standard output")));
        return kExitDone;
    }
    const bool existed = QFileInfo::exists(path);
    if (!WriteFileAtomically(path, SettingsText(file, FormatForPath(path)), reason)) {
        Report(QStringLiteral("cannot write %1: %2; %3")
                   .arg(path, reason, existed ? QStringLiteral("the earlier file is as it was")
                                              : QStringLiteral("nothing was saved")));
        return kExitFailed;
    }
    PrintLine(saved.arg(path));
    return kExitDone;
}

int RunSettingsDiff(const CliOptions& options)
{
    try {
        int exitCode = kExitDiffTrouble;
        const std::optional<FileAndRelay> start = LoadFileAndReadRelay(options, kExitDiffTrouble, exitCode);
        if (!start)
            return kExitDiffTrouble;
        const std::vector<SettingDifference> differences = Differences(start->file, start->relay);
        for (const SettingDifference& d : differences)
            PrintLine(DifferenceLine(d));
        Report(QStringLiteral("%1 of the file's %2 settings differ").arg(differences.size())
                   .arg(start->file.settings.size()));
        return differences.empty() ? kExitDiffSame : kExitDiffer;
    } catch (const EComPort& e) {
        // Left to the caller, a failing device would end with 1, "they differ".
        Report(QStringLiteral("the port failed: %1").arg(e.Message()));
        return kExitDiffTrouble;
    }
}

int RunSettingsLoad(const CliOptions& options)
{
    int exitCode = kExitDone;
    const std::optional<FileAndRelay> start = LoadFileAndReadRelay(options, kExitRelayFailed, exitCode);
    if (!start)
        return exitCode;
    RelayLink& link = *start->link;

    const LoadPlan plan = PlanLoad(start->file, start->relay, options.includeAddress);
    if (!plan.outOfRange.isEmpty()) {
        for (const QString& value : plan.outOfRange)
            Report(QStringLiteral("%1: %2").arg(options.file, value));
        Report(QStringLiteral("%1: refused; nothing was written to the relay").arg(options.file));
        return kExitBadUsage;
    }
    for (const QString& note : plan.kept)
        PrintLine(QStringLiteral("kept %1").arg(note));
    if (plan.writes.empty()) {
        Report(QStringLiteral("nothing to write: the relay holds the file's settings"));
        return kExitDone;
    }
    if (!options.yes) {
        for (const PlannedWrite& w : plan.writes)
            PrintLine(QStringLiteral("would write %1: %2 -> %3")
                          .arg(SettingLabel(*w.definition), ValueWithUnit(*w.definition, w.from), ValueWithUnit(*w.definition, w.to)));
        Report(QStringLiteral("%1 writes to make; nothing written: add --yes to make them").arg(plan.writes.size()));
        return kExitDone;
    }

    const bool allConfirmed = MakeWrites(link, plan);
    const std::optional<BlockRead> after = ReadBack(link, plan);
    if (!after)
        return kExitRelayFailed;
    const int mismatches = ReportMismatches(plan, *after);
    if (mismatches == 1)
        Report(QStringLiteral("read back: 1 setting does not hold the file's value"));
    else if (mismatches > 1)
        Report(QStringLiteral("read back: %1 settings do not hold the file's value").arg(mismatches));
    else
        Report(QStringLiteral("read back: the relay holds the file's settings"));
    return allConfirmed && mismatches == 0 ? kExitDone : kExitRelayFailed;
}
