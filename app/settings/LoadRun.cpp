#include "app/settings/LoadRun.h"

#include "app/settings/RelayQuestions.h"

QString WriteLine(const PlannedWrite& w)
{
    const SettingSpec& d = *w.definition;
    return QStringLiteral("%1: %2 → %3").arg(SettingLabel(d), SettingValueText(d, w.from), ValueWithUnit(d, w.to));
}

QString WriteFailureText(const PlannedWrite& w, const WriteResult& result)
{
    const SettingSpec& d = *w.definition;
    switch (result.how) {
    case WriteHow::Refused:
        return QStringLiteral("%1: защита отказала в записи %2, исключение %3")
            .arg(SettingLabel(d), ValueWithUnit(d, w.to)).arg(result.exceptionCode);
    case WriteHow::Altered:
        return QStringLiteral("%1: защита записала %2 вместо %3")
            .arg(SettingLabel(d), ValueWithUnit(d, result.stored), ValueWithUnit(d, w.to));
    case WriteHow::NoAnswer:
        if (result.tries == 0)
            return QStringLiteral("%1: запись %2 прервана: СОМ порт закрыт").arg(SettingLabel(d), ValueWithUnit(d, w.to));
        return QStringLiteral("%1: нет ответа на запись %2 после %3 попыток")
            .arg(SettingLabel(d), ValueWithUnit(d, w.to)).arg(result.tries);
    case WriteHow::Unconfirmed:
        if (result.tries == 0)
            return QStringLiteral("%1: запись %2 прервана: СОМ порт закрыт").arg(SettingLabel(d), ValueWithUnit(d, w.to));
        return QStringLiteral("%1: запись %2 не подтверждена: защита могла её принять").arg(SettingLabel(d), ValueWithUnit(d, w.to));
    case WriteHow::Echoed:
        break;
    }
    return SettingLabel(d);
}

LoadRun::LoadRun(RelayQuestions& questions, std::vector<PlannedWrite> writes, QObject* parent)
    : QObject(parent), questions_(questions), writes_(std::move(writes))
{
}

void LoadRun::Start()
{
    next_ = 0;
    outcome_ = LoadOutcome{};
    emit progress(0, int(writes_.size()));
    writeNext();
}

void LoadRun::writeNext()
{
    if (next_ >= writes_.size()) {
        emit finished();
        return;
    }
    const PlannedWrite& w = writes_[next_];
    questions_.Write(w.definition->reg, w.to, 0, [this](const WriteResult& result) { ended(result); });
}

void LoadRun::ended(const WriteResult& result)
{
    const PlannedWrite& w = writes_[next_];
    if (result.how != WriteHow::Echoed) {
        outcome_.stop = WriteFailureText(w, result);
        outcome_.notWritten.assign(writes_.begin() + std::ptrdiff_t(next_), writes_.end());
        emit finished();
        return;
    }
    outcome_.written.push_back(w);
    if (w.definition->reg == kRelayAddressRegister) {
        outcome_.addressWritten = true;
        outcome_.newAddress = w.to;
    }
    ++next_;
    emit progress(int(next_), int(writes_.size()));
    writeNext();
}
