// What happens to a relay, as its series: trips (counters by cause and the
// recent ones, one series per event record, for an alert per trip),
// refusals, motor starts.
#include "RelayMetrics.h"

#include <algorithm>

RelayMetrics::Series& RelayMetrics::tripCounter(const QString& cause)
{
    Series*& counter = trips_[cause];
    if (!counter)
        counter = &Make(families_.trips, {{"cause", cause.toStdString()}});
    return *counter;
}

void RelayMetrics::CountTrip(const QString& cause)
{
    tripCounter(cause).Add(1);
}

void RelayMetrics::ShowRecentTrip(const QString& cause, const QString& id, const QString& relayTime, qint64 untilMs)
{
    if (std::any_of(recent_.begin(), recent_.end(), [&id](const RecentTrip& t) { return t.id == id; }))
        return;
    if (recent_.size() >= kRecentTrips) {
        Unmake(recent_.front().series);
        recent_.pop_front();
    }
    Series& series = Make(families_.tripRecent, {{"cause", cause.toStdString()},
                                                 {"record", id.toStdString()},
                                                 {"relay_time", relayTime.toStdString()}});
    series.Set(1);
    recent_.push_back({id, untilMs, &series});
}

void RelayMetrics::RestoreTrips(const std::map<QString, int>& trips)
{
    for (const auto& [cause, count] : trips)
        tripCounter(cause).Set(count);
}

void RelayMetrics::ExpireRecentTrips(qint64 nowMs)
{
    for (auto at = recent_.begin(); at != recent_.end();) {
        if (at->untilMs > nowMs) {
            ++at;
            continue;
        }
        Unmake(at->series);
        at = recent_.erase(at);
    }
}

void RelayMetrics::CountRefusal(int code)
{
    Series*& counter = refusals_[code];
    if (!counter) {
        counter = &Make(families_.refusals, {{"code", std::to_string(code)}});
        counter->Set(0);
    }
    counter->Add(1);
}

void RelayMetrics::applyStart(const StartRecord& start)
{
    const StartSummary& s = start.summary;
    const qint64 endMs = s.finishedMs >= 0 ? s.finishedMs : start.samples.back().ms;
    const uint16_t peak = *std::max_element(s.peakPercent.begin(), s.peakPercent.end());
    startCount_.Add(1);
    startDuration_.Set(double(endMs - s.switchOnMs) / 1000.0);
    startPeakRatioValue_ = peak / 100.0;
    startPeakRatio_.Set(*startPeakRatioValue_);
    if (ratedAmperes_)
        startPeakAmperes_.Set(*startPeakRatioValue_ * *ratedAmperes_);
    else
        startPeakAmperes_.Hide();
}
