#include "link/RelaySession.h"

#include <QTimer>

#include <algorithm>
#include <cstring>

#include "link/QuestionQueue.h"

RelaySession::RelaySession(const SessionOptions& options, QObject* parent)
    : QObject(parent), options_(options), cycle_(s_, *this),
      opener_(new LineOpener(options.networkAllowanceMs, this)), questions_(new QuestionQueue(this)),
      ticks_(new TickScheduler(*this, options.tickMs, this)), otherMasterHold_(new QTimer(this))
{
    otherMasterHold_->setSingleShot(true);
    connect(otherMasterHold_, &QTimer::timeout, this, [this] { setOtherMaster(false); });
    setObjectName(QStringLiteral("RelaySession"));
    cycle_.SetPacing(options_.tickMs, options_.replyTimeoutTicks);
    cycle_.SetLine(opener_->Line());
    opener_->OnReceived = [this](int count) { Receive(count); };
    // Closing the line from inside its own notification would pull the
    // watcher from under itself: stop now, report from the event loop.
    opener_->OnLost = [this](int osError, const QString& reason) { lineFailed(osError, reason); };
    connect(questions_, &QuestionQueue::writeEnded, this,
            [this](const Answer& answer) { emit writeEnded(WriteResultOf(answer)); });
    connect(questions_, &QuestionQueue::withdrawing, this, &RelaySession::questionWithdrawing);
}

RelaySession::~RelaySession()
{
    ticks_->Stop();
    // Nobody waits in vain for a reply of a session that goes.
    lost_ = true;
    endAll();
    // Nothing of the session may be called back while the line goes.
    opener_->OnReceived = nullptr;
    opener_->OnLost = nullptr;
    delete opener_;
    opener_ = nullptr;
}

void RelaySession::SetLine(ILinePort* line)
{
    putIn_ = line;
    cycle_.SetLine(line ? line : opener_->Line());
    if (line)
        startLine();
    else
        cycle_.SetLineTiming(timingApplies());
}

bool RelaySession::IsOpen() const
{
    const ILinePort* line = cycle_.Line();
    return line && line->IsOpen();
}

TcpLine* RelaySession::NetworkLine() const
{
    return cycle_.Line() == opener_->Line() ? opener_->NetworkLine() : nullptr;
}

int RelaySession::PendingQuestions() const
{
    return questions_->Size();
}

void RelaySession::Open(const QString& name)
{
    traits_ = {};
    const OpenedLine opened = opener_->Open(name);
    traits_ = opened.traits;
    const int tickMs = std::max(options_.tickMs, 1);
    allowanceTicks_ = (traits_.allowanceMs + tickMs - 1) / tickMs;
    cycle_.SetPacing(options_.tickMs, options_.replyTimeoutTicks + allowanceTicks_);
    cycle_.SetLine(putIn_ ? putIn_ : opened.line);
    startLine();
    lost_ = false;
    ticks_->Start();
    emit lineOpenChanged(true);
}

void RelaySession::startLine()
{
    s_.ReadyToSend = 1;
    s_.MissCount = 0;
    s_.AwaitingReply = 0;   // nothing on a new line answers anything of ours
    s_.BlockedTicks = 0;
    cycle_.ForgetLinkLook();
    cycle_.SetLineTiming(timingApplies());
    // Nothing is known yet of other masters on a line just opened.
    otherMasterTold_ = false;
    otherMasterHold_->stop();
    setOtherMaster(false);
}

// On and Off hold for every line but a gateway's, whose transaction ids are
// the check; Auto goes by the line's kind.
bool RelaySession::timingApplies() const
{
    const bool opened = cycle_.Line() == opener_->Line();
    if (options_.lineTiming != SessionOptions::Timing::Auto)
        return options_.lineTiming == SessionOptions::Timing::On && !(opened && traits_.mbap);
    return opened ? traits_.keepsLineTime : cycle_.Line()->KeepsLineTime();
}

void RelaySession::Close()
{
    ticks_->Stop();
    opener_->Close();
    if (polled_)
        polled_->LineClosed();
    s_.MissCount = 0;
    s_.AwaitingReply = 0;
    otherMasterHold_->stop();
    setOtherMaster(false);
    endAll();
    emit lineOpenChanged(false);
}

void RelaySession::Tick()
{
    try {
        cycle_.Tick();
    } catch (const EComPort& e) {
        lineFailed(e.OsErrorCode, QString());
    }
}

void RelaySession::Receive(int count)
{
    // The ticks since the last event count too: a send kept waiting by a
    // line that does not fall silent is a miss in the end.
    ticks_->CountElapsed();
    try {
        cycle_.Receive(count);
    } catch (const EComPort& e) {
        lineFailed(e.OsErrorCode, QString());
        return;
    }
    if (!ticks_->Running())
        return;
    if (cycle_.Flooded())
        cycle_.Line()->HoldRx(std::chrono::nanoseconds(kFloodPauseNs));
    else if (options_.lookAway)
        if (const int rest = cycle_.BytesStillExpected(); rest > 0)
            holdForRest(rest);
    ticks_->Restarted();
}

// The rest of a reply takes its line time to come: the port looks away
// meanwhile, so that a reply is taken in two or three events rather than
// piece by piece. A rest that comes later than its line time is taken as it
// lands, the port looking again.
void RelaySession::holdForRest(int rest)
{
    const qint64 hold = RestHoldNs(ticks_->NowNs(), options_.tickMs, rest);
    if (hold > 0)
        cycle_.Line()->HoldRx(std::chrono::nanoseconds(hold));
}

// A write or read that fails, or a device that goes away, means the line is
// gone: stop ticking now and report it once from the event loop, instead of a
// failure every tick.
void RelaySession::lineFailed(int osError, const QString& reason)
{
    ticks_->Stop();
    QMetaObject::invokeMethod(this, [this, osError, reason] { reportLost(osError, reason); },
                              Qt::QueuedConnection);
}

void RelaySession::reportLost(int osError, const QString& reason)
{
    if (lost_ || !IsOpen())
        return;   // closed meanwhile, or told already: one report per loss
    lost_ = true;
    s_.AwaitingReply = 0;
    endAll();
    emit lineLost(osError, reason);
}

// ---- questions ---------------------------------------------------------------

SessionReply* RelaySession::Ask(const Question& question)
{
    Question q = question;
    if (q.address <= 0)
        q.address = s_.SlaveAddress;
    if (q.tries <= 0)
        q.tries = options_.tries;   // still 0: asked until answered
    if (lost_ || !IsOpen())
        return questions_->Refuse(q);
    SessionReply* reply = questions_->Add(q);
    ticks_->Arm();
    return reply;
}

void RelaySession::questionWithdrawing(bool fromLine)
{
    // On the line: whatever comes of it is noise now.
    if (fromLine && s_.AwaitingReply) {
        s_.AwaitingReply = 0;
        s_.ReadyToSend = 1;
    }
    ticks_->Arm();
}

void RelaySession::endAll()
{
    questions_->EndAll();
    endPolledWrite(Outcome::Unconfirmed);
}

void RelaySession::endPolledWrite(Outcome how, bool queued)
{
    if (!polledWrite_)
        return;
    WriteResult ended = *polledWrite_;
    polledWrite_.reset();
    ended.how = how;
    if (queued)
        QMetaObject::invokeMethod(this, [this, ended] { emit writeEnded(ended); }, Qt::QueuedConnection);
    else
        emit writeEnded(ended);
}

// ---- the poll cycle's client -------------------------------------------------

bool RelaySession::HasRequest()
{
    return !questions_->Empty() || (polled_ && polled_->HasRequest());
}

void RelaySession::BuildRequest()
{
    const Answer* asked = questions_->Send();
    if (!asked) {
        buildPolled();
        return;
    }
    const Question& q = asked->question;
    s_.TxMode = 0;
    s_.TxContext = 0;
    if (q.IsWrite())
        FillWriteRequest(s_.TxFrame, q.address, q.reg, q.value);
    else
        FillReadRequest(s_.TxFrame, q.address, q.block.first, q.block.count);
    if (q.timeoutTicks > 0)
        cycle_.SetNextReplyTimeout(q.timeoutTicks + allowanceTicks_);
}

void RelaySession::buildPolled()
{
    PolledRequest request;
    request.slave = s_.SlaveAddress;
    std::memcpy(request.frame, s_.TxFrame, sizeof request.frame);   // kept when the source has none of its own
    if (polled_)
        polled_->Build(request);
    std::memcpy(s_.TxFrame, request.frame, sizeof request.frame);
    s_.TxMode = request.mode;
    s_.TxContext = request.context;
    // A polled write is over once something else goes out in its place: the
    // window moved on without its answer. Told from the event loop, not from
    // inside the send.
    if (request.write != PolledRequest::Write::Again)
        endPolledWrite(Outcome::Unconfirmed, true);
    if (request.write == PolledRequest::Write::None)
        return;
    if (!polledWrite_) {
        WriteResult started;
        started.address = request.frame[0];
        started.reg = request.frame[2] << 8 | request.frame[3];
        started.value = uint16_t(request.frame[4] << 8 | request.frame[5]);
        started.context = request.context;
        polledWrite_ = started;
    }
    ++polledWrite_->tries;
}

void RelaySession::HandleReadReply(const SentRequest& sent)
{
    RegisterValues values = ReadReplyValues(sent, s_.RxBuffer);
    values.foreign = otherMasterPresent_;
    Answer* asked = questions_->OnLine();
    if (asked) {
        // A question's answer belongs to no exchange: nothing polled decodes it.
        values.mode = 0;
        values.context = 0;
        asked->values = values.values;
        asked->foreign = values.foreign;
    } else if (polled_) {
        polled_->ReadAnswered(sent);
    }
    emit blockRead(values);
    if (asked)
        questions_->EndOnLine(Ending::Reply, ReplyVerdict::ReadValid);
}

void RelaySession::HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict)
{
    const uint16_t stored = verdict == ReplyVerdict::WriteAltered ? uint16_t(s_.RxBuffer[4] << 8 | s_.RxBuffer[5]) : 0;
    const int exceptionCode = verdict == ReplyVerdict::Refused ? s_.RxBuffer[2] : 0;
    if (Answer* asked = questions_->OnLine()) {
        asked->stored = stored;
        asked->exceptionCode = exceptionCode;
        questions_->EndOnLine(Ending::Reply, verdict);
        return;
    }
    if (polled_)
        polled_->WriteAnswered(sent, verdict == ReplyVerdict::WriteEcho);
    WriteResult result = polledWrite_.value_or(WriteResult{});
    polledWrite_.reset();
    result.address = sent.Slave();
    result.reg = sent.Register();
    result.value = uint16_t(sent.Operand());
    result.context = sent.context;
    result.how = OutcomeOf(true, true, Ending::Reply, verdict);
    result.stored = stored;
    result.exceptionCode = exceptionCode;
    result.tries = std::max(result.tries, 1);
    emit writeEnded(result);
}

bool RelaySession::CountsAsMiss(const SentRequest&)
{
    const Answer* asked = questions_->OnLine();
    return !(asked && asked->question.probe);
}

void RelaySession::ExchangeFailed(const SentRequest&, ExchangeFailure why)
{
    Answer* asked = questions_->OnLine();
    if (!asked)
        return;
    if (why == ExchangeFailure::Spoilt)
        asked->spoiltSeen = true;
    if (cycle_.TimingRejections() != earlyAtSend_)
        ++asked->earlyTries;
    asked->why = why;
    asked->exceptionCode = why == ExchangeFailure::Refused ? s_.RxBuffer[2] : 0;
    if (asked->question.tries <= 0 || asked->tries + asked->busyTries < asked->question.tries)
        return;   // asked again on the tick after the silence
    s_.AwaitingReply = 0;   // given up: a late answer is noise
    if (!asked->question.IsWrite())
        emit readFailed(ReadFailureOf(*asked));
    questions_->EndOnLine(Ending::TriesSpent, ReplyVerdict::ReadValid, why);
}

void RelaySession::OtherMasterSeen()
{
    otherMasterHold_->start(std::max(options_.otherMasterHoldMs, 0));
    setOtherMaster(true);
    if (!otherMasterTold_) {
        otherMasterTold_ = true;
        emit otherMasterSeen();
    }
}

void RelaySession::setOtherMaster(bool present)
{
    if (present == otherMasterPresent_)
        return;
    otherMasterPresent_ = present;
    emit otherMasterChanged(present);
}

void RelaySession::SendKeptWaiting()
{
    // No request is in flight. The window's polled requests wait on: their
    // misses are counted.
    Answer* waiting = questions_->Head();
    if (!waiting)
        return;
    ++waiting->busyTries;
    const Question& q = waiting->question;
    if (q.tries <= 0 || waiting->tries + waiting->busyTries < q.tries)
        return;
    waiting->why = ExchangeFailure::NoReply;
    if (!q.IsWrite())
        emit readFailed(ReadFailureOf(*waiting));
    s_.AwaitingReply = 0;   // given up: a late answer is noise
    questions_->EndHead(ExchangeFailure::NoReply);
}

int RelaySession::QuietTicksBeforeNext()
{
    const Answer* next = questions_->Head();
    return next ? next->question.quietTicks : 0;
}

void RelaySession::ReceiveEnded()
{
    if (polled_)
        polled_->ReceiveEnded();
}
