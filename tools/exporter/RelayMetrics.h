// The metrics of one relay and of one line on the registry /metrics serves,
// in base units as Prometheus names them: the relay's percent values as
// ratios, insulation in ohms, currents also in amperes from the rated-current
// setting, times in seconds. A relay that stops answering keeps only `up` 0,
// its last answer's time and its counters: none of its old values is shown
// as a current one.
#pragma once

#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>

#include <QDateTime>
#include <QString>

#include <map>
#include <optional>
#include <vector>

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

// Every family, made once on the registry.
struct MetricFamilies {
    explicit MetricFamilies(prometheus::Registry& registry);

    prometheus::Family<prometheus::Gauge>& relayUp;
    prometheus::Family<prometheus::Gauge>& lastAnswer;
    prometheus::Family<prometheus::Gauge>& statusFlag;
    prometheus::Family<prometheus::Gauge>& clockOffset;
    prometheus::Family<prometheus::Gauge>& ratedCurrent;
    prometheus::Family<prometheus::Counter>& requests;
    prometheus::Family<prometheus::Counter>& failures;
    prometheus::Family<prometheus::Counter>& trips;
    prometheus::Family<prometheus::Gauge>& lineUp;
    prometheus::Family<prometheus::Counter>& unasked;
    prometheus::Family<prometheus::Counter>& spoilt;
    std::map<std::string, prometheus::Family<prometheus::Gauge>*> readings;   // by metric name, amperes too
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
    // The current-parameters block, read at `now`.
    void ApplyCurrent(const RegisterValues& values, const QDateTime& now);
    // The settings block: the rated current.
    void ApplySettings(const RegisterValues& values);
    void CountTrip(const QString& cause, double count = 1);

private:
    struct Slot {
        prometheus::Family<prometheus::Gauge>* family = nullptr;
        prometheus::Labels labels;
        prometheus::Gauge* gauge = nullptr;
    };
    void Set(Slot& slot, double value);
    void Drop(Slot& slot);
    void DropValues();
    Slot MakeSlot(prometheus::Family<prometheus::Gauge>& family, prometheus::Labels extra = {}) const;

    MetricFamilies& families_;
    prometheus::Labels labels_;
    prometheus::Gauge& up_;
    prometheus::Gauge& lastAnswer_;
    prometheus::Counter& requests_;
    prometheus::Counter& failures_;
    std::vector<Slot> readings_;    // ReadingMetrics() order
    std::vector<Slot> amperes_;     // the same order; a reading without amperes has no family
    std::vector<Slot> flags_;       // StatusFlags() order
    Slot clockOffset_;
    Slot ratedCurrent_;
    std::optional<double> ratedAmperes_;
    std::map<QString, prometheus::Counter*> trips_;
};

class LineMetrics {
public:
    LineMetrics(MetricFamilies& families, const QString& line);
    void SetUp(bool up) { up_.Set(up ? 1 : 0); }
    void AddUnasked(double bytes) { unasked_.Increment(bytes); }
    void AddSpoilt() { spoilt_.Increment(); }

private:
    prometheus::Gauge& up_;
    prometheus::Counter& unasked_;
    prometheus::Counter& spoilt_;
};
