#include "app/settings/RelayQuestions.h"

#include <algorithm>

QString RegisterRangeText(const RegisterBlock& block)
{
    return QStringLiteral("%1–%2").arg(block.first).arg(block.first + block.count - 1);
}

namespace {

QString ReadFailureText(const Answer& a)
{
    const QString address = QString::number(a.question.address);
    const QString range = RegisterRangeText(a.question.block);
    if (a.outcome == Outcome::Aborted || !a.LeftThePc())
        return QStringLiteral("СОМ порт закрыт, чтение регистров %1 прервано").arg(range);
    if (a.why == ExchangeFailure::Refused)
        return QStringLiteral("Защита (адрес %1) отказала в чтении регистров %2: исключение %3")
            .arg(address, range).arg(a.exceptionCode);
    return QStringLiteral("Нет %1ответа от защиты (адрес %2) на чтение регистров %3 после %4 попыток: проверьте "
                          "адрес, линию и питание защиты")
        .arg(a.spoiltSeen ? QStringLiteral("исправного ") : QString(), address, range)
        .arg(a.tries);
}

}  // namespace

RelayQuestions::RelayQuestions(RelaySession& session, QObject* parent) : QObject(parent), session_(session) {}

bool RelayQuestions::Waiting() const
{
    return std::any_of(asked_.begin(), asked_.end(), [](const QPointer<SessionReply>& r) { return r && !r->isFinished(); });
}

bool RelayQuestions::Ready(QString& why) const
{
    if (!session_.IsOpen()) {
        why = QStringLiteral("СОМ порт закрыт: откройте его кнопкой «Открыть» на странице «Текущие параметры»");
        return false;
    }
    if (Waiting()) {
        why = QStringLiteral("Защита ещё отвечает на предыдущий запрос; повторите через несколько секунд");
        return false;
    }
    return true;
}

SessionReply* RelayQuestions::ask(const Question& question)
{
    asked_.erase(std::remove_if(asked_.begin(), asked_.end(), [](const QPointer<SessionReply>& r) { return !r; }),
                 asked_.end());
    SessionReply* reply = session_.Ask(question);
    asked_.push_back(reply);
    return reply;
}

void RelayQuestions::Read(const RegisterBlock& block, int address, ReadDone done)
{
    Question q = Question::Read(block, address);
    q.tries = kTries;
    // From the event loop: the callback may ask the next question at once.
    connect(ask(q), &SessionReply::finished, this, [this, done, generation = generation_](const Answer& a) {
        if (generation != generation_)
            return;
        if (a.outcome != Outcome::Values) {
            done(nullptr, ReadFailureText(a));
            return;
        }
        RegisterValues values;
        values.block = a.question.block;
        values.values = a.values;
        done(&values, QString());
    }, Qt::QueuedConnection);
}

void RelayQuestions::Write(int reg, uint16_t value, int address, WriteDone done)
{
    Question q = Question::Write(reg, value, address);
    q.tries = kTries;
    connect(ask(q), &SessionReply::finished, this, [this, done, generation = generation_](const Answer& a) {
        if (generation == generation_)
            done(WriteResultOf(a));
    }, Qt::QueuedConnection);
}

void RelayQuestions::Forget()
{
    ++generation_;
    std::vector<QPointer<SessionReply>> asked;
    asked.swap(asked_);
    for (const QPointer<SessionReply>& reply : asked)
        if (reply && !reply->isFinished())
            reply->abandon();
}
