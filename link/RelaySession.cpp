#include "link/RelaySession.h"

#include <QRegularExpression>
#include <QTimer>

#include <algorithm>
#include <cstring>

#include "link/Endpoint.h"
#include "link/SerialLine.h"
#include "link/TcpLine.h"
#include "serial/ComPort.h"
#include "serial/DeviceNames.h"

#include <QByteArray>

namespace {

constexpr qint64 kNsPerMs = 1000000;
// A device server or gateway that has not taken the connection by then is
// not there: the front end must not stand still for longer.
constexpr int kConnectTimeoutMs = 5000;

bool IsComName(const QString& name)
{
    static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
    return com.match(name).hasMatch();
}

}  // namespace

RelaySession::RelaySession(const SessionOptions& options, QObject* parent)
    : QObject(parent), options_(options), cycle_(s_, *this)
{
    setObjectName(QStringLiteral("RelaySession"));
    cycle_.SetPacing(options_.tickMs, options_.replyTimeoutTicks);

    // The line as the relay wants it: 9600 8N1, no flow control, DTR and RTS
    // off; every received character reported on this thread.
    port_ = new TComPort(this);
    port_->setObjectName(QStringLiteral("ComPort"));
    port_->BaudRate = br9600;
    port_->StopBits = sbOneStopBit;
    port_->DataBits = dbEight;
    port_->Events = {evRxChar};
    port_->Timeouts.ReadInterval = -1;
    port_->Timeouts.ReadTotalMultiplier = 200;
    port_->Timeouts.ReadTotalConstant = 200;
    port_->Timeouts.WriteTotalMultiplier = 0;
    port_->Timeouts.WriteTotalConstant = 0;
    port_->SetSyncMethod(smWindowSync);
    serialLine_ = std::make_unique<SerialLine>(port_);
    cycle_.SetLine(serialLine_.get());
    port_->OnRxChar = [this](QObject*, int count) { Receive(count); };
    portLink_.OnDeviceLost = [this](int osError, const QString& reason) {
        // Closing the port from inside its own notification would pull the
        // watcher from under itself: stop now, report from the event loop.
        lineFailed(osError, reason);
    };
    port_->AddLink(&portLink_);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer"));
    timer_->setInterval(options_.tickMs);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, &RelaySession::timerFired);
}

RelaySession::~RelaySession()
{
    timer_->stop();
    polling_ = false;
    // Nobody waits in vain for a reply of a session that goes.
    lost_ = true;
    finishAll();
    if (netLine_) {
        netLine_->OnReceived = nullptr;
        netLine_->OnLost = nullptr;
        netLine_.reset();
    }
    // Nothing of the session may be called back while the port goes.
    port_->OnRxChar = nullptr;
    port_->RemoveLink(&portLink_);
    delete port_;
    port_ = nullptr;
}

void RelaySession::SetLine(ILinePort* line)
{
    cycle_.SetLine(line ? line : serialLine_.get());
    cycle_.SetLineTiming(lineKeepsTime());
}

bool RelaySession::IsOpen() const
{
    const ILinePort* line = cycle_.Line();
    return line == serialLine_.get() ? port_->Connected() : line && line->IsOpen();
}

QString RelaySession::DevicePath() const
{
    return endpoint_.isEmpty() ? port_->DevicePath() : endpoint_;
}

TcpLine* RelaySession::NetworkLine() const
{
    return netLine_ && cycle_.Line() == netLine_.get() ? netLine_.get() : nullptr;
}

void RelaySession::Open(const QString& portOrPath)
{
    // A COMn name may be mapped to an endpoint: the mapping first, then the
    // line by what it names.
    const QString target = IsComName(portOrPath) ? DeviceNames::DevicePathFor(portOrPath) : portOrPath;
    if (NamesEndpoint(target))
        openNetworkLine(target);
    else
        openSerialLine(portOrPath);
    s_.ReadyToSend = 1;
    s_.MissCount = 0;
    s_.AwaitingReply = 0;   // nothing on a new line answers anything of ours
    s_.BlockedTicks = 0;
    cycle_.ForgetLinkLook();
    cycle_.SetLineTiming(lineKeepsTime());
    lost_ = false;
    polling_ = true;
    tickClock_.start();
    lastTick_ = 0;
    armTimer();
    emit lineOpenChanged(true);
}

bool RelaySession::lineKeepsTime() const
{
    if (options_.lineTiming != SessionOptions::Timing::Auto)
        return options_.lineTiming == SessionOptions::Timing::On && !dynamic_cast<MbapLine*>(cycle_.Line());
    const QByteArray forced = qgetenv("ZASHCHITA_LINE_TIMING");
    if (forced == "on" || forced == "off")
        return forced == "on" && !dynamic_cast<MbapLine*>(cycle_.Line());
    return cycle_.Line()->KeepsLineTime();
}

void RelaySession::openSerialLine(const QString& portOrPath)
{
    endpoint_.clear();
    if (netLine_ && cycle_.Line() == netLine_.get()) {
        netLine_->Close();
        cycle_.SetLine(serialLine_.get());
    }
    allowanceTicks_ = 0;
    cycle_.SetPacing(options_.tickMs, options_.replyTimeoutTicks);
    if (IsComName(portOrPath)) {
        port_->SetDevicePath(QString());
        port_->SetPort(portOrPath);
    } else {
        port_->SetDevicePath(portOrPath);
    }
    port_->Open();
    serialLine_->SetKeepsLineTime(!IsPseudoTerminal(port_->DevicePath()));
}

void RelaySession::openNetworkLine(const QString& endpoint)
{
    endpoint_ = endpoint;
    QString error;
    const std::optional<::Endpoint> parsed = ParseEndpoint(endpoint, &error);
    if (!parsed)
        throw ELineOpen(-1, error);
    endpoint_ = parsed->Text();
    if (port_->Connected())
        port_->Close();
    if (netLine_)
        netLine_->Close();
    if (!netLine_ || bool(dynamic_cast<MbapLine*>(netLine_.get())) != (parsed->scheme == LineScheme::ModbusTcp)) {
        netLine_.reset(parsed->scheme == LineScheme::ModbusTcp ? new MbapLine : new TcpLine);
        netLine_->OnReceived = [this](int count) { Receive(count); };
        netLine_->OnLost = [this](int osError, const QString& reason) { lineFailed(osError, reason); };
    }
    netLine_->Connect(*parsed, kConnectTimeoutMs);
    cycle_.SetLine(netLine_.get());
    const int tickMs = std::max(options_.tickMs, 1);
    allowanceTicks_ = (std::max(options_.networkAllowanceMs, 0) + tickMs - 1) / tickMs;
    cycle_.SetPacing(options_.tickMs, options_.replyTimeoutTicks + allowanceTicks_);
}

void RelaySession::Close()
{
    polling_ = false;
    timer_->stop();
    if (netLine_ && cycle_.Line() == netLine_.get())
        netLine_->Close();
    else
        port_->Close();
    if (polled_)
        polled_->LineClosed();
    s_.MissCount = 0;
    s_.AwaitingReply = 0;
    finishAll();
    emit lineOpenChanged(false);
}

// ---- the tick grid ----------------------------------------------------------

// The ticks keep a fixed grid from the opening of the line, as a free-running
// timer would; but the timer sleeps through the ticks that would only count
// and wakes for the one that sends or times out: the same ticks, without a
// wake-up every tick.
qint64 RelaySession::tickOfNow() const
{
    return tickClock_.nsecsElapsed() / (qint64(options_.tickMs) * kNsPerMs);
}

qint64 RelaySession::nextEventNs() const
{
    return (lastTick_ + cycle_.TicksToNextEvent()) * qint64(options_.tickMs) * kNsPerMs;
}

void RelaySession::armTimer()
{
    if (!polling_ || cycle_.Idle()) {
        timer_->stop();
        return;
    }
    armedDueNs_ = nextEventNs();
    const qint64 waitNs = std::max<qint64>(armedDueNs_ - tickClock_.nsecsElapsed(), 0);
    timer_->start(int((waitNs + kNsPerMs - 1) / kNsPerMs));
}

void RelaySession::timerFired()
{
    const qint64 passed = std::max<qint64>(tickOfNow() - lastTick_, 0);
    const int due = cycle_.TicksToNextEvent();
    if (passed < due) {
        // Woken before the tick that can do anything (a receive event moved
        // it later): count the ticks gone by and sleep on.
        cycle_.CountIdleTicks(int(passed));
        lastTick_ += passed;
        armTimer();
        return;
    }
    // A late wake-up runs the one tick due; the ticks it slept past are gone,
    // as a late timer's would be.
    cycle_.CountIdleTicks(due - 1);
    lastTick_ += passed;
    Tick();
    armTimer();
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
    if (polling_) {
        // The ticks since the last event count too: a send kept waiting by a
        // line that does not fall silent is a miss in the end.
        cycle_.CountIdleTicks(int(std::max<qint64>(tickOfNow() - lastTick_, 0)));
    }
    try {
        cycle_.Receive(count);
    } catch (const EComPort& e) {
        lineFailed(e.OsErrorCode, QString());
        return;
    }
    // The receive event restarted the count: the next tick of the grid is the
    // first. The timer is set again only if that brings its wake-up forward
    // (a whole reply: the send is due); a piece of a reply leaves it alone.
    if (!polling_)
        return;
    if (options_.lookAway)
        if (const int rest = cycle_.BytesStillExpected(); rest > 0)
            holdForRest(rest);
    lastTick_ = tickOfNow();
    if (!timer_->isActive() || nextEventNs() < armedDueNs_)
        armTimer();
}

// The rest of a reply takes its line time to come: the port looks away
// meanwhile, so that a reply is taken in two or three events rather than
// piece by piece. A rest that comes later than its line time is taken as it
// lands, the port looking again.
void RelaySession::holdForRest(int rest)
{
    const qint64 hold = RestHoldNs(tickClock_.nsecsElapsed(), options_.tickMs, rest);
    if (hold > 0)
        cycle_.Line()->HoldRx(std::chrono::nanoseconds(hold));
}

// A write or read that fails, or a device that goes away, means the line is
// gone: stop ticking now and report it once from the event loop, instead of a
// failure every tick.
void RelaySession::lineFailed(int osError, const QString& reason)
{
    polling_ = false;
    timer_->stop();
    QMetaObject::invokeMethod(this, [this, osError, reason] { reportLost(osError, reason); },
                              Qt::QueuedConnection);
}

void RelaySession::reportLost(int osError, const QString& reason)
{
    if (lost_ || !IsOpen())
        return;   // closed meanwhile, or told already: one report per loss
    lost_ = true;
    s_.AwaitingReply = 0;
    finishAll();
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
    auto* reply = new SessionReply(*this, q);
    if (lost_ || !IsOpen()) {
        // Nothing can be asked: told from the event loop, once the asker has
        // had the reply in hand.
        QPointer<SessionReply> pending(reply);
        QMetaObject::invokeMethod(
            this, [pending] { if (pending) pending->finish(ReplyOutcome::Aborted); }, Qt::QueuedConnection);
        return reply;
    }
    questions_.push_back(reply);
    if (polling_)
        armTimer();
    return reply;
}

void RelaySession::abandonReply(SessionReply* reply)
{
    if (reply == Head() && sentFromAsk_) {
        // On the line: whatever comes of it is noise now.
        sentFromAsk_ = false;
        if (s_.AwaitingReply) {
            s_.AwaitingReply = 0;
            s_.ReadyToSend = 1;
        }
    }
    const Answer& answer = reply->answer();
    if (!answer.LeftThePc())
        finishReply(reply, ReplyOutcome::NotSent);
    else
        finishReply(reply, answer.question.IsWrite() ? ReplyOutcome::Unconfirmed : ReplyOutcome::ReadFailed);
    if (polling_)
        armTimer();
}

WriteResult WriteResultOf(const Answer& answer)
{
    WriteResult result;
    result.address = answer.question.address;
    result.reg = answer.question.reg;
    result.value = answer.question.value;
    result.exceptionCode = answer.exceptionCode;
    result.stored = answer.stored;
    result.tries = answer.tries;
    switch (answer.outcome) {
    case ReplyOutcome::Echoed: result.how = WriteHow::Echoed; break;
    case ReplyOutcome::Refused: result.how = WriteHow::Refused; break;
    case ReplyOutcome::Altered: result.how = WriteHow::Altered; break;
    case ReplyOutcome::Unconfirmed:
        result.how = answer.triesSpent ? WriteHow::NoAnswer : WriteHow::Unconfirmed;
        break;
    default: result.how = WriteHow::Unconfirmed; break;   // never sent: no tries
    }
    return result;
}

void RelaySession::finishReply(SessionReply* reply, ReplyOutcome outcome)
{
    if (reply->isFinished())
        return;
    if (const auto at = std::find(questions_.begin(), questions_.end(), reply); at != questions_.end()) {
        if (at == questions_.begin())
            sentFromAsk_ = false;
        questions_.erase(at);
    }
    reply->answer_.outcome = outcome;
    if (reply->question().IsWrite() && reply->answer().LeftThePc()) {
        emit writeEnded(WriteResultOf(reply->answer()));
    }
    reply->finish(outcome);
}

void RelaySession::finishAll()
{
    sentFromAsk_ = false;
    std::deque<SessionReply*> pending;
    pending.swap(questions_);
    for (SessionReply* reply : pending) {
        const bool unconfirmed = reply->question().IsWrite() && reply->answer().LeftThePc();
        finishReply(reply, unconfirmed ? ReplyOutcome::Unconfirmed : ReplyOutcome::Aborted);
    }
    endPolledWrite(WriteHow::Unconfirmed);
}

void RelaySession::endPolledWrite(WriteHow how)
{
    if (!polledWrite_)
        return;
    WriteResult result = *polledWrite_;
    polledWrite_.reset();
    result.how = how;
    emit writeEnded(result);
}

// ---- the poll cycle's client -------------------------------------------------

bool RelaySession::HasRequest()
{
    return !questions_.empty() || (polled_ && polled_->HasRequest());
}

void RelaySession::BuildRequest()
{
    SessionReply* head = Head();
    sentFromAsk_ = head != nullptr;
    if (head) {
        Answer& answer = head->answer_;
        const Question& q = answer.question;
        ++answer.tries;
        s_.TxMode = 0;
        s_.TxContext = 0;
        if (q.IsWrite())
            FillWriteRequest(s_.TxFrame, q.address, q.reg, q.value);
        else
            FillReadRequest(s_.TxFrame, q.address, q.block.first, q.block.count);
        if (q.timeoutTicks > 0)
            cycle_.SetNextReplyTimeout(q.timeoutTicks + allowanceTicks_);
        return;
    }
    if (polled_)
        polled_->Build(s_);
    // A polled write is over once something else goes out in its place: the
    // window moved on without its answer.
    const bool write = s_.TxFrame[1] == kFunctionWrite;
    const int reg = s_.TxFrame[2] << 8 | s_.TxFrame[3];
    const uint16_t value = uint16_t(s_.TxFrame[4] << 8 | s_.TxFrame[5]);
    if (polledWrite_ && !(write && polledWrite_->address == s_.TxFrame[0] && polledWrite_->reg == reg
                          && polledWrite_->value == value && polledWrite_->context == s_.TxContext)) {
        // Told from the event loop, not from inside the send.
        WriteResult ended = *polledWrite_;
        ended.how = WriteHow::Unconfirmed;
        polledWrite_.reset();
        QMetaObject::invokeMethod(this, [this, ended] { emit writeEnded(ended); }, Qt::QueuedConnection);
    }
    if (write) {
        if (!polledWrite_) {
            WriteResult started;
            started.address = s_.TxFrame[0];
            started.reg = reg;
            started.value = value;
            started.context = s_.TxContext;
            polledWrite_ = started;
        }
        ++polledWrite_->tries;
    }
}

RegisterValues RelaySession::ReplyValues(const SentRequest& sent) const
{
    RegisterValues v;
    v.block = {sent.Register(), sent.Operand()};
    v.mode = sent.mode;
    v.context = sent.context;
    v.values.reserve(size_t(sent.Operand()));
    for (int reg = v.block.first; reg < v.block.first + v.block.count; ++reg)
        v.values.push_back(ReplyRegister(s_.RxBuffer, v.block.first, reg));
    return v;
}

void RelaySession::HandleReadReply(const SentRequest& sent)
{
    RegisterValues values = ReplyValues(sent);
    SessionReply* head = sentFromAsk_ ? Head() : nullptr;
    if (head) {
        // A question's answer belongs to no exchange: nothing polled decodes it.
        values.mode = 0;
        values.context = 0;
        head->answer_.values = values.values;
    } else if (polled_) {
        polled_->ReadAnswered(sent);
    }
    emit blockRead(values);
    if (head)
        finishReply(head, ReplyOutcome::Values);
}

void RelaySession::HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict)
{
    ReplyOutcome outcome = ReplyOutcome::Refused;
    uint16_t stored = 0;
    int exceptionCode = 0;
    switch (verdict) {
    case ReplyVerdict::WriteEcho:
        outcome = ReplyOutcome::Echoed;
        break;
    case ReplyVerdict::WriteAltered:
        outcome = ReplyOutcome::Altered;
        stored = uint16_t(s_.RxBuffer[4] << 8 | s_.RxBuffer[5]);
        break;
    default:
        exceptionCode = s_.RxBuffer[2];
        break;
    }
    if (SessionReply* head = sentFromAsk_ ? Head() : nullptr) {
        head->answer_.stored = stored;
        head->answer_.exceptionCode = exceptionCode;
        finishReply(head, outcome);
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
    result.how = outcome == ReplyOutcome::Echoed ? WriteHow::Echoed
        : outcome == ReplyOutcome::Altered       ? WriteHow::Altered
                                                 : WriteHow::Refused;
    result.stored = stored;
    result.exceptionCode = exceptionCode;
    result.tries = std::max(result.tries, 1);
    emit writeEnded(result);
}

bool RelaySession::CountsAsMiss(const SentRequest&)
{
    const SessionReply* head = sentFromAsk_ ? Head() : nullptr;
    return !(head && head->question().probe);
}

void RelaySession::ExchangeFailed(const SentRequest&, ExchangeFailure why)
{
    SessionReply* head = sentFromAsk_ ? Head() : nullptr;
    if (!head)
        return;
    Answer& answer = head->answer_;
    if (why == ExchangeFailure::Spoilt)
        answer.spoiltSeen = true;
    answer.why = why;
    answer.exceptionCode = why == ExchangeFailure::Refused ? s_.RxBuffer[2] : 0;
    if (answer.question.tries <= 0 || answer.tries < answer.question.tries)
        return;   // asked again on the tick after the silence
    sentFromAsk_ = false;
    s_.AwaitingReply = 0;   // given up: a late answer is noise
    if (answer.question.IsWrite()) {
        answer.triesSpent = true;
        finishReply(head, ReplyOutcome::Unconfirmed);
        return;
    }
    ReadFailure failure;
    failure.block = answer.question.block;
    failure.why = why;
    failure.exceptionCode = answer.exceptionCode;
    failure.spoiltSeen = answer.spoiltSeen;
    failure.tries = answer.tries;
    emit readFailed(failure);
    finishReply(head, ReplyOutcome::ReadFailed);
}
