#include "app/settings/LoadRun.h"

#include "exchanges/ExchangeTable.h"
#include "settings/SessionAsker.h"

QString WriteLine(const PlannedWrite& w)
{
    const SettingSpec& d = *w.definition;
    return QStringLiteral("%1: %2 → %3").arg(SettingLabel(d), SettingValueText(d, w.from), ValueWithUnit(d, w.to));
}

QString WriteFailureText(const SettingWriteEnd& end)
{
    const PlannedWrite& w = end.write;
    const SettingSpec& d = *w.definition;
    const LoadAnswer& a = end.answer;
    const QString label = SettingLabel(d);
    const QString value = ValueWithUnit(d, w.to);
    switch (end.fate) {
    case WriteFate::Refused:
        return QStringLiteral("%1: защита отказала в записи %2, исключение %3").arg(label, value).arg(a.exceptionCode);
    case WriteFate::Altered:
        return QStringLiteral("%1: защита записала %2 вместо %3").arg(label, ValueWithUnit(d, a.stored), value);
    case WriteFate::Unconfirmed:
        if (a.outcome == Outcome::NoAnswer)
            return QStringLiteral("%1: запись %2 не подтверждена: нет ответа после %3 попыток; защита может хранить "
                                  "любое из значений").arg(label, value).arg(a.tries);
        return QStringLiteral("%1: запись %2 отправлена, но не подтверждена: %3 до ответа защиты; защита может "
                              "хранить любое из значений")
            .arg(label, value,
                 a.cause == LoadCause::LineLost ? QStringLiteral("связь с СОМ портом потеряна")
                                                : QStringLiteral("запись прервана"));
    case WriteFate::NotSent:
        if (end.addressTaken)
            return QStringLiteral("%1: по адресу %2 уже отвечает устройство; адрес защиты не изменён").arg(label).arg(w.to);
        if (a.cause == LoadCause::LineLost)
            return QStringLiteral("%1: запись %2 не отправлена: СОМ порт закрыт").arg(label, value);
        return QStringLiteral("%1: запись %2 не отправлена").arg(label, value);
    case WriteFate::Written:
        break;
    }
    return label;
}

LoadRun::LoadRun(RelaySession& session, int tries, int address, const std::vector<PlannedWrite>& writes,
                 const std::vector<SettingValue>& expected, QObject* parent)
    : QObject(parent), asker_(std::make_unique<SessionAsker>(session, tries))
{
    if (address > 0)
        asker_->SetAddress(address);
    LoadPlan plan;
    plan.writes = writes;
    plan.expected = expected;
    executor_ = std::make_unique<LoadExecutor>(*asker_, plan);
    connect(executor_.get(), &LoadExecutor::writeEnded, this, [this](int index) {
        emit progress(index + 1, int(executor_->Result().settings.size()));
    });
    connect(executor_.get(), &LoadExecutor::finished, this, &LoadRun::ended);
}

LoadRun::~LoadRun()
{
    executor_.reset();
    asker_.reset();
}

const LoadResult& LoadRun::Result() const
{
    return executor_->Result();
}

void LoadRun::Start()
{
    outcome_ = LoadOutcome{};
    emit progress(0, int(executor_->Result().settings.size()));
    executor_->Start();
}

void LoadRun::ended()
{
    const LoadResult& r = executor_->Result();
    outcome_.settings = r.settings;
    outcome_.lineLost = r.lineLost;
    for (const SettingWriteEnd& s : r.settings) {
        switch (s.fate) {
        case WriteFate::Written:
            outcome_.written.push_back(s.write);
            if (s.write.definition->reg == kRelayAddressRegister) {
                outcome_.addressWritten = true;
                outcome_.newAddress = s.write.to;
            }
            break;
        case WriteFate::Unconfirmed: outcome_.unconfirmed.push_back(s.write); break;
        default: outcome_.notWritten.push_back(s.write); break;
        }
    }
    if (const SettingWriteEnd* at = r.StoppedAt())
        outcome_.stop = WriteFailureText(*at);
    emit finished();
}
