// scan: finds the relays on a line by asking each address briefly for
// register 80, the relay's own address; an address that answers is asked
// once more on a quiet line (AddressProbe), and only one answered twice is
// told. Each device that answers is
// printed as soon as it is found; the progress goes to standard error.
#include <unistd.h>

#include <algorithm>

#include "Commands.h"
#include "exchanges/CountWords.h"
#include "Console.h"
#include "ExitCodes.h"
#include "exchanges/RegisterCatalog.h"
#include "settings/SettingsPlan.h"

namespace {

constexpr RegisterBlock kAddressBlock{kRelayAddressRegister, 1};
// Without a terminal the progress is a line at every tenth of the range, at
// most one every ten addresses.
constexpr int kProgressSteps = 10;
// Back to the start of the terminal's line and clear it.
const QString kClearLine = QStringLiteral("\r\033[K");

const QString kAddressColumn = QStringLiteral("address");
const QString kExceptionColumn = QStringLiteral("exception");

struct Found {
    int address = 0;
    BlockRead read;   // ok, or refused with its exception
};

const SettingSpec* AddressSetting()
{
    for (const SettingSpec& definition : SettingSpecs())
        if (definition.reg == kRelayAddressRegister)
            return &definition;
    return nullptr;
}

// The setting's name (NSE1), as the settings files have it.
QString ValueColumn()
{
    const SettingSpec* definition = AddressSetting();
    return definition ? definition->name : QString::number(kRelayAddressRegister);
}

QString FoundLine(const Found& f, OutputFormat format)
{
    const QString value = f.read.ok ? QString::number(f.read.At(kRelayAddressRegister)) : QString();
    const QString exception = f.read.refused ? QString::number(f.read.exceptionCode) : QString();
    switch (format) {
    case OutputFormat::Csv:
        return CsvRecord({QString::number(f.address), value, exception});
    case OutputFormat::Jsonl: {
        JsonMembers members{{kAddressColumn, f.address}};
        if (f.read.ok)
            members.emplace_back(ValueColumn(), int(f.read.At(kRelayAddressRegister)));
        else
            members.emplace_back(kExceptionColumn, f.read.exceptionCode);
        return JsonLine(members);
    }
    case OutputFormat::Text:
        break;
    }
    const SettingSpec* definition = AddressSetting();
    if (f.read.refused)
        return QStringLiteral("address %1: refused to read register %2: exception %3")
            .arg(f.address).arg(kRelayAddressRegister).arg(ExceptionText(f.read.exceptionCode));
    return QStringLiteral("address %1: %2: %3")
        .arg(f.address)
        .arg(definition ? SettingLabel(*definition) : QStringLiteral("register %1").arg(kRelayAddressRegister))
        .arg(value);
}

// The progress on standard error: one line kept up to date on a terminal,
// a line at every tenth of the range otherwise.
class Progress {
public:
    Progress(int from, int to) : from_(from), to_(to), terminal_(::isatty(STDERR_FILENO) == 1) {}

    void Asking(int address, int answered)
    {
        const int done = address - from_;
        const int total = to_ - from_ + 1;
        if (terminal_) {
            Show(kClearLine + kMessagePrefix
                 + QStringLiteral("scanning address %1 (%2 to %3), %4 answered").arg(address).arg(from_).arg(to_)
                       .arg(answered));
            return;
        }
        const int step = std::max(total / kProgressSteps, kProgressSteps);
        if (done > 0 && done % step == 0)
            Report(QStringLiteral("scanned %1 of %2, %3 answered")
                       .arg(done).arg(CountText(total, QStringLiteral("address"), QStringLiteral("addresses")))
                       .arg(answered));
    }
    // Before a line of its own on either output.
    void Clear()
    {
        if (terminal_)
            Show(kClearLine);
    }

private:
    static void Show(const QString& text)
    {
        const QByteArray bytes = text.toUtf8();
        [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, bytes.constData(), size_t(bytes.size()));
    }

    int from_;
    int to_;
    bool terminal_;
};

}  // namespace

int RunScan(const CliOptions& options)
{
    const std::unique_ptr<RelayLink> link = OpenRelay(options);
    if (!link)
        return kExitRelayFailed;
    if (options.format == OutputFormat::Csv
        && !PrintLine(CsvRecord({kAddressColumn, ValueColumn(), kExceptionColumn}))) {
        return OutputFailed();
    }
    Progress progress(options.scanFrom, options.scanTo);
    QStringList answered;
    for (int address = options.scanFrom; address <= options.scanTo; ++address) {
        progress.Asking(address, int(answered.size()));
        const BlockRead read = link->Probe(address, kAddressBlock);
        if (link->Abandoned()) {
            // Stopped by a signal: what was found is said, the rest was not asked.
            progress.Clear();
            Report(QStringLiteral("stopped at address %1; %2 answered before: %3").arg(address)
                       .arg(answered.size()).arg(answered.join(QStringLiteral(", "))));
            return kExitRelayFailed;
        }
        if (read.lineLost) {
            progress.Clear();
            Report(read.failure);
            return kExitRelayFailed;
        }
        if (!read.ok && !read.refused) {
            if (read.spoiltSeen) {
                progress.Clear();
                Report(QStringLiteral("address %1: a frame came that was no sound reply (two devices at one "
                                      "address, or noise on the line)").arg(address));
            }
            continue;
        }
        answered << QString::number(address);
        progress.Clear();
        if (!PrintLine(FoundLine({address, read}, options.format))) {
            return OutputFailed();
        }
    }
    progress.Clear();
    const int total = options.scanTo - options.scanFrom + 1;
    if (answered.isEmpty()) {
        Report(QStringLiteral("no device answered at addresses %1 to %2 on %3 (9600 8N1, %4 ms each): check the "
                              "A/B wiring, the line's termination and the relay's power")
                   .arg(options.scanFrom).arg(options.scanTo).arg(link->DevicePath()).arg(link->TimeoutMs()));
        return kExitRelayFailed;
    }
    Report(QStringLiteral("%1 of %2 answered: %3").arg(answered.size())
               .arg(CountText(total, QStringLiteral("address"), QStringLiteral("addresses")))
               .arg(answered.join(QStringLiteral(", "))));
    return kExitDone;
}
