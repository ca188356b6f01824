#include "history/TrendRecorder.h"

#include <QDateTime>
#include <QTimer>

#include <algorithm>

#include "exchanges/RegisterTable.h"
#include "link/RelaySession.h"
#include "link/SessionReply.h"

namespace {
constexpr int kRatedCurrentTries = 3;        // the polls wait behind the question meanwhile
constexpr int kRatedCurrentWaitMs = 3000;    // a record waits for the answer no longer

// The rated current (0.01 A), a setting of the settings block.
int RatedCurrentRegister()
{
    static const int reg = RegisterOf(QStringLiteral("SE0"));
    return reg;
}
}  // namespace

TrendRecorder::TrendRecorder(RelaySession& session, QObject* parent)
    : QObject(parent), session_(session), startsFolder_(StartsFolder()), historyFolder_(HistoryFile::DefaultFolder())
{
    setObjectName(QStringLiteral("TrendRecorder"));
    connect(&session_, &RelaySession::blockRead, this, &TrendRecorder::blockRead);
    flush_ = new QTimer(this);
    flush_->setSingleShot(true);
    flush_->setInterval(kFlushMs);
    connect(flush_, &QTimer::timeout, this, [this] { flush(false); });
}

TrendRecorder::~TrendRecorder()
{
    FlushHistory();
}

// The relay whose reply is being taken: the address of the request it
// answers, which the user may have changed since it went out.
RelayId TrendRecorder::polledRelay() const
{
    const LinkState& link = session_.State();
    return RelayId{session_.DevicePath(), link.Sent.valid ? int(link.Sent.Slave()) : int(link.SlaveAddress), {}};
}

// Any read of the settings block (the page shown, a save, a question) tells
// the rated current, of the relay polled now.
void TrendRecorder::blockRead(const RegisterValues& values)
{
    if (values.Carries(RatedCurrentRegister()) && !values.foreign && polledRelay().SameRelay(relay_)) {
        ratedCentiAmps_ = values.At(RatedCurrentRegister());
        keepWaiting();
    }
}

void TrendRecorder::Sample(const RegisterValues& reply, qint64 ms)
{
    // Values read while another master is on the line may be its traffic's.
    if (reply.foreign || reply.block.first != kCurrentParamsBlock.first || int(reply.values.size()) < kBlockRegisters)
        return;
    const RelayId polled = polledRelay();
    if (!polled.SameRelay(relay_))
        switchTo(polled);
    BlockSample sample;
    sample.ms = ms;
    std::copy_n(reply.values.begin(), kBlockRegisters, sample.regs.begin());
    history_.Add(sample);
    if (file_) {
        file_->Append(history_.FullRate().back());
        if (!flush_->isActive())
            flush_->start();
    }
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

void TrendRecorder::SetRelay(const RelayId& relay)
{
    if (!relay.SameRelay(relay_))
        switchTo(relay);
    else
        relay_.name = relay.name;
}

void TrendRecorder::SetHistoryFolder(const QString& folder)
{
    FlushHistory();
    historyFolder_ = folder;
    switchTo(relay_);
}

QString TrendRecorder::HistoryPath() const
{
    return file_ ? file_->Path() : QString();
}

// The history of the relay before is written and ends, with its start if
// one is being recorded; the new relay's is read.
void TrendRecorder::switchTo(const RelayId& relay)
{
    Break();
    keepWaiting();
    FlushHistory();
    flush_->stop();
    file_.reset();
    relay_ = relay;
    relay_.name = NameOf && relay.Known() ? NameOf(relay) : relay.name;
    ratedCentiAmps_ = 0;
    ratedAsked_ = false;
    detector_ = StartDetector();
    history_.Clear();
    if (relay_.Known()) {
        file_ = std::make_unique<HistoryFile>(HistoryFile::PathFor(historyFolder_, relay_), relay_);
        const HistoryFile::LoadResult loaded = file_->Load(history_, QDateTime::currentMSecsSinceEpoch());
        if (loaded.outcome == HistoryFile::Outcome::SetAside)
            emit historyTrouble(loaded.message);
    }
    history_.Break();   // the window was away: no line joins what was read to what comes
    emit relayChanged(relay_);
}

void TrendRecorder::FlushHistory()
{
    flush(true);
}

void TrendRecorder::flush(bool waitForCopy)
{
    if (!file_ || !file_->Pending())
        return;
    QString reason;
    const bool written = file_->Flush(history_, &reason, waitForCopy);
    if (file_->Pending() && !flush_->isActive())
        flush_->start();   // a copy on its way, or what came meanwhile
    if (!written && !flushFailed_)
        emit historyTrouble(QStringLiteral("История трендов не записана в %1: %2").arg(file_->Path(), reason));
    flushFailed_ = !written;
}

// A complete start is kept at once when the rated current is known;
// otherwise the relay is asked for it once (after the start, so the start's
// own polling is left alone), and the record is kept with the answer, or
// without the amperes when none comes.
void TrendRecorder::complete(const StartRecord& record)
{
    if (ratedCentiAmps_ > 0 || ratedAsked_ || !session_.IsOpen() || session_.Asking() || waiting_) {
        keep(record, relay_);
        return;
    }
    ratedAsked_ = true;
    waiting_ = record;
    waitingRelay_ = relay_;
    Question question = Question::Read(RegisterBlock{RatedCurrentRegister(), 1});
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
    keep(record, waitingRelay_);
}

void TrendRecorder::keep(const StartRecord& record, const RelayId& relay)
{
    RelayId named = relay;
    if (NameOf && relay.Known())
        named.name = NameOf(relay);   // as the user calls it now
    const QByteArray picture = DrawPicture ? DrawPicture(record, ratedCentiAmps_, named) : QByteArray();
    QString folder, reason;
    if (WriteStartRecord(startsFolder_, record, ratedCentiAmps_, named, picture, &folder, &reason))
        emit startKept(folder);
    else
        emit startNotKept(reason);
}
