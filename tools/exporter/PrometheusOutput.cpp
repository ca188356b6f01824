#include "PrometheusOutput.h"

#include <prometheus/gauge.h>
#include <prometheus/text_serializer.h>

#include <QDateTime>

#include <cstdlib>

#include "ZashchitaVersion.h"
#include "exchanges/ExchangeTable.h"

namespace {

prometheus::Labels LabelsOf(const LineConfig& line, const RelayConfig& relay)
{
    prometheus::Labels labels{{"line", line.name.toStdString()},
                              {"relay", relay.name.toStdString()},
                              {"address", std::to_string(relay.address)}};
    for (const auto& [name, value] : relay.labels)
        labels[name.toStdString()] = value.toStdString();
    return labels;
}

}  // namespace

PrometheusOutput::PrometheusOutput(std::function<qint64()> unixMs)
    : unixMs_(unixMs ? std::move(unixMs) : [] { return QDateTime::currentMSecsSinceEpoch(); })
    , registry_(std::make_shared<prometheus::Registry>())
    , families_(*registry_)
    , outputErrors_(prometheus::BuildCounter()
                        .Name("zashchita_exporter_output_errors_total")
                        .Help("Work an output of the exporter could not do (the archive: a record not written).")
                        .Register(*registry_))
    , unwritten_(prometheus::BuildGauge()
                     .Name("zashchita_archive_unwritten_records")
                     .Help("Event records held in memory because the archive could not be written.")
                     .Register(*registry_)
                     .Add({}))
    , reloadApplied_(prometheus::BuildGauge()
                         .Name("zashchita_exporter_config_last_reload_successful")
                         .Help("Whether the configuration last read (at the start or on SIGHUP) was applied: 1, or 0 "
                               "when it had faults and the one before runs on.")
                         .Register(*registry_)
                         .Add({}))
    , reloadAppliedAt_(prometheus::BuildGauge()
                           .Name("zashchita_exporter_config_last_reload_success_timestamp_seconds")
                           .Help("Unix time the running configuration was applied.")
                           .Register(*registry_)
                           .Add({}))
{
    prometheus::BuildGauge()
        .Name("zashchita_exporter_build_info")
        .Help("The exporter's version; always 1.")
        .Register(*registry_)
        .Add({{"version", ZASHCHITA_VERSION}})
        .Set(1);
}

PrometheusOutput::~PrometheusOutput() = default;

std::vector<std::shared_ptr<prometheus::Collectable>> PrometheusOutput::Collectables() const
{
    return {registry_, families_.relays};
}

std::string PrometheusOutput::Render() const
{
    std::vector<prometheus::MetricFamily> all;
    for (const auto& collectable : Collectables())
        for (prometheus::MetricFamily& family : collectable->Collect())
            all.push_back(std::move(family));
    return prometheus::TextSerializer().Serialize(all);
}

void PrometheusOutput::KnowOutput(const std::string& name)
{
    outputErrors_.Add({{"output", name}});
}

RelayMetrics* PrometheusOutput::find(const RelayRef& relay)
{
    const auto line = lines_.find(relay.line);
    if (line == lines_.end())
        return nullptr;
    const auto at = line->second.relays.find(relay.address);
    return at == line->second.relays.end() ? nullptr : at->second.get();
}

void PrometheusOutput::ConfigLoaded(bool applied, qint64 unixMs)
{
    reloadApplied_.Set(applied ? 1 : 0);
    if (applied)
        reloadAppliedAt_.Set(double(unixMs) / 1000.0);
}

void PrometheusOutput::OnLineAdded(const LineConfig& config)
{
    Line& line = lines_[config.name];
    line.relays.clear();
    line.metrics.reset();
    line.metrics = std::make_unique<LineMetrics>(families_, config.name);
    line.metrics->SetUp(false);
    for (const RelayConfig& r : config.relays) {
        auto relay = std::make_unique<RelayMetrics>(families_, LabelsOf(config, r));
        relay->SetUp(false);
        line.relays[r.address] = std::move(relay);
    }
}

void PrometheusOutput::OnLineRemoved(const LineConfig& config)
{
    lines_.erase(config.name);
}

void PrometheusOutput::OnRelayAdded(const RelayChange& e)
{
    const auto line = lines_.find(e.line.name);
    if (line == lines_.end())
        return;
    auto relay = std::make_unique<RelayMetrics>(families_, LabelsOf(e.line, e.relay));
    relay->SetUp(false);
    line->second.relays[e.relay.address] = std::move(relay);
}

void PrometheusOutput::OnRelayRemoved(const RelayChange& e)
{
    const auto line = lines_.find(e.line.name);
    if (line != lines_.end())
        line->second.relays.erase(e.relay.address);
}

void PrometheusOutput::expireRecentTrips()
{
    const qint64 now = unixMs_();
    if (std::abs(now - expiredMs_) < 1000)
        return;
    expiredMs_ = now;
    for (auto& [name, line] : lines_)
        for (auto& [address, relay] : line.relays)
            relay->ExpireRecentTrips(now);
}

void PrometheusOutput::OnLineState(const LineState& e)
{
    expireRecentTrips();
    const auto line = lines_.find(e.line.name);
    if (line == lines_.end())
        return;
    line->second.metrics->SetUp(e.kind == LineState::Kind::Open);
    if (e.kind == LineState::Kind::Lost)
        for (auto& [address, relay] : line->second.relays)
            relay->SetUp(false);
}

void PrometheusOutput::OnLineNoise(const LineNoise& e)
{
    const auto line = lines_.find(e.line);
    if (line == lines_.end())
        return;
    if (e.unaskedBytes > 0)
        line->second.metrics->AddUnasked(double(e.unaskedBytes));
    for (int k = 0; k < e.spoiltFrames; ++k)
        line->second.metrics->AddSpoilt();
    if (e.otherMaster < 0)
        return;
    // Its relays' values may be the other master's traffic: dropped, as for
    // relays that do not answer, until it has been quiet for the hold time.
    line->second.metrics->SetOtherMaster(e.otherMaster == 1);
    if (e.otherMaster == 1)
        for (auto& [address, relay] : line->second.relays)
            relay->SetUp(false);
}

void PrometheusOutput::OnBlockRead(const BlockRead& e)
{
    expireRecentTrips();
    RelayMetrics* relay = find(e.relay);
    if (!relay)
        return;
    relay->Asked(true);
    relay->SetUp(true);
    if (e.values.block == kCurrentParamsBlock)
        relay->ApplyCurrent(e.values, e.unixMs);
    else if (e.values.block == kSettingsBlock)
        relay->ApplySettings(e.values);
}

// A relay that refuses its current parameters gives no values: it is not up.
void PrometheusOutput::OnReadFailed(const ReadFailed& e)
{
    expireRecentTrips();
    RelayMetrics* relay = find(e.relay);
    if (!relay)
        return;
    relay->Asked(false);
    if (e.why != ExchangeFailure::Refused)
        return;
    relay->CountRefusal(e.exceptionCode);
    if (e.block == kCurrentParamsBlock)
        relay->SetUp(false);
}

// Up comes with values read; a relay that answers only with refusals is not.
void PrometheusOutput::OnRelayLook(const RelayLook& e)
{
    if (RelayMetrics* relay = find(e.relay); relay && !e.answers)
        relay->SetUp(false);
}

void PrometheusOutput::OnRecordArchived(const RecordArchived& e)
{
    RelayMetrics* relay = find(e.relay);
    if (!relay || e.history)
        return;
    relay->CountTrip(e.cause);
    relay->ShowRecentTrip(e.cause, RecordId(e.relay.line, e.relay.address, e.registers), RecordMomentText(e.registers),
                          e.seenMs + kRecentTripMs);
}

void PrometheusOutput::OnTripsRestored(const TripsRestored& e)
{
    RelayMetrics* relay = find(e.relay);
    if (!relay)
        return;
    relay->RestoreTrips(e.archived.trips);
    const qint64 now = unixMs_();
    for (const ArchivedRecord& r : e.archived.recent)
        if (const qint64 until = r.seen.toMSecsSinceEpoch() + kRecentTripMs; until > now)
            relay->ShowRecentTrip(r.cause, RecordId(r.line, r.address, r.registers), RecordMomentText(r.registers), until);
}

void PrometheusOutput::OnArchiveBacklog(const ArchiveBacklog& e)
{
    unwritten_.Set(e.unwritten);
}

void PrometheusOutput::OnOutputError(const OutputError& e)
{
    outputErrors_.Add({{"output", e.output}}).Increment();
}
