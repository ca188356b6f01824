#include "LoadWrites.h"

#include <QEventLoop>
#include <QTimer>

#include "Console.h"
#include "ExitCodes.h"
#include "StopSignals.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterCatalog.h"
#include "settings/SessionAsker.h"

namespace {

QString Change(const PlannedWrite& w)
{
    const SettingSpec& definition = *w.definition;
    return QStringLiteral("%1 -> %2").arg(ValueWithUnit(definition, w.from), ValueWithUnit(definition, w.to));
}

void PrintFate(const QString& action, const PlannedWrite& w, const QString& what)
{
    PrintLine(QStringLiteral("%1 %2: %3").arg(action, SettingLabel(*w.definition), what));
}

QString TriesText(int tries, int timeoutMs)
{
    return QStringLiteral("%1 %2 of %3 ms").arg(tries).arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"))
        .arg(timeoutMs);
}

QString NoReplyText(const RelayLink& link, const QString& what, const QString& question, int address, int tries)
{
    return QStringLiteral("%1 from the relay at address %2 on %3 (9600 8N1) to %4 after %5: check the relay's "
                          "address, the A/B wiring and the line's termination")
        .arg(what).arg(address).arg(link.DevicePath(), question, TriesText(tries, link.TimeoutMs()));
}

QString CauseText(LoadCause cause, int stopSignal)
{
    return cause == LoadCause::LineLost ? QStringLiteral("the port went away")
                                        : QStringLiteral("abandoned on %1").arg(StopSignals::Name(stopSignal));
}

void PrintEnd(const RelayLink& link, const SettingWriteEnd& s, int address, int stopSignal)
{
    const PlannedWrite& w = s.write;
    const SettingSpec& definition = *w.definition;
    const LoadAnswer& a = s.answer;
    switch (s.fate) {
    case WriteFate::Written:
        PrintFate(QStringLiteral("wrote"), w,
                  s.confirmedByRead ? Change(w) + QStringLiteral(" (no echo from address %1; confirmed by a read at "
                                                                 "address %2)").arg(address).arg(w.to)
                                    : Change(w));
        return;
    case WriteFate::Refused:
        PrintFate(QStringLiteral("refused"), w, QStringLiteral("the relay answered %1 with exception %2")
                                                    .arg(ValueWithUnit(definition, w.to), ExceptionText(a.exceptionCode)));
        return;
    case WriteFate::Altered:
        PrintFate(QStringLiteral("altered"), w, QStringLiteral("the relay stored %1 instead of %2")
                                                    .arg(ValueWithUnit(definition, a.stored), ValueWithUnit(definition, w.to)));
        return;
    case WriteFate::Unconfirmed:
        if (a.outcome == Outcome::NoAnswer) {
            PrintFate(QStringLiteral("unconfirmed"), w,
                      NoReplyText(link, QStringLiteral("no echo"),
                                  QStringLiteral("the write of %1 to register %2").arg(w.to).arg(definition.reg),
                                  address, a.tries));
        } else {
            PrintFate(QStringLiteral("unconfirmed"), w,
                      QStringLiteral("%1 sent, but %2 before its echo; the relay may hold either value")
                          .arg(Change(w), CauseText(a.cause, stopSignal)));
        }
        return;
    case WriteFate::NotSent:
        if (s.addressTaken)
            PrintFate(QStringLiteral("unsent"), w,
                      Change(w) + QStringLiteral(": address %1 is taken: a device answers there%2; the relay's "
                                                 "address was not changed")
                                      .arg(w.to)
                                      .arg(s.takenExceptionCode ? QStringLiteral(" (exception %1)")
                                                                      .arg(ExceptionText(s.takenExceptionCode))
                                                                : QString()));
        else
            PrintFate(QStringLiteral("unsent"), w, Change(w));
        return;
    }
}

// Why the read-back got no values.
QString ReadBackFailure(const RelayLink& link, const LoadAnswer& a, int address)
{
    if (a.cause == LoadCause::LineLost)
        return link.LossText();
    if (a.exceptionCode != 0)
        return QStringLiteral("the relay at address %1 refused to read registers %2 to %3: exception %4")
            .arg(address).arg(kSettingsBlock.first).arg(kSettingsBlock.first + kSettingsBlock.count - 1)
            .arg(ExceptionText(a.exceptionCode));
    if (a.cause == LoadCause::Abandoned)
        return QStringLiteral("abandoned");
    return NoReplyText(link, a.spoiltSeen ? QStringLiteral("no sound reply") : QStringLiteral("no reply"),
                       QStringLiteral("a read of registers %1 to %2").arg(kSettingsBlock.first)
                           .arg(kSettingsBlock.first + kSettingsBlock.count - 1),
                       address, a.tries);
}

void PrintSummary(const RelayLink& link, const LoadEnd& end, int newAddress)
{
    const LoadResult& r = end.result;
    const int total = int(r.settings.size());
    const int written = r.Count(WriteFate::Written);
    if (!r.AllWritten() || end.stopSignal != 0) {
        if (r.lineLost)
            Report(link.LossText());
        else if (end.stopSignal)
            Report(QStringLiteral("interrupted by %1").arg(StopSignals::Name(end.stopSignal)));
        const SettingWriteEnd* at = r.StoppedAt();
        QString tally = at && (at->fate != WriteFate::NotSent || at->addressTaken || !end.stopSignal)
            ? QStringLiteral("stopped at %1 after %2 of %3 writes").arg(at->write.definition->name).arg(written).arg(total)
            : QStringLiteral("stopped after %1 of %2 writes").arg(written).arg(total);
        if (at && at->fate == WriteFate::Unconfirmed && at->answer.outcome != Outcome::NoAnswer)
            tally += QStringLiteral("; %1 was sent but not confirmed (the relay may hold it)").arg(at->write.definition->name);
        if (const int unsent = r.Count(WriteFate::NotSent); unsent > 0)
            tally += QStringLiteral("; %1 not sent").arg(unsent);
        Report(tally);
    }
    if (!r.readBackAsked)
        return;
    if (!r.readBack) {
        if (r.oldAddress != 0 && r.readBackFailure.outcome == Outcome::NoAnswer)
            Report(QStringLiteral("no reply at address %1 nor at the old address %2").arg(link.Address()).arg(r.oldAddress));
        Report(ReadBackFailure(link, r.readBackFailure, r.readBackAddress ? r.readBackAddress : link.Address()));
        return;
    }
    if (r.oldAddress != 0 && r.readBackAddress == r.oldAddress)
        Report(QStringLiteral("the relay still answers at its old address %1; it may take address %2 only "
                              "after a restart").arg(r.oldAddress).arg(newAddress));
    for (const SettingMismatch& m : r.mismatches)
        PrintLine(QStringLiteral("mismatch %1: the relay holds %2, not %3")
                      .arg(SettingLabel(*m.definition), ValueWithUnit(*m.definition, m.held),
                           ValueWithUnit(*m.definition, m.expected)));
    if (r.mismatches.size() == 1)
        Report(QStringLiteral("read back: 1 setting does not hold the file's value"));
    else if (r.mismatches.size() > 1)
        Report(QStringLiteral("read back: %1 settings do not hold the file's value").arg(r.mismatches.size()));
    else
        Report(QStringLiteral("read back: the relay holds the file's settings"));
}

}  // namespace

LoadEnd RunLoadWrites(RelayLink& link, const LoadPlan& plan, StopSignals& stop)
{
    LoadEnd end;
    SessionAsker asker(link.Session());
    asker.SetAddress(link.Address());
    LoadExecutor load(asker, plan);
    QEventLoop loop;
    QTimer grace;
    grace.setSingleShot(true);
    QObject::connect(&grace, &QTimer::timeout, &load, &LoadExecutor::Abandon);
    // The first signal: no write after the one in flight, which has a moment
    // to end; the second: given up at once.
    StopSignals::TakeOver(true);
    QObject::connect(&stop, &StopSignals::caught, &load, [&](int signal, int count) {
        if (end.stopSignal == 0)
            end.stopSignal = signal;
        if (count == 1 && load.Writing()) {
            load.Stop();
            grace.start(kStopGraceMs);
        } else {
            load.Abandon();
        }
    });
    // Written as they end, so that a pipe reader sees each at once.
    int address = link.Address();
    size_t printed = 0;
    QObject::connect(&load, &LoadExecutor::writeEnded, &load, [&](int index) {
        PrintEnd(link, load.Result().settings[size_t(index)], address, end.stopSignal);
        printed = size_t(index) + 1;
        address = asker.Address();
    });
    // Those never asked are not sent.
    QObject::connect(&load, &LoadExecutor::writesEnded, &load, [&] {
        grace.stop();
        for (; printed < load.Result().settings.size(); ++printed)
            PrintEnd(link, load.Result().settings[printed], address, end.stopSignal);
    });
    QObject::connect(&load, &LoadExecutor::finished, &loop, &QEventLoop::quit);
    load.Start();
    if (stop.First() != 0) {   // came before the writes: none goes out
        end.stopSignal = stop.First();
        load.Stop();
    }
    if (load.Running())
        loop.exec();
    StopSignals::TakeOver(false);
    if (stop.First() != 0 && end.stopSignal == 0)
        end.stopSignal = stop.First();
    end.result = load.Result();
    if (end.result.lineLost)
        end.stopSignal = 0;
    link.SetAddress(asker.Address());
    PrintSummary(link, end, asker.Address());
    return end;
}

int LoadExitCode(const LoadEnd& end)
{
    if (end.result.lineLost)
        return kExitRelayFailed;
    if (end.stopSignal != 0)
        return StopSignals::ExitCode(end.stopSignal);
    return end.result.AllWritten() && end.result.RelayHoldsPlan() ? kExitDone : kExitRelayFailed;
}
