#include "settings/LoadExecutor.h"

#include <QPointer>

#include "exchanges/ExchangeTable.h"

namespace {
constexpr RegisterBlock kAddressBlock{kRelayAddressRegister, 1};
constexpr int kProbeTries = 1;
}  // namespace

const char* WriteFateName(WriteFate fate)
{
    switch (fate) {
    case WriteFate::Written: return "written";
    case WriteFate::Refused: return "refused";
    case WriteFate::Altered: return "altered";
    case WriteFate::Unconfirmed: return "unconfirmed";
    case WriteFate::NotSent: break;
    }
    return "not sent";
}

int LoadResult::Count(WriteFate fate) const
{
    int n = 0;
    for (const SettingWriteEnd& s : settings)
        n += s.fate == fate ? 1 : 0;
    return n;
}

const SettingWriteEnd* LoadResult::StoppedAt() const
{
    for (const SettingWriteEnd& s : settings)
        if (s.fate != WriteFate::Written)
            return &s;
    return nullptr;
}

LoadExecutor::LoadExecutor(LoadAsker& asker, const LoadPlan& plan, QObject* parent)
    : QObject(parent), asker_(asker), expected_(plan.expected)
{
    for (const PlannedWrite& w : plan.writes) {
        SettingWriteEnd s;
        s.write = w;
        result_.settings.push_back(s);
    }
}

void LoadExecutor::Start()
{
    if (running_)
        return;
    running_ = true;
    result_.startAddress = asker_.Address();
    // From the event loop, as every later step: the caller connects first.
    QMetaObject::invokeMethod(this, &LoadExecutor::next, Qt::QueuedConnection);
}

void LoadExecutor::Stop()
{
    if (!running_ || readingBack_)
        return;
    stopAsked_ = true;
    result_.stopped = true;
}

void LoadExecutor::Abandon()
{
    if (!running_)
        return;
    Stop();
    asker_.Abandon();
}

void LoadExecutor::next()
{
    if (next_ >= result_.settings.size() || stopAsked_ || result_.lineLost) {
        endWrites();
        return;
    }
    writeSetting(next_);
}

void LoadExecutor::writeSetting(size_t index)
{
    const PlannedWrite& w = result_.settings[index].write;
    if (w.definition->reg == kRelayAddressRegister) {
        probeAddress(index);
        return;
    }
    QPointer<LoadExecutor> self(this);
    asker_.Write(w.definition->reg, w.to, 0, [self, index](const LoadAnswer& a) {
        if (self)
            self->settle(index, a);
    });
}

// Nobody may answer at the new address yet: two devices at one address
// spoil each other's replies, and the new address could not confirm the
// change. A device that refuses the read is there all the same.
void LoadExecutor::probeAddress(size_t index)
{
    const int to = result_.settings[index].write.to;
    QPointer<LoadExecutor> self(this);
    asker_.Read(kAddressBlock, to, kProbeTries, true, [self, index](const LoadAnswer& a) {
        if (!self)
            return;
        SettingWriteEnd& s = self->result_.settings[index];
        const bool refused = a.outcome == Outcome::Refused;
        if (a.outcome == Outcome::Values || refused) {
            s.addressTaken = true;
            s.takenExceptionCode = refused ? a.exceptionCode : 0;
            LoadAnswer notSent;
            self->settle(index, notSent);
            return;
        }
        if (a.outcome != Outcome::NoAnswer || self->stopAsked_) {
            LoadAnswer notSent;
            notSent.cause = a.cause;
            self->settle(index, notSent);
            return;
        }
        self->writeAddress(index);
    });
}

// The write goes to the old address. A relay that takes the new one at once
// may echo from there, which is no answer to a request to the old one, or not
// echo at all: a read at the new address that finds the new value confirms it.
void LoadExecutor::writeAddress(size_t index)
{
    const PlannedWrite& w = result_.settings[index].write;
    QPointer<LoadExecutor> self(this);
    asker_.Write(w.definition->reg, w.to, 0, [self, index](const LoadAnswer& a) {
        if (!self)
            return;
        if (a.outcome == Outcome::NoAnswer && !self->stopAsked_) {
            self->result_.settings[index].answer = a;
            self->confirmAddressByRead(index);
            return;
        }
        self->settle(index, a);
    });
}

void LoadExecutor::confirmAddressByRead(size_t index)
{
    const int to = result_.settings[index].write.to;
    QPointer<LoadExecutor> self(this);
    asker_.Read(kAddressBlock, to, 0, false, [self, index, to](const LoadAnswer& a) {
        if (!self)
            return;
        SettingWriteEnd& s = self->result_.settings[index];
        LoadAnswer write = s.answer;
        if (a.outcome == Outcome::Values && !a.values.empty() && a.values[0] == to) {
            s.confirmedByRead = true;
            write.outcome = Outcome::Echoed;
        } else if (a.cause == LoadCause::LineLost || a.cause == LoadCause::Abandoned) {
            write.cause = a.cause;
        }
        self->settle(index, write);
    });
}

void LoadExecutor::settle(size_t index, const LoadAnswer& answer)
{
    SettingWriteEnd& s = result_.settings[index];
    s.answer = answer;
    switch (answer.outcome) {
    case Outcome::Echoed: s.fate = WriteFate::Written; break;
    case Outcome::Refused: s.fate = WriteFate::Refused; break;
    case Outcome::Altered: s.fate = WriteFate::Altered; break;
    case Outcome::NoAnswer:
    case Outcome::Unconfirmed: s.fate = WriteFate::Unconfirmed; break;
    case Outcome::Values:
    case Outcome::NotSent:
    case Outcome::Aborted: s.fate = WriteFate::NotSent; break;
    }
    if (answer.cause == LoadCause::LineLost)
        result_.lineLost = true;
    if (answer.cause == LoadCause::Abandoned)
        result_.stopped = true;
    if (s.fate == WriteFate::Written && s.write.definition->reg == kRelayAddressRegister) {
        result_.oldAddress = asker_.Address();
        asker_.SetAddress(s.write.to);
    }
    next_ = index + 1;
    emit writeEnded(int(index));
    if (s.fate != WriteFate::Written) {
        // Stop at the first write not confirmed: what follows may depend on it.
        next_ = result_.settings.size();
    }
    next();
}

void LoadExecutor::endWrites()
{
    emit writesEnded();
    if (result_.lineLost || result_.stopped) {
        finish();
        return;
    }
    readBack(0, false);
}

void LoadExecutor::readBack(int address, bool atOldAddress)
{
    readingBack_ = true;
    result_.readBackAsked = true;
    QPointer<LoadExecutor> self(this);
    asker_.Read(kSettingsBlock, address, 0, false, [self, atOldAddress](const LoadAnswer& a) {
        if (!self)
            return;
        LoadResult& r = self->result_;
        if (a.outcome == Outcome::Values) {
            RegisterValues values;
            values.block = kSettingsBlock;
            values.values = a.values;
            r.readBack = values;
            r.readBackAddress = atOldAddress ? r.oldAddress : self->asker_.Address();
            self->compare();
            self->finish();
            return;
        }
        r.readBackFailure = a;
        if (a.cause == LoadCause::LineLost)
            r.lineLost = true;
        // A relay that takes its new address only on restart still answers at the old one.
        if (!atOldAddress && r.oldAddress != 0 && a.outcome == Outcome::NoAnswer) {
            self->readBack(r.oldAddress, true);
            return;
        }
        self->finish();
    });
}

void LoadExecutor::compare()
{
    const RegisterValues& relay = *result_.readBack;
    for (const SettingValue& s : expected_) {
        if (int(relay.values.size()) <= s.definition->reg - relay.block.first)
            continue;
        const uint16_t held = relay.At(s.definition->reg);
        if (held != s.value)
            result_.mismatches.push_back({s.definition, held, s.value});
    }
}

void LoadExecutor::finish()
{
    running_ = false;
    readingBack_ = false;
    emit finished();
}
