#include "PrometheusOutput.h"

#include <prometheus/gauge.h>
#include <prometheus/text_serializer.h>

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

PrometheusOutput::PrometheusOutput()
    : registry_(std::make_shared<prometheus::Registry>())
    , families_(*registry_)
    , outputErrors_(prometheus::BuildCounter()
                        .Name("zashchita_exporter_output_errors_total")
                        .Help("Work an output of the exporter could not do (the archive: a record not written).")
                        .Register(*registry_))
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

void PrometheusOutput::OnLineState(const LineState& e)
{
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

void PrometheusOutput::OnReadFailed(const ReadFailed& e)
{
    if (RelayMetrics* relay = find(e.relay))
        relay->Asked(false);
}

void PrometheusOutput::OnRelayLook(const RelayLook& e)
{
    if (RelayMetrics* relay = find(e.relay))
        relay->SetUp(e.answers);
}

void PrometheusOutput::OnRecordArchived(const RecordArchived& e)
{
    if (RelayMetrics* relay = find(e.relay))
        relay->CountTrip(e.cause);
}

void PrometheusOutput::OnOutputError(const OutputError& e)
{
    outputErrors_.Add({{"output", e.output}}).Increment();
}
