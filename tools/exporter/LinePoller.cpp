#include "LinePoller.h"

#include <QDateTime>
#include <QElapsedTimer>

#include <cerrno>

#include "exchanges/EventRecords.h"
#include "link/TcpLine.h"
#include "serial/OsError.h"
#include "serial/PortMessages.h"

namespace {

// The exporter looks at the line every millisecond, as the companion does:
// a request follows the silence after a reply closely.
constexpr int kTickMs = 1;

SessionOptions OptionsFor(const LineConfig& config)
{
    SessionOptions options;
    options.tickMs = kTickMs;
    options.replyTimeoutTicks = (config.timeoutMs + kTickMs - 1) / kTickMs;
    options.tries = 1;
    options.lineTiming = LineTimingFromEnvironment(options.lineTiming);
    return options;
}

std::vector<int> AddressesOf(const LineConfig& config)
{
    std::vector<int> addresses;
    for (const RelayConfig& r : config.relays)
        addresses.push_back(r.address);
    return addresses;
}

// The record slot (1..4) a block reads, or 0.
int RecordSlotOf(const RegisterBlock& block)
{
    for (int n = 1; n <= kRecordCount; ++n)
        if (block == RecordBlock(n))
            return n;
    return 0;
}

// Why a line could not be opened, in the system's words: the errno's name
// and text, and what would help where something would.
QString OpenFailure(const QString& device, int osError, const QString& otherReason)
{
    if (osError <= 0)
        return otherReason.isEmpty() ? OsErrorText(osError) : otherReason;
    QString reason = OsErrorText(osError);
    if (NotASerialDevice(osError))
        reason += QStringLiteral("; it is no serial line");
    if (osError == EACCES || osError == EPERM) {
        const QString group = AccessGroup(device, osError);
        reason += QStringLiteral("; add the service's user to the group %1")
                      .arg(group.isEmpty() ? QStringLiteral("dialout") : group);
    }
    return reason;
}

}  // namespace

LinePoller::LinePoller(const LineConfig& config, PollOutput& outputs, LineHooks hooks, QObject* parent)
    : QObject(parent)
    , config_(config)
    , out_(outputs)
    , hooks_(std::move(hooks))
    , schedule_(AddressesOf(config))
    , session_(OptionsFor(config))
{
    if (!hooks_.open)
        hooks_.open = [port = config_.port](RelaySession& session) { session.Open(port); };
    if (!hooks_.steadyMs) {
        auto steady = std::make_shared<QElapsedTimer>();
        steady->start();
        hooks_.steadyMs = [steady] { return steady->elapsed(); };
    }
    if (!hooks_.unixMs)
        hooks_.unixMs = [] { return QDateTime::currentMSecsSinceEpoch(); };
    for (const RelayConfig& r : config_.relays)
        relays_.push_back({config_.name, r.name, r.address});

    round_ = std::make_unique<RelayRound>(session_, AddressesOf(config_));
    round_->clock = hooks_.steadyMs;
    // Reads only: the exporter never writes to a relay.
    round_->nextQuestion = [this](int address) {
        return Question::Read(schedule_.Next(address, hooks_.steadyMs()), address);
    };
    connect(round_.get(), &RelayRound::answered, this, &LinePoller::onAnswer);
    connect(round_.get(), &RelayRound::relayLookChanged, this, &LinePoller::onLook);
    paced_.setSingleShot(true);
    connect(&paced_, &QTimer::timeout, this, [this] {
        if (session_.IsOpen())
            round_->Start();
    });
    connect(&session_, &RelaySession::lineLost, this, [this](int osError, const QString& reason) {
        lineLost(osError > 0 || reason.isEmpty() ? OsErrorText(osError) : reason);
    });
    connect(&session_, &RelaySession::otherMasterChanged, this,
            [this](bool present) { out_.OnLineNoise({config_.name, 0, 0, present ? 1 : 0}); });
    reopen_.setSingleShot(true);
    connect(&reopen_, &QTimer::timeout, this, &LinePoller::open);
    out_.OnLineAdded(config_);
}

LinePoller::~LinePoller()
{
    round_->Stop();
    session_.Close();
    out_.OnLineRemoved(config_);
}

void LinePoller::Start()
{
    open();
}

bool LinePoller::CanTake(const LineConfig& next) const
{
    return next.name == config_.name && next.port == config_.port && next.timeoutMs == config_.timeoutMs;
}

bool LinePoller::Reconfigure(const LineConfig& next)
{
    const auto same = [](const RelayConfig& a, const RelayConfig& b) {
        return a.address == b.address && a.name == b.name && a.labels == b.labels;
    };
    const auto in = [&same](const std::vector<RelayConfig>& relays, const RelayConfig& relay) {
        return std::any_of(relays.begin(), relays.end(), [&](const RelayConfig& r) { return same(r, relay); });
    };
    bool changed = next.pollIntervalMs != config_.pollIntervalMs || next.relays.size() != config_.relays.size();
    // Those gone first: a relay renamed at its address is one gone and one new.
    for (const RelayConfig& relay : config_.relays)
        if (!in(next.relays, relay)) {
            out_.OnRelayRemoved({config_, relay});
            changed = true;
        }
    const LineConfig before = config_;
    config_ = next;
    relays_.clear();
    for (const RelayConfig& r : config_.relays)
        relays_.push_back({config_.name, r.name, r.address});
    // What the round and the schedule know of a relay stays with it only
    // while it is the same relay.
    std::vector<int> kept;
    for (const RelayConfig& relay : config_.relays)
        if (in(before.relays, relay))
            kept.push_back(relay.address);
    for (const std::vector<int>& addresses : {kept, AddressesOf(config_)}) {
        schedule_.SetAddresses(addresses);
        round_->SetAddresses(addresses);
    }
    for (const RelayConfig& relay : config_.relays)
        if (!in(before.relays, relay)) {
            out_.OnRelayAdded({config_, relay});
            changed = true;
        }
    if (session_.IsOpen() && !paced_.isActive())
        round_->Start();
    return changed;
}

const RelayRef* LinePoller::find(int address) const
{
    for (const RelayRef& r : relays_)
        if (r.address == address)
            return &r;
    return nullptr;
}

void LinePoller::open()
{
    QString failure;
    try {
        hooks_.open(session_);
    } catch (const ELineOpen& e) {
        // A network line's own reason (a host unknown) where the system gave no number.
        failure = OpenFailure(session_.DevicePath(), e.OsErrorCode, QString::fromUtf8(e.what()));
    } catch (const EComPort& e) {
        // The port's own message table is the window's: the system's error speaks here.
        failure = OpenFailure(session_.DevicePath(), e.OsErrorCode, QString());
    } catch (const std::exception& e) {
        failure = QString::fromLocal8Bit(e.what());
    }
    if (!failure.isEmpty()) {
        out_.OnLineState({config_, LineState::Kind::OpenFailed, failure, kReopenMs});
        reopen_.start(kReopenMs);
        return;
    }
    unaskedSeen_ = session_.State().UnaskedBytes;
    out_.OnLineState({config_, LineState::Kind::Open, {}, 0});
    schedule_.LineOpened(hooks_.steadyMs());
    round_->Start();
}

void LinePoller::lineLost(const QString& reason)
{
    paced_.stop();
    round_->Stop();
    session_.Close();
    schedule_.LineLost();
    out_.OnLineState({config_, LineState::Kind::Lost, reason, kReopenMs});
    reopen_.start(kReopenMs);
}

void LinePoller::onAnswer(int address, const Answer& answer)
{
    const uint32_t unasked = session_.State().UnaskedBytes;
    const bool spoilt = (answer.outcome == Outcome::NoAnswer || answer.outcome == Outcome::Refused)
        && (answer.why == ExchangeFailure::Spoilt || answer.spoiltSeen);
    if (unasked != unaskedSeen_ || spoilt)
        out_.OnLineNoise({config_.name, unasked - unaskedSeen_, spoilt ? 1 : 0});
    unaskedSeen_ = unasked;

    const RelayRef* relay = find(address);
    if (relay && answer.outcome == Outcome::Values && answer.foreign) {
        // Read while another master is on the line: withheld, as a read the
        // relay left unanswered.
        schedule_.Failed(address, answer.question.block);
        out_.OnReadFailed({*relay, answer.question.block, ExchangeFailure::NoReply, 0});
    } else if (relay && answer.outcome == Outcome::Values) {
        RegisterValues values;
        values.block = answer.question.block;
        values.values = answer.values;
        const qint64 steady = hooks_.steadyMs();
        const qint64 wall = hooks_.unixMs();
        schedule_.Read(address, values, steady);
        out_.OnBlockRead({*relay, values, wall, steady});
        if (const int slot = RecordSlotOf(values.block))
            out_.OnRecordSeen({*relay, slot, values.values, wall});
    } else if (relay && (answer.outcome == Outcome::NoAnswer || answer.outcome == Outcome::Refused)) {
        schedule_.Failed(address, answer.question.block);
        out_.OnReadFailed({*relay, answer.question.block, answer.why, answer.exceptionCode});
    }
    pace();
}

// With a poll interval, the line asks at most one question every interval /
// relays: each relay is read about once an interval.
void LinePoller::pace()
{
    if (config_.pollIntervalMs <= 0 || config_.relays.empty())
        return;
    const qint64 spacing = config_.pollIntervalMs / qint64(config_.relays.size());
    const qint64 now = hooks_.steadyMs();
    const qint64 wait = lastAskedMs_ + spacing - now;
    lastAskedMs_ = std::max(now, lastAskedMs_ + spacing);
    if (wait > 0) {
        round_->Stop();
        paced_.start(int(wait));
    }
}

void LinePoller::onLook(int address, bool present)
{
    const RelayRef* relay = find(address);
    if (!relay)
        return;
    if (!present)
        schedule_.Gone(address);
    out_.OnRelayLook({*relay, present});
}
