#include "ServedRegisters.h"

#include <algorithm>
#include <chrono>

#include "BlockSchedule.h"

namespace {

// One read of the current parameters at 9600 8N1: 71 characters (74 ms),
// the silences before the request and the reply, and the relay's turnaround.
constexpr int kExchangeEstimateMs = 100;
// The current parameters may be this many of their line's rounds old ...
constexpr int kRoundsOld = 3;
// ... and never less than this.
constexpr int kLeastCurrentMaxAgeMs = 5000;

// The blocks a read spans: at most one span per block the exporter polls.
struct Span {
    size_t block = 0;
    int first = 0;
    int count = 0;
};

}  // namespace

struct ServedRegisters::Relay {
    QString line;
    int address = 0;
    int unit = 0;
    std::vector<int> maxAgeMs;               // by block of BlockSchedule::Blocks()

    struct Held {
        std::vector<uint16_t> values;
        qint64 readMs = 0;
        bool held = false;
    };
    mutable std::mutex mutex;                // guards `blocks`
    std::vector<Held> blocks;

    void Forget()
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (Held& b : blocks)
            b.held = false;
    }
};

int ServedRegisters::DefaultCurrentMaxAgeMs(const LineConfig& line)
{
    const qint64 round = std::max<qint64>(line.pollIntervalMs, qint64(line.relays.size()) * kExchangeEstimateMs);
    return int(std::min<qint64>(std::max<qint64>(kLeastCurrentMaxAgeMs, kRoundsOld * round), 24 * 3600 * 1000));
}

int ServedRegisters::DefaultSlowMaxAgeMs(int currentMaxAgeMs)
{
    return BlockSchedule::kSlowPeriodMs + 2 * currentMaxAgeMs;
}

ServedRegisters::ServedRegisters(const ExporterConfig& config, std::function<qint64()> nowMs)
    : nowMs_(std::move(nowMs))
{
    if (!nowMs_)
        nowMs_ = [] {
            return qint64(std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now().time_since_epoch()).count());
        };
    Apply(config);
}

void ServedRegisters::Apply(const ExporterConfig& config)
{
    const std::vector<RegisterBlock>& blocks = BlockSchedule::Blocks();
    std::vector<std::unique_ptr<Relay>> relays;
    for (const LineConfig& line : config.lines) {
        const int current = config.modbusCurrentMaxAgeMs ? config.modbusCurrentMaxAgeMs : DefaultCurrentMaxAgeMs(line);
        const int slow = DefaultSlowMaxAgeMs(current);
        const int settings = config.modbusSettingsMaxAgeMs ? config.modbusSettingsMaxAgeMs : slow;
        const int records = config.modbusRecordsMaxAgeMs ? config.modbusRecordsMaxAgeMs : slow;
        for (const RelayConfig& r : line.relays) {
            if (r.unit <= 0 || r.unit >= int(byUnit_.size()))
                continue;
            auto relay = std::make_unique<Relay>();
            relay->line = line.name;
            relay->address = r.address;
            relay->unit = r.unit;
            for (const RegisterBlock& b : blocks)
                relay->maxAgeMs.push_back(b == blocks[0] ? current : b == blocks[1] ? settings : records);
            relay->blocks.resize(blocks.size());
            if (const Relay* kept = find(line.name, r.address)) {
                std::lock_guard<std::mutex> lock(kept->mutex);
                relay->blocks = kept->blocks;
            }
            relays.push_back(std::move(relay));
        }
    }
    std::unique_lock<std::shared_mutex> lock(tables_);
    relays_ = std::move(relays);
    byUnit_.fill(nullptr);
    byAddress_.clear();
    for (const auto& relay : relays_) {
        byUnit_[size_t(relay->unit)] = relay.get();
        byAddress_[{relay->line, relay->address}] = relay.get();
    }
}

ServedRegisters::~ServedRegisters() = default;

bool ServedRegisters::Knows(int unit) const
{
    std::shared_lock<std::shared_mutex> lock(tables_);
    return unit >= 0 && unit < int(byUnit_.size()) && byUnit_[size_t(unit)];
}

ServedRegisters::Relay* ServedRegisters::find(const QString& line, int address) const
{
    const auto at = byAddress_.find({line, address});
    return at == byAddress_.end() ? nullptr : at->second;
}

ServedRegisters::Read ServedRegisters::Registers(int unit, int first, int count) const
{
    // Which polled block each register lies in; one in none is not served.
    const std::vector<RegisterBlock>& blocks = BlockSchedule::Blocks();
    std::vector<Span> spans;
    for (int reg = first; reg < first + count;) {
        const auto in = std::find_if(blocks.begin(), blocks.end(), [reg](const RegisterBlock& b) { return b.Contains(reg); });
        if (in == blocks.end())
            return {kIllegalAddress, {}};
        const int end = std::min(first + count, in->first + in->count);
        spans.push_back({size_t(in - blocks.begin()), reg - in->first, end - reg});
        reg = end;
    }
    std::shared_lock<std::shared_mutex> tables(tables_);
    if (unit < 0 || unit >= int(byUnit_.size()) || !byUnit_[size_t(unit)])
        return {kPathUnavailable, {}};   // taken away by a reload since it was known
    const Relay& relay = *byUnit_[size_t(unit)];
    const qint64 now = nowMs_();
    Read read;
    read.values.reserve(size_t(count));
    std::lock_guard<std::mutex> lock(relay.mutex);
    for (const Span& s : spans) {
        const Relay::Held& held = relay.blocks[s.block];
        if (!held.held || now - held.readMs > relay.maxAgeMs[s.block])
            return {kTargetFailed, {}};
        read.values.insert(read.values.end(), held.values.begin() + s.first, held.values.begin() + s.first + s.count);
    }
    return read;
}

void ServedRegisters::OnBlockRead(const BlockRead& e)
{
    Relay* relay = find(e.relay.line, e.relay.address);
    const std::vector<RegisterBlock>& blocks = BlockSchedule::Blocks();
    const auto block = std::find(blocks.begin(), blocks.end(), e.values.block);
    if (!relay || block == blocks.end() || e.values.values.size() != size_t(block->count))
        return;
    const qint64 now = nowMs_();
    std::lock_guard<std::mutex> lock(relay->mutex);
    Relay::Held& held = relay->blocks[size_t(block - blocks.begin())];
    held.values = e.values.values;
    held.readMs = now;
    held.held = true;
}

void ServedRegisters::OnRelayLook(const RelayLook& e)
{
    if (Relay* relay = find(e.relay.line, e.relay.address); relay && !e.answers)
        relay->Forget();
}

void ServedRegisters::forgetLine(const QString& line)
{
    for (const auto& relay : relays_)
        if (relay->line == line)
            relay->Forget();
}

void ServedRegisters::OnLineState(const LineState& e)
{
    if (e.kind != LineState::Kind::Open)
        forgetLine(e.line.name);
}

void ServedRegisters::OnLineRemoved(const LineConfig& e)
{
    forgetLine(e.name);
}
