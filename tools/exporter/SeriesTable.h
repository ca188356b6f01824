// The relays' series for /metrics, kept as the exposer hands them on: each
// series holds its labels ready made, in the form a scrape copies out, and
// its value as an atomic that the poller stores without a lock. A scrape
// copies the shown series once, in the order they were added; the lock is
// only taken to add or remove series (a relay's start and end, a trip
// cause's first count), never for a value.
#pragma once

#include <prometheus/client_metric.h>
#include <prometheus/collectable.h>
#include <prometheus/labels.h>
#include <prometheus/metric_family.h>
#include <prometheus/metric_type.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class SeriesTable : public prometheus::Collectable {
public:
    class Series {
    public:
        // Values come from the poller's thread alone.
        void Set(double value)
        {
            value_.store(value, std::memory_order_relaxed);
            shown_.store(true, std::memory_order_release);
        }
        void Add(double by) { Set(value_.load(std::memory_order_relaxed) + by); }
        // Not on /metrics until set again.
        void Hide() { shown_.store(false, std::memory_order_release); }
        bool Shown() const { return shown_.load(std::memory_order_acquire); }
        double Value() const { return value_.load(std::memory_order_relaxed); }

    private:
        friend class SeriesTable;
        std::vector<prometheus::ClientMetric::Label> labels_;   // by name, as the text shows them
        std::atomic<double> value_{0};
        std::atomic<bool> shown_{false};
    };

    // A family of series; its HELP and TYPE are shown while one of them is.
    int AddFamily(const std::string& name, const std::string& help, prometheus::MetricType type);
    // A new series of `family`, hidden until set. Its address stays until Remove.
    Series& Add(int family, const prometheus::Labels& labels);
    void Remove(const Series& series);
    int Families() const;

    std::vector<prometheus::MetricFamily> Collect() const override;

private:
    struct Family {
        std::string name;
        std::string help;
        prometheus::MetricType type = prometheus::MetricType::Gauge;
        std::vector<std::unique_ptr<Series>> series;
    };

    mutable std::mutex mutex_;
    std::vector<Family> families_;
};
