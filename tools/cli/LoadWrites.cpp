#include "LoadWrites.h"

#include <optional>

#include "Console.h"
#include "StopSignals.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterCatalog.h"

namespace {

constexpr RegisterBlock kAddressBlock{kRelayAddressRegister, 1};

QString Change(const PlannedWrite& w)
{
    const SettingSpec& definition = *w.definition;
    return QStringLiteral("%1 -> %2").arg(ValueWithUnit(definition, w.from), ValueWithUnit(definition, w.to));
}

void PrintFate(const QString& action, const PlannedWrite& w, const QString& what)
{
    PrintLine(QStringLiteral("%1 %2: %3").arg(action, SettingLabel(*w.definition), what));
}

// The write of one setting, as far as it went.
struct SettingWrite {
    RegisterWrite result;
    QString confirmedBy;   // how a confirmation other than the echo came
    QString notSentWhy;    // why the write was not even sent
};

// The relay's own address, to w.to. Nobody may answer at the new address
// yet: two devices at one address spoil each other's replies, and the new
// address could not confirm the change. The write goes to the old address;
// a relay that takes the new one at once may echo from there, which is no
// answer to a request to the old one, or not echo at all: then a read of
// register 80 at the new address that finds the new value confirms it.
SettingWrite WriteAddress(RelayLink& link, const PlannedWrite& w)
{
    SettingWrite write;
    RegisterWrite& result = write.result;
    const int to = w.to;
    const BlockRead taken = link.Read(kAddressBlock, AskOptions{1, to, 0});
    if (taken.ok || taken.refused) {
        result.outcome = WriteOutcome::Refused;
        write.notSentWhy =
            QStringLiteral("address %1 is taken: a device answers there; the relay's address was not changed").arg(to);
        return write;
    }
    if (taken.lineLost || link.Abandoned()) {
        result.outcome = taken.lineLost ? WriteOutcome::LineLost : WriteOutcome::Abandoned;
        result.failure = taken.failure;
        return write;
    }
    result = link.Write(kRelayAddressRegister, uint16_t(to));
    if (result.outcome == WriteOutcome::NoEcho) {
        const BlockRead there = link.Read(kAddressBlock, AskOptions{0, to, 0});
        if (there.ok && there.At(kRelayAddressRegister) == to) {
            result.outcome = WriteOutcome::Confirmed;
            write.confirmedBy = QStringLiteral("(no echo from address %1; confirmed by a read at address %2)")
                                    .arg(link.Address()).arg(to);
        } else if (there.lineLost) {
            result.outcome = WriteOutcome::LineLost;
            result.failure = there.failure;
        } else if (link.Abandoned()) {
            result.outcome = WriteOutcome::Abandoned;
        }
    }
    if (result.outcome == WriteOutcome::Confirmed)
        link.SetAddress(to);
    return write;
}

SettingWrite WriteSetting(RelayLink& link, const PlannedWrite& w)
{
    if (w.definition->reg == kRelayAddressRegister)
        return WriteAddress(link, w);
    return SettingWrite{link.Write(w.definition->reg, w.to), {}, {}};
}

}  // namespace

WritesMade MakeWrites(RelayLink& link, const LoadPlan& plan, StopSignals& stop)
{
    WritesMade made;
    const int startAddress = link.Address();
    // A second stop signal gives up the write in flight at once.
    stop.OnRepeat([&link] { link.Abandon(); });
    const size_t total = plan.writes.size();
    size_t confirmed = 0;
    size_t next = 0;
    QString stoppedAt;          // the setting the writes stopped at, if any
    bool inFlightUnconfirmed = false;
    bool stoppedUnsent = false;   // the write stopped at did not go out
    for (; next < total && stop.First() == 0; ++next) {
        const PlannedWrite& w = plan.writes[next];
        const SettingSpec& definition = *w.definition;
        const SettingWrite write = WriteSetting(link, w);
        const RegisterWrite& result = write.result;
        if (result.outcome == WriteOutcome::Confirmed) {
            if (definition.reg == kRelayAddressRegister)
                made.otherAddress = startAddress;
            PrintFate(QStringLiteral("wrote"), w,
                      write.confirmedBy.isEmpty() ? Change(w) : Change(w) + QLatin1Char(' ') + write.confirmedBy);
            ++confirmed;
            continue;
        }
        stoppedAt = definition.name;
        if (!write.notSentWhy.isEmpty()) {
            PrintFate(QStringLiteral("unsent"), w, Change(w) + QStringLiteral(": ") + write.notSentWhy);
            stoppedUnsent = true;
            ++next;
            break;
        }
        switch (result.outcome) {
        case WriteOutcome::Confirmed:
            break;
        case WriteOutcome::Refused:
            PrintFate(QStringLiteral("refused"), w, QStringLiteral("the relay answered %1 with exception %2")
                                                        .arg(ValueWithUnit(definition, w.to),
                                                             ExceptionText(result.exceptionCode)));
            break;
        case WriteOutcome::Altered:
            PrintFate(QStringLiteral("altered"), w, QStringLiteral("the relay stored %1 instead of %2")
                                                        .arg(ValueWithUnit(definition, result.stored),
                                                             ValueWithUnit(definition, w.to)));
            break;
        case WriteOutcome::NoEcho:
            PrintFate(QStringLiteral("unconfirmed"), w, result.failure);
            break;
        case WriteOutcome::LineLost:
        case WriteOutcome::Abandoned: {
            const QString cause = result.outcome == WriteOutcome::LineLost
                ? QStringLiteral("the port went away")
                : QStringLiteral("abandoned on %1").arg(StopSignals::Name(stop.First()));
            if (result.sent) {
                PrintFate(QStringLiteral("unconfirmed"), w,
                          QStringLiteral("%1 sent, but %2 before its echo; the relay may hold either value")
                              .arg(Change(w), cause));
                inFlightUnconfirmed = true;
            } else {
                PrintFate(QStringLiteral("unsent"), w, Change(w));
                stoppedUnsent = true;
            }
            made.lineLost = result.outcome == WriteOutcome::LineLost;
            break;
        }
        }
        ++next;
        break;
    }
    stop.OnRepeat({});
    made.stopSignal = made.lineLost ? 0 : stop.First();
    for (size_t k = next; k < total; ++k)
        PrintFate(QStringLiteral("unsent"), plan.writes[k], Change(plan.writes[k]));
    made.allConfirmed = confirmed == total;
    if (made.allConfirmed && made.stopSignal == 0)
        return made;
    if (made.lineLost)
        Report(link.LossText());
    else if (made.stopSignal)
        Report(QStringLiteral("interrupted by %1").arg(StopSignals::Name(made.stopSignal)));
    QString tally = stoppedAt.isEmpty()
        ? QStringLiteral("stopped after %1 of %2 writes").arg(confirmed).arg(total)
        : QStringLiteral("stopped at %1 after %2 of %3 writes").arg(stoppedAt).arg(confirmed).arg(total);
    if (inFlightUnconfirmed)
        tally += QStringLiteral("; %1 was sent but not confirmed (the relay may hold it)").arg(stoppedAt);
    if (const size_t unsent = total - next + (stoppedUnsent ? 1 : 0); unsent > 0)
        tally += QStringLiteral("; %1 not sent").arg(unsent);
    Report(tally);
    return made;
}

std::optional<BlockRead> ReadBack(RelayLink& link, const WritesMade& made)
{
    BlockRead read = link.Read(kSettingsBlock);
    if (read.ok)
        return read;
    if (made.otherAddress != 0 && !read.lineLost) {
        const int first = link.Address();
        Report(QStringLiteral("%1; trying address %2").arg(read.failure).arg(made.otherAddress));
        link.SetAddress(made.otherAddress);
        read = link.Read(kSettingsBlock);
        if (read.ok) {
            Report(QStringLiteral("the relay still answers at its old address %1; it may take address %2 only "
                                  "after a restart").arg(made.otherAddress).arg(first));
            return read;
        }
    }
    Report(read.failure);
    return std::nullopt;
}
