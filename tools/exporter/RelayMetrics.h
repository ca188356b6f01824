// The metrics of one relay and of one line on the registry /metrics serves,
// in base units as Prometheus names them: the relay's percent values as
// ratios, insulation in ohms, currents also in amperes from the rated-current
// setting, times in seconds. A relay that stops answering keeps only `up` 0,
// its last answer's time and its counters: none of its old values is shown
// as a current one. Its events (trips, refusals, motor starts) are counted
// in RelayEvents.cpp.
#pragma once

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <QDateTime>
#include <QString>

#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <vector>

#include "SeriesTable.h"
#include "StartWatch.h"
#include "link/RegisterValues.h"

// A current parameter of the register map and its metric.
struct ReadingMetric {
    const char* key;          // the register map's key, "E2"
    const char* name;         // "zashchita_phase_current_ratio"
    const char* help;
    double scale;             // base units per register unit
    const char* phase;        // the phase label, or nullptr
    const char* amperesName;  // the same in amperes from the rated current, or nullptr
};
const std::vector<ReadingMetric>& ReadingMetrics();

// Every family, made once: the lines' on the registry, the relays' (tens of
// thousands of series on a large plant) in a series table of their own, which
// the exposer collects beside the registry.
struct MetricFamilies {
    explicit MetricFamilies(prometheus::Registry& registry);

    std::shared_ptr<SeriesTable> relays = std::make_shared<SeriesTable>();
    // The relays' families in the table.
    int relayUp;
    int lastAnswer;
    int statusFlag;
    int clockOffset;
    int ratedCurrent;
    int requests;
    int failures;
    int trips;
    int tripRecent;
    int refusals;
    int motorStarts;
    int startDuration;
    int startPeakRatio;
    int startPeakAmperes;
    std::map<std::string, int> readings;   // by metric name, amperes too

    prometheus::Family<prometheus::Gauge>& lineUp;
    prometheus::Family<prometheus::Counter>& unasked;
    prometheus::Family<prometheus::Counter>& spoilt;
    prometheus::Family<prometheus::Gauge>& otherMaster;
};

class RelayMetrics {
public:
    RelayMetrics(MetricFamilies& families, const prometheus::Labels& labels);
    ~RelayMetrics();
    RelayMetrics(const RelayMetrics&) = delete;
    RelayMetrics& operator=(const RelayMetrics&) = delete;

    // A question went out and was answered, or not.
    void Asked(bool answered);
    // The relay's look: answering, or not (its values go).
    void SetUp(bool up);
    // The current-parameters block, read at `nowMs` (Unix time).
    void ApplyCurrent(const RegisterValues& values, qint64 nowMs);
    // The settings block: the rated current.
    void ApplySettings(const RegisterValues& values);

    // A trip, counted by its cause.
    void CountTrip(const QString& cause);
    // A recent trip, its record's `id` and the relay's time of it as labels,
    // shown until `untilMs` (Unix time); at most kRecentTrips at once, the
    // oldest going first.
    void ShowRecentTrip(const QString& cause, const QString& id, const QString& relayTime, qint64 untilMs);
    // The trips the archive holds, by cause, as the counters' values.
    void RestoreTrips(const std::map<QString, int>& trips);
    // Recent trips whose time is up go.
    void ExpireRecentTrips(qint64 nowMs);
    // A read the relay answered with exception `code`.
    void CountRefusal(int code);

    static constexpr size_t kRecentTrips = 8;

private:
    using Series = SeriesTable::Series;
    struct RecentTrip {
        QString id;
        qint64 untilMs = 0;
        Series* series = nullptr;
    };
    void DropValues();
    Series& Make(int family, prometheus::Labels extra = {});
    void Unmake(Series* series);
    Series& tripCounter(const QString& cause);
    void applyStart(const StartRecord& start);

    MetricFamilies& families_;
    SeriesTable& table_;
    prometheus::Labels labels_;
    std::vector<Series*> all_;      // every series of the relay, for the end
    Series& up_;
    Series& lastAnswer_;
    Series& requests_;
    Series& failures_;
    std::vector<Series*> readings_;    // ReadingMetrics() order
    std::vector<Series*> amperes_;     // the same order; nullptr: a reading without amperes
    std::vector<Series*> flags_;       // StatusFlags() order
    Series& clockOffset_;
    Series& ratedCurrent_;
    std::optional<double> ratedAmperes_;
    std::map<QString, Series*> trips_;
    std::deque<RecentTrip> recent_;       // oldest first
    std::map<int, Series*> refusals_;     // by exception code
    StartWatch starts_;
    Series& startCount_;
    Series& startDuration_;
    Series& startPeakRatio_;
    Series& startPeakAmperes_;
    std::optional<double> startPeakRatioValue_;
};

class LineMetrics {
public:
    LineMetrics(MetricFamilies& families, const QString& line);
    ~LineMetrics();
    LineMetrics(const LineMetrics&) = delete;
    LineMetrics& operator=(const LineMetrics&) = delete;
    void SetUp(bool up) { up_.Set(up ? 1 : 0); }
    void AddUnasked(double bytes) { unasked_.Increment(bytes); }
    void AddSpoilt() { spoilt_.Increment(); }
    void SetOtherMaster(bool present) { otherMaster_.Set(present ? 1 : 0); }

private:
    MetricFamilies& families_;
    prometheus::Gauge& up_;
    prometheus::Counter& unasked_;
    prometheus::Counter& spoilt_;
    prometheus::Gauge& otherMaster_;
};
