// The exporter's metrics for Prometheus, fed by the lines' events: the
// registry (the lines' series, the exporter's own health) and the relays'
// series table (RelayMetrics). It renders the exposition text; an HTTP
// server serves its collectables (Collectables()), built where the program
// starts.
#pragma once

#include <prometheus/collectable.h>
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/registry.h>

#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "PollEvents.h"
#include "RelayMetrics.h"

class PrometheusOutput : public PollOutput {
public:
    // `unixMs` tells the time for the recent trips' end; default the system's.
    explicit PrometheusOutput(std::function<qint64()> unixMs = {});
    ~PrometheusOutput() override;

    // What /metrics shows: the registry and the relays' table.
    std::vector<std::shared_ptr<prometheus::Collectable>> Collectables() const;
    // The exposition in Prometheus' text format, as /metrics serves it.
    std::string Render() const;
    // An output whose errors are counted from 0, before its first one.
    void KnowOutput(const std::string& name);
    // The configuration was read (at the start, or again on SIGHUP) at
    // `unixMs`: applied, or refused and the running one kept.
    void ConfigLoaded(bool applied, qint64 unixMs);

    const char* Name() const override { return "prometheus"; }
    void OnLineAdded(const LineConfig& line) override;
    void OnLineRemoved(const LineConfig& line) override;
    void OnRelayAdded(const RelayChange& e) override;
    void OnRelayRemoved(const RelayChange& e) override;
    void OnLineState(const LineState& e) override;
    void OnLineNoise(const LineNoise& e) override;
    void OnBlockRead(const BlockRead& e) override;
    void OnReadFailed(const ReadFailed& e) override;
    void OnRelayLook(const RelayLook& e) override;
    void OnRecordArchived(const RecordArchived& e) override;
    void OnTripsRestored(const TripsRestored& e) override;
    void OnArchiveBacklog(const ArchiveBacklog& e) override;
    void OnOutputError(const OutputError& e) override;

    // How long a trip's recent series stays: longer than twice the trips'
    // group interval of the shipped Alertmanager configuration (4 min) plus
    // a scrape and a rule evaluation of a minute each.
    static constexpr qint64 kRecentTripMs = 10 * 60 * 1000;

private:
    struct Line {
        std::unique_ptr<LineMetrics> metrics;
        std::map<int, std::unique_ptr<RelayMetrics>> relays;   // by address
    };
    RelayMetrics* find(const RelayRef& relay);
    // Recent trips whose time is up go, looked at about once a second.
    void expireRecentTrips();

    std::function<qint64()> unixMs_;
    std::shared_ptr<prometheus::Registry> registry_;
    MetricFamilies families_;
    prometheus::Family<prometheus::Counter>& outputErrors_;
    prometheus::Gauge& unwritten_;
    prometheus::Gauge& reloadApplied_;
    prometheus::Gauge& reloadAppliedAt_;
    std::map<QString, Line> lines_;
    qint64 expiredMs_ = 0;
};
