#include "app/settings/RelayQuestions.h"

#include <QTimer>

namespace {
// How often a question that awaits its answer looks whether the port is still
// open: a close withdraws the question without a word.
constexpr int kWatchMs = 100;
}  // namespace

QString RegisterRangeText(const RegisterBlock& block)
{
    return QStringLiteral("%1–%2").arg(block.first).arg(block.first + block.count - 1);
}

RelayQuestions::RelayQuestions(RelaySession& session, QObject* parent) : QObject(parent), session_(session)
{
    watch_ = new QTimer(this);
    watch_->setInterval(kWatchMs);
    connect(watch_, &QTimer::timeout, this, &RelayQuestions::watch);
    connect(&session_, &RelaySession::blockRead, this, &RelayQuestions::blockRead);
    connect(&session_, &RelaySession::readFailed, this, &RelayQuestions::readFailed);
    connect(&session_, &RelaySession::writeEnded, this, &RelayQuestions::writeEnded);
}

bool RelayQuestions::Ready(QString& why) const
{
    if (!session_.IsOpen()) {
        why = QStringLiteral("СОМ порт закрыт: откройте его кнопкой «Открыть» на странице «Текущие параметры»");
        return false;
    }
    if (waiting_ || session_.Asking()) {
        why = QStringLiteral("Защита ещё отвечает на предыдущий запрос; повторите через несколько секунд");
        return false;
    }
    return true;
}

QString RelayQuestions::AddressText() const
{
    return QString::number(address_ > 0 ? address_ : session_.State().SlaveAddress);
}

void RelayQuestions::Read(const RegisterBlock& block, int address, ReadDone done)
{
    QString why;
    if (!Ready(why)) {
        later([done, why] { done(nullptr, why); });
        return;
    }
    begin(false, address);
    block_ = block;
    readDone_ = std::move(done);
    session_.AskRead(block, AskOptions{kTries, address, 0});
}

void RelayQuestions::Write(int reg, uint16_t value, int address, WriteDone done)
{
    QString why;
    if (!Ready(why)) {
        WriteResult withdrawn;
        withdrawn.reg = reg;
        withdrawn.value = value;
        later([done, withdrawn] { done(withdrawn); });
        return;
    }
    begin(true, address);
    reg_ = reg;
    value_ = value;
    writeDone_ = std::move(done);
    session_.AskWrite(reg, value, AskOptions{kTries, address, 0});
}

void RelayQuestions::begin(bool writing, int address)
{
    waiting_ = true;
    writing_ = writing;
    address_ = address;
    readDone_ = nullptr;
    writeDone_ = nullptr;
    watch_->start();
}

void RelayQuestions::Forget()
{
    ++generation_;
    readDone_ = nullptr;
    writeDone_ = nullptr;
}

// Only a question's answer counts (mode 0): a polled request of the window
// still under way when the question was asked has its own.
void RelayQuestions::blockRead(const RegisterValues& values)
{
    if (waiting_ && !writing_ && values.mode == 0 && values.block == block_)
        endRead(values, QString());
}

void RelayQuestions::readFailed(const ReadFailure& failure)
{
    if (!waiting_ || writing_ || session_.Asking() || !(failure.block == block_))
        return;
    const QString range = RegisterRangeText(block_);
    if (failure.why == ExchangeFailure::Refused) {
        endRead(std::nullopt, QStringLiteral("Защита (адрес %1) отказала в чтении регистров %2: исключение %3")
                                  .arg(AddressText(), range).arg(failure.exceptionCode));
        return;
    }
    endRead(std::nullopt, QStringLiteral("Нет %1ответа от защиты (адрес %2) на чтение регистров %3 после %4 "
                                         "попыток: проверьте адрес, линию и питание защиты")
                              .arg(failure.spoiltSeen ? QStringLiteral("исправного ") : QString(), AddressText(), range)
                              .arg(failure.tries));
}

void RelayQuestions::writeEnded(const WriteResult& result)
{
    if (waiting_ && writing_ && !session_.Asking() && result.reg == reg_ && result.value == value_)
        endWrite(result);
}

void RelayQuestions::watch()
{
    if (!waiting_) {
        watch_->stop();
        return;
    }
    if (session_.IsOpen() && session_.Asking())
        return;
    // Withdrawn without an answer: the port was closed or lost.
    if (writing_) {
        WriteResult withdrawn;
        withdrawn.reg = reg_;
        withdrawn.value = value_;
        endWrite(withdrawn);
    } else {
        endRead(std::nullopt, QStringLiteral("СОМ порт закрыт, чтение регистров %1 прервано").arg(RegisterRangeText(block_)));
    }
}

void RelayQuestions::endRead(std::optional<RegisterValues> values, const QString& failure)
{
    waiting_ = false;
    watch_->stop();
    ReadDone done = std::move(readDone_);
    readDone_ = nullptr;
    if (!done)
        return;
    // From the event loop: the callback may ask the next question at once.
    later([done, values, failure] { done(values ? &*values : nullptr, failure); });
}

void RelayQuestions::endWrite(const WriteResult& result)
{
    waiting_ = false;
    watch_->stop();
    WriteDone done = std::move(writeDone_);
    writeDone_ = nullptr;
    if (done)
        later([done, result] { done(result); });
}

void RelayQuestions::later(std::function<void()> call)
{
    const quint64 generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, call] {
            if (generation == generation_)
                call();
        },
        Qt::QueuedConnection);
}
