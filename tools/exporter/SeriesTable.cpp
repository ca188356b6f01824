#include "SeriesTable.h"

#include <algorithm>

int SeriesTable::AddFamily(const std::string& name, const std::string& help, prometheus::MetricType type)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Family family;
    family.name = name;
    family.help = help;
    family.type = type;
    families_.push_back(std::move(family));
    return int(families_.size()) - 1;
}

int SeriesTable::Families() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return int(families_.size());
}

SeriesTable::Series& SeriesTable::Add(int family, const prometheus::Labels& labels)
{
    auto series = std::make_unique<Series>();
    series->labels_.reserve(labels.size());
    for (const auto& [name, value] : labels)
        series->labels_.push_back({name, value});
    std::lock_guard<std::mutex> lock(mutex_);
    Family& f = families_.at(size_t(family));
    f.series.push_back(std::move(series));
    return *f.series.back();
}

void SeriesTable::Remove(const Series& series)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (Family& f : families_) {
        const auto at = std::find_if(f.series.begin(), f.series.end(),
                                     [&series](const std::unique_ptr<Series>& s) { return s.get() == &series; });
        if (at != f.series.end()) {
            f.series.erase(at);
            return;
        }
    }
}

std::vector<prometheus::MetricFamily> SeriesTable::Collect() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<prometheus::MetricFamily> out;
    out.reserve(families_.size());
    for (const Family& f : families_) {
        prometheus::MetricFamily family;
        family.metric.reserve(f.series.size());
        for (const std::unique_ptr<Series>& s : f.series) {
            if (!s->Shown())
                continue;
            prometheus::ClientMetric& metric = family.metric.emplace_back();
            metric.label = s->labels_;
            if (f.type == prometheus::MetricType::Counter)
                metric.counter.value = s->Value();
            else
                metric.gauge.value = s->Value();
        }
        if (family.metric.empty())
            continue;   // as a family with no series: not shown at all
        family.name = f.name;
        family.help = f.help;
        family.type = f.type;
        out.push_back(std::move(family));
    }
    return out;
}
