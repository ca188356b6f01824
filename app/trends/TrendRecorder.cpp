#include "app/trends/TrendRecorder.h"

#include <algorithm>

#include "link/RelaySession.h"

namespace {
constexpr int kRatedCurrentRegister = 108;   // the rated current, 0.01 A
constexpr int kRatedCurrentTries = 3;        // the polls wait behind the question meanwhile
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
    if (values.Carries(kRatedCurrentRegister))
        ratedCentiAmps_ = values.At(kRatedCurrentRegister);
}

void TrendRecorder::Sample(const RegisterValues& reply, qint64 ms)
{
    if (reply.block.first != kCurrentParamsBlock.first || int(reply.values.size()) < kBlockRegisters)
        return;
    BlockSample sample;
    sample.ms = ms;
    std::copy_n(reply.values.begin(), kBlockRegisters, sample.regs.begin());
    history_.Add(sample);
    const bool wasRecording = detector_.Recording();
    if (std::optional<StartRecord> record = detector_.Add(sample))
        keep(*record);
    // A start began: the rated current is asked for once, if no read brought it.
    if (!wasRecording && detector_.Recording() && ratedCentiAmps_ == 0 && !ratedAsked_ && !session_.Asking()) {
        ratedAsked_ = true;
        session_.AskRead(RegisterBlock{kRatedCurrentRegister, 1}, AskOptions{kRatedCurrentTries});
    }
    emit sampled();
}

void TrendRecorder::Break()
{
    history_.Break();
    if (std::optional<StartRecord> record = detector_.Break())
        keep(*record);
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
