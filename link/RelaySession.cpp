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
// The port looks away while the rest of a reply is on its way, at most this
// long (well inside the reply time-out); a rest due sooner is taken as it
// lands, and so are the last bytes of a longer one, so that the silence
// before the next request starts with the reply's true end.
constexpr int kLongestRxHoldMs = 60;
constexpr int kShortestRxHoldMs = 10;
constexpr int kLastBytesTakenAsTheyLandMs = 5;
// A device server or gateway that has not taken the connection by then is
// not there: the front end must not stand still for longer.
constexpr int kConnectTimeoutMs = 5000;

bool IsComName(const QString& name)
{
    static const QRegularExpression com(QStringLiteral("^COM[0-9]+$"), QRegularExpression::CaseInsensitiveOption);
    return com.match(name).hasMatch();
}

int LineTimeMs(int bytes)
{
    return int((LineTimeNs(bytes) + kNsPerMs - 1) / kNsPerMs);
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

void RelaySession::Open(const QString& portOrPath, int32_t pollMode)
{
    // A COMn name may be mapped to an endpoint: the mapping first, then the
    // line by what it names.
    const QString target = IsComName(portOrPath) ? DeviceNames::DevicePathFor(portOrPath) : portOrPath;
    if (NamesEndpoint(target))
        openNetworkLine(target);
    else
        openSerialLine(portOrPath);
    if (pollMode != 0)
        s_.PollMode = pollMode;
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
    s_.ExchangeContext = ecPortClosed;
    s_.MissCount = 0;
    s_.AwaitingReply = 0;
    ask_.reset();
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
    // The rest of a reply takes its line time to come: look away until its
    // last bytes are due, so that a reply is taken in two or three events
    // rather than piece by piece.
    if (options_.lookAway)
        if (const int restMs = LineTimeMs(cycle_.BytesStillExpected()); restMs > kShortestRxHoldMs)
            cycle_.Line()->HoldRx(std::min(restMs - kLastBytesTakenAsTheyLandMs, kLongestRxHoldMs));
    lastTick_ = tickOfNow();
    if (!timer_->isActive() || nextEventNs() < armedDueNs_)
        armTimer();
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
    emit lineLost(osError, reason);
}

// ---- questions ---------------------------------------------------------------

void RelaySession::AskRead(const RegisterBlock& block, const AskOptions& options)
{
    Ask ask;
    ask.block = block;
    startAsk(ask, options);
}

void RelaySession::AskWrite(int reg, uint16_t value, const AskOptions& options)
{
    Ask ask;
    ask.write = true;
    ask.reg = reg;
    ask.value = value;
    startAsk(ask, options);
}

void RelaySession::startAsk(Ask ask, const AskOptions& options)
{
    ask.triesAllowed = options.tries > 0 ? options.tries : options_.tries;
    ask.address = options.address;
    ask.timeoutTicks = options.timeoutTicks;
    ask.probe = options.probe;
    ask_ = ask;
    if (polling_)
        armTimer();
}

void RelaySession::CancelAsk()
{
    if (!ask_)
        return;
    ask_.reset();
    if (sentFromAsk_ && s_.AwaitingReply) {
        s_.AwaitingReply = 0;
        s_.ReadyToSend = 1;
    }
    sentFromAsk_ = false;
    if (polling_)
        armTimer();
}

// ---- the poll cycle's client -------------------------------------------------

bool RelaySession::HasRequest()
{
    return ask_.has_value() || s_.PollMode != 0;
}

void RelaySession::BuildRequest()
{
    sentFromAsk_ = ask_.has_value();
    if (ask_) {
        ++ask_->tries;
        const int address = ask_->address > 0 ? ask_->address : s_.SlaveAddress;
        if (ask_->write)
            FillWriteRequest(s_.TxFrame, address, ask_->reg, ask_->value);
        else
            FillReadRequest(s_.TxFrame, address, ask_->block.first, ask_->block.count);
        if (ask_->timeoutTicks > 0)
            cycle_.SetNextReplyTimeout(ask_->timeoutTicks + allowanceTicks_);
        return;
    }
    // No exchange of that mode: the previous request goes out again.
    if (const Exchange* exchange = FindExchange(s_.PollMode))
        exchange->build(s_, view_);
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
    if (sentFromAsk_) {
        // A question's answer belongs to no exchange: nothing polled decodes it.
        values.mode = 0;
        values.context = 0;
        sentFromAsk_ = false;
        ask_.reset();
    } else if (const Exchange* exchange = FindExchange(sent.mode); exchange && exchange->answered) {
        exchange->answered(s_, sent, view_);
    }
    emit blockRead(values);
}

void RelaySession::HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict)
{
    WriteResult result;
    result.reg = sent.Register();
    result.value = uint16_t(sent.Operand());
    result.context = sent.context;
    switch (verdict) {
    case ReplyVerdict::WriteEcho:
        result.how = WriteHow::Echoed;
        break;
    case ReplyVerdict::WriteAltered:
        result.how = WriteHow::Altered;
        result.stored = uint16_t(s_.RxBuffer[4] << 8 | s_.RxBuffer[5]);
        break;
    default:
        result.how = WriteHow::Refused;
        result.exceptionCode = s_.RxBuffer[2];
        break;
    }
    if (sentFromAsk_) {
        sentFromAsk_ = false;
        result.tries = ask_ ? ask_->tries : 1;
        ask_.reset();
    } else if (const WriteKind* kind = FindWriteKind(sent.context)) {
        (verdict == ReplyVerdict::WriteEcho ? kind->echoed : kind->finalWord)(s_);
    }
    emit writeEnded(result);
}

bool RelaySession::CountsAsMiss(const SentRequest&)
{
    return !(sentFromAsk_ && ask_ && ask_->probe);
}

void RelaySession::ExchangeFailed(const SentRequest& sent, ExchangeFailure why)
{
    if (!sentFromAsk_ || !ask_)
        return;
    if (why == ExchangeFailure::Spoilt)
        ask_->spoiltSeen = true;
    if (ask_->triesAllowed <= 0 || ask_->tries < ask_->triesAllowed)
        return;   // asked again on the tick after the silence
    const Ask given = *ask_;
    ask_.reset();
    sentFromAsk_ = false;
    s_.AwaitingReply = 0;   // given up: a late answer is noise
    if (given.write) {
        WriteResult result;
        result.reg = given.reg;
        result.value = given.value;
        result.how = WriteHow::NoAnswer;
        result.tries = given.tries;
        result.context = sent.context;
        emit writeEnded(result);
        return;
    }
    ReadFailure failure;
    failure.block = given.block;
    failure.why = why;
    failure.exceptionCode = why == ExchangeFailure::Refused ? s_.RxBuffer[2] : 0;
    failure.spoiltSeen = given.spoiltSeen;
    failure.tries = given.tries;
    emit readFailed(failure);
}
