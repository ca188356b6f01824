#include "LinePoller.h"

#include <QDateTime>

#include <cstdio>

#include "StatusFlags.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/ExchangeTable.h"
#include "serial/ComPort.h"

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

prometheus::Labels LabelsOf(const LineConfig& line, const RelayConfig& relay)
{
    prometheus::Labels labels{{"line", line.name.toStdString()},
                              {"relay", relay.name.toStdString()},
                              {"address", std::to_string(relay.address)}};
    for (const auto& [name, value] : relay.labels)
        labels[name.toStdString()] = value.toStdString();
    return labels;
}

void Tell(const QString& text)
{
    std::fprintf(stderr, "zashchita-exporter: %s\n", qPrintable(text));
    std::fflush(stderr);
}

}  // namespace

LinePoller::LinePoller(const LineConfig& config, MetricFamilies& families, TripArchive& archive, QObject* parent)
    : QObject(parent)
    , config_(config)
    , archive_(archive)
    , lineMetrics_(families, config.name)
    , session_(OptionsFor(config))
{
    std::vector<int> addresses;
    for (const RelayConfig& r : config.relays) {
        Relay relay;
        relay.config = r;
        relay.metrics = std::make_unique<RelayMetrics>(families, LabelsOf(config, r));
        relay.metrics->SetUp(false);
        relays_.push_back(std::move(relay));
        addresses.push_back(r.address);
    }
    round_ = std::make_unique<RelayRound>(session_, addresses);
    round_->nextQuestion = [this](int address) { return nextQuestion(address); };
    connect(round_.get(), &RelayRound::answered, this, &LinePoller::onAnswer);
    connect(round_.get(), &RelayRound::relayLookChanged, this, &LinePoller::onLook);
    paced_.setSingleShot(true);
    connect(&paced_, &QTimer::timeout, this, [this] {
        if (session_.IsOpen())
            round_->Start();
    });
    connect(&session_, &RelaySession::lineLost, this,
            [this](int, const QString& reason) { lineLost(reason); });
    reopen_.setSingleShot(true);
    connect(&reopen_, &QTimer::timeout, this, &LinePoller::open);
    clock_.start();
    lineMetrics_.SetUp(false);
}

LinePoller::~LinePoller()
{
    round_->Stop();
    session_.Close();
}

void LinePoller::Start()
{
    open();
}

LinePoller::Relay* LinePoller::find(int address)
{
    for (Relay& r : relays_)
        if (r.config.address == address)
            return &r;
    return nullptr;
}

void LinePoller::open()
{
    try {
        session_.Open(config_.port);
    } catch (const std::exception& e) {
        if (!openFailedTold_)
            Tell(QStringLiteral("line \"%1\": cannot open %2: %3; trying again every %4 s")
                     .arg(config_.name, config_.port, QString::fromLocal8Bit(e.what())).arg(kReopenMs / 1000));
        openFailedTold_ = true;
        reopen_.start(kReopenMs);
        return;
    }
    if (openFailedTold_)
        Tell(QStringLiteral("line \"%1\": %2 open").arg(config_.name, config_.port));
    openFailedTold_ = false;
    unaskedSeen_ = session_.State().UnaskedBytes;
    lineMetrics_.SetUp(true);
    for (Relay& r : relays_)
        scheduleSlow(r);
    round_->Start();
}

void LinePoller::lineLost(const QString& reason)
{
    Tell(QStringLiteral("line \"%1\" lost: %2").arg(config_.name, reason));
    paced_.stop();
    round_->Stop();
    session_.Close();
    lineMetrics_.SetUp(false);
    for (Relay& r : relays_) {
        r.metrics->SetUp(false);
        r.lastStatus.reset();
    }
    reopen_.start(kReopenMs);
}

void LinePoller::scheduleSlow(Relay& relay)
{
    relay.slow.clear();
    relay.slow.push_back(kSettingsBlock);
    for (int n = 1; n <= kRecordCount; ++n)
        relay.slow.push_back(RecordBlock(n));
    relay.slowDueMs = clock_.elapsed() + kSlowPeriodMs;
}

Question LinePoller::nextQuestion(int address)
{
    // Reads only: the exporter never writes to a relay.
    return Question::Read(nextBlock(address), address);
}

RegisterBlock LinePoller::nextBlock(int address)
{
    Relay* relay = find(address);
    if (!relay)
        return kCurrentParamsBlock;
    // The current parameters first: a relay not yet known to answer is not
    // asked for its slower blocks.
    if (!relay->lastStatus)
        return kCurrentParamsBlock;
    if (relay->slow.empty() && clock_.elapsed() >= relay->slowDueMs)
        scheduleSlow(*relay);
    if (!relay->slow.empty()) {
        // Every other question of the relay, while some are due.
        relay->slowTurn = !relay->slowTurn;
        if (relay->slowTurn) {
            const RegisterBlock block = relay->slow.front();
            relay->slow.pop_front();
            return block;
        }
    }
    return kCurrentParamsBlock;
}

void LinePoller::countUnasked()
{
    const uint32_t now = session_.State().UnaskedBytes;
    if (now != unaskedSeen_)
        lineMetrics_.AddUnasked(double(now - unaskedSeen_));
    unaskedSeen_ = now;
}

void LinePoller::onAnswer(int address, const Answer& answer)
{
    countUnasked();
    if (answer.outcome == Outcome::Values) {
        RegisterValues values;
        values.block = answer.question.block;
        values.values = answer.values;
        onValues(address, values);
    } else if (answer.outcome == Outcome::NoAnswer || answer.outcome == Outcome::Refused) {
        onFailure(address, answer);
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
    const qint64 now = clock_.elapsed();
    const qint64 wait = lastAskedMs_ + spacing - now;
    lastAskedMs_ = std::max(now, lastAskedMs_ + spacing);
    if (wait > 0) {
        round_->Stop();
        paced_.start(int(wait));
    }
}

void LinePoller::onValues(int address, const RegisterValues& values)
{
    Relay* relay = find(address);
    if (!relay)
        return;
    relay->metrics->Asked(true);
    relay->metrics->SetUp(true);
    if (values.block == kCurrentParamsBlock) {
        relay->metrics->ApplyCurrent(values, QDateTime::currentMSecsSinceEpoch());
        const uint16_t status = values.At(kStatusRegister);
        // A relay's state changed, or it answers again: its settings and
        // records may have changed too.
        if (!relay->lastStatus || *relay->lastStatus != status)
            scheduleSlow(*relay);
        relay->lastStatus = status;
    } else if (values.block == kSettingsBlock) {
        relay->metrics->ApplySettings(values);
    } else {
        onRecord(*relay, values);
    }
}

void LinePoller::onRecord(Relay& relay, const RegisterValues& values)
{
    if (values.block.count != kRecordLength || IsEmptyRecord(values.values))
        return;
    const int slot = (values.block.first - kFirstRecordRegister) / kRecordLength;
    if (slot < 0 || slot >= kRecordCount)
        return;
    relay.archived.resize(size_t(kRecordCount));
    std::vector<uint16_t>& archived = relay.archived[size_t(slot)];
    if (archived == values.values)
        return;
    if (archive_.Knows(config_.name, relay.config.address, values.values)) {
        archived = values.values;
        return;
    }
    ArchivedRecord record;
    record.seen = QDateTime::currentDateTimeUtc();
    record.line = config_.name;
    record.relay = relay.config.name;
    record.address = relay.config.address;
    record.slot = slot + 1;
    record.registers = values.values;
    record.cause = TripCause(values.At(values.block.first + 5));
    QString error;
    if (!archive_.Add(record, &error)) {
        Tell(QStringLiteral("cannot add to %1: %2; the record is tried again when next read")
                 .arg(archive_.Path(), error));
        return;
    }
    archived = values.values;
    relay.metrics->CountTrip(record.cause);
}

void LinePoller::onFailure(int address, const Answer& failure)
{
    if (failure.why == ExchangeFailure::Spoilt || failure.spoiltSeen)
        lineMetrics_.AddSpoilt();
    Relay* relay = find(address);
    if (!relay)
        return;
    relay->metrics->Asked(false);
    // A slower block not read is read again in its turn.
    if (!(failure.question.block == kCurrentParamsBlock))
        relay->slow.push_front(failure.question.block);
}

void LinePoller::onLook(int address, bool present)
{
    Relay* relay = find(address);
    if (!relay)
        return;
    relay->metrics->SetUp(present);
    if (!present)
        relay->lastStatus.reset();
    Tell(QStringLiteral("line \"%1\": relay %2 (address %3) %4")
             .arg(config_.name, relay->config.name).arg(address)
             .arg(present ? QStringLiteral("answers") : QStringLiteral("does not answer")));
}
