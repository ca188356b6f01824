#include "settings/JournalRecorder.h"

#include <QDateTime>

#include "settings/IsoTime.h"

namespace {
constexpr int kAddressShift = 16;

int Key(int address, int reg)
{
    return address << kAddressShift | reg;
}
}  // namespace

JournalRecorder::JournalRecorder(RelaySession& session, const QString& program, const QString& path,
                                 QObject* parent)
    : QObject(parent), Now([] { return QDateTime::currentDateTime(); }), session_(session), program_(program),
      path_(path)
{
    connect(&session_, &RelaySession::blockRead, this, &JournalRecorder::blockRead);
    connect(&session_, &RelaySession::writeEnded, this, &JournalRecorder::writeEnded);
}

void JournalRecorder::blockRead(const RegisterValues& values)
{
    const int address = session_.State().Sent.Slave();
    for (int k = 0; k < values.block.count && k < int(values.values.size()); ++k)
        lastRead_.insert(Key(address, values.block.first + k), values.values[size_t(k)]);
}

JournalEntry JournalRecorder::EntryFor(const WriteResult& result) const
{
    JournalEntry e;
    e.time = IsoTimeText(Now(), IsoPrecision::Milliseconds);
    e.program = program_;
    e.device = session_.DevicePath();
    e.address = result.address > 0 ? result.address : session_.State().Sent.Slave();
    e.reg = result.reg;
    WrittenRegisterName(result.reg, e.name, e.caption);
    const auto known = lastRead_.constFind(Key(e.address, result.reg));
    if (known != lastRead_.constEnd())
        e.before = *known;
    e.value = result.value;
    e.outcome = result.how;
    e.exceptionCode = result.exceptionCode;
    e.stored = result.stored;
    e.tries = result.tries;
    return e;
}

void JournalRecorder::writeEnded(const WriteResult& result)
{
    const JournalEntry entry = EntryFor(result);
    // What the relay holds now is the next write's value before.
    if (entry.outcome == Outcome::Echoed)
        lastRead_.insert(Key(entry.address, entry.reg), entry.value);
    else if (entry.outcome == Outcome::Altered)
        lastRead_.insert(Key(entry.address, entry.reg), entry.stored);
    else if (entry.outcome != Outcome::Refused)
        lastRead_.remove(Key(entry.address, entry.reg));   // either value may be there
    QString reason;
    if (AppendJournalLine(path_, JournalLine(entry), reason)) {
        failing_ = false;
        return;
    }
    if (failing_)
        return;
    failing_ = true;
    emit journalFailed(path_, reason);
}
