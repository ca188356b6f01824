#include "app/trends/TrendRecorder.h"

#include <QTimer>

#include <algorithm>

#include "link/RelaySession.h"
#include "link/SessionReply.h"

namespace {
constexpr int kRatedCurrentRegister = 108;   // the rated current, 0.01 A
constexpr int kRatedCurrentTries = 3;        // the polls wait behind the question meanwhile
constexpr int kRatedCurrentWaitMs = 3000;    // a record waits for the answer no longer
}

TrendRecorder::TrendRecorder(RelaySession& session, QObject* parent)
    : QObject(parent), session_(session), startsFolder_(StartsFolder())
{
    setObjectName(QStringLiteral("TrendRecorder"));
    connect(&session_, &RelaySession::blockRead, this, &TrendRecorder::blockRead);
}

// Any read of the settings block (the page shown, a save, a question) tells
// the rated current.
void TrendRecorder::blockRead(const RegisterValues& values)
{
    if (values.Carries(kRatedCurrentRegister)) {
        ratedCentiAmps_ = values.At(kRatedCurrentRegister);
        keepWaiting();
    }
}

void TrendRecorder::Sample(const RegisterValues& reply, qint64 ms)
{
    if (reply.block.first != kCurrentParamsBlock.first || int(reply.values.size()) < kBlockRegisters)
        return;
    BlockSample sample;
    sample.ms = ms;
    std::copy_n(reply.values.begin(), kBlockRegisters, sample.regs.begin());
    history_.Add(sample);
    if (std::optional<StartRecord> record = detector_.Add(sample))
        complete(*record);
    emit sampled();
}

void TrendRecorder::Break()
{
    history_.Break();
    if (std::optional<StartRecord> record = detector_.Break())
        complete(*record);
}

// A complete start is kept at once when the rated current is known;
// otherwise the relay is asked for it once (after the start, so the start's
// own polling is left alone), and the record is kept with the answer, or
// without the amperes when none comes.
void TrendRecorder::complete(const StartRecord& record)
{
    if (ratedCentiAmps_ > 0 || ratedAsked_ || !session_.IsOpen() || session_.Asking() || waiting_) {
        keep(record);
        return;
    }
    ratedAsked_ = true;
    waiting_ = record;
    Question question = Question::Read(RegisterBlock{kRatedCurrentRegister, 1});
    question.tries = kRatedCurrentTries;
    // The answer's values reach blockRead like any read; whatever the
    // question ends with, the record waits no longer.
    connect(session_.Ask(question), &SessionReply::finished, this, [this] { keepWaiting(); });
    QTimer::singleShot(kRatedCurrentWaitMs, this, &TrendRecorder::keepWaiting);
}

void TrendRecorder::keepWaiting()
{
    if (!waiting_)
        return;
    const StartRecord record = std::move(*waiting_);
    waiting_.reset();
    keep(record);
}

void TrendRecorder::keep(const StartRecord& record)
{
    const QByteArray picture = DrawPicture ? DrawPicture(record, ratedCentiAmps_) : QByteArray();
    QString folder, reason;
    if (WriteStartRecord(startsFolder_, record, ratedCentiAmps_, picture, &folder, &reason))
        emit startKept(folder);
    else
        emit startNotKept(reason);
}
