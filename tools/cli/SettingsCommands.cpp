// settings save, diff and load.
#include <QDateTime>
#include <QFileInfo>

#include <memory>
#include <optional>

#include "Commands.h"
#include "exchanges/CountWords.h"
#include "ZashchitaVersion.h"
#include "Console.h"
#include "ExitCodes.h"
#include "LoadWrites.h"
#include "StopSignals.h"
#include "settings/AtomicFile.h"
#include "settings/IsoTime.h"
#include "settings/SettingsPlan.h"

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
        if (const qsizetype more = read.errors.size() - kMaxListedErrors; more > 0)
            Report(QStringLiteral("%1: and %2 more %3")
                       .arg(path).arg(more).arg(more == 1 ? QStringLiteral("fault") : QStringLiteral("faults")));
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
    if (read.foreign) {
        Report(link.ForeignReadText(kSettingsBlock));
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
    file.port = link->DevicePath();
    file.program = QStringLiteral("zashchita-cli %1").arg(QLatin1String(ZASHCHITA_VERSION));
    for (const SettingSpec& definition : SettingSpecs())
        file.settings.push_back({&definition, relay->At(definition.reg)});
    const QString saved = QStringLiteral("saved %1 of the relay at address %2 to %3")
                              .arg(CountText(qint64(file.settings.size()), QStringLiteral("setting"),
                                             QStringLiteral("settings")))
                              .arg(file.address);

    if (toStdout) {
        if (!PrintBytes(SettingsText(file, SettingsFormat::Json)))
            return OutputFailed();
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
    // A port or relay that fails is trouble (2), never "they differ" (1).
    int exitCode = kExitDiffTrouble;
    const std::optional<FileAndRelay> start = LoadFileAndReadRelay(options, kExitDiffTrouble, exitCode);
    if (!start)
        return kExitDiffTrouble;
    // What a load keeps as the relay holds it (mask bits without a box, the
    // relay's own address without --include-address) is no difference: a
    // load that ends with the file's settings in the relay is followed by a
    // diff that finds none.
    std::optional<SettingDifference> addressKept;
    const std::vector<SettingDifference> differences =
        Differences(start->file, start->relay, options.includeAddress, &addressKept);
    for (const SettingDifference& d : differences)
        PrintLine(DifferenceLine(d));
    if (addressKept)
        Report(QStringLiteral("not counted: %1 (compared only with --include-address)").arg(DifferenceLine(*addressKept)));
    Report(QStringLiteral("%1 of the file's %2 %3").arg(differences.size())
               .arg(CountText(qint64(start->file.settings.size()), QStringLiteral("setting"),
                              QStringLiteral("settings")),
                    differences.size() == 1 ? QStringLiteral("differs") : QStringLiteral("differ")));
    return differences.empty() ? kExitDiffSame : kExitDiffer;
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
        Report(QStringLiteral("%1 to make; nothing written: add --yes to make %2")
                   .arg(CountText(qint64(plan.writes.size()), QStringLiteral("write"), QStringLiteral("writes")),
                        plan.writes.size() == 1 ? QStringLiteral("it") : QStringLiteral("them")));
        return kExitDone;
    }

    // A stop signal from here on ends the load after the write in flight
    // (a second one at once), with what was and was not written.
    std::unique_ptr<StopSignals> own;   // when run without the program's own
    if (!StopSignals::Current())
        own = std::make_unique<StopSignals>();
    return LoadExitCode(RunLoadWrites(link, plan, *StopSignals::Current()));
}
