#include "history/TrendHistory.h"

#include <algorithm>
#include <limits>

namespace {

constexpr qint64 kSecondMs = 1000;

qint64 SecondOf(qint64 ms)
{
    return ms - ((ms % kSecondMs) + kSecondMs) % kSecondMs;
}

// Collects the points of one channel into segments, a column at a time:
// the lowest and the highest value met in the column, in the order met.
class ColumnReducer {
public:
    ColumnReducer(qint64 fromMs, qint64 toMs, int columns)
        : fromMs_(fromMs), widthMs_(std::max<qint64>(1, (toMs - fromMs) / std::max(1, columns)))
    {
    }

    void Add(qint64 ms, double value, bool afterGap)
    {
        if (afterGap)
            breakLine();
        const qint64 column = (ms - fromMs_) / widthMs_;
        if (column != column_)
            flush();
        column_ = column;
        if (count_ == 0 || value < low_.value)
            low_ = {ms, value};
        if (count_ == 0 || value > high_.value)
            high_ = {ms, value};
        ++count_;
    }

    std::vector<TrendSegment> Take()
    {
        breakLine();
        return std::move(segments_);
    }

private:
    void flush()
    {
        if (count_ == 0)
            return;
        if (segments_.empty() || startNew_)
            segments_.emplace_back();
        startNew_ = false;
        TrendSegment& line = segments_.back();
        const bool lowFirst = low_.ms <= high_.ms;
        line.push_back(lowFirst ? low_ : high_);
        if (count_ > 1 && (low_.ms != high_.ms || low_.value != high_.value))
            line.push_back(lowFirst ? high_ : low_);
        count_ = 0;
    }
    void breakLine()
    {
        flush();
        startNew_ = true;
    }

    qint64 fromMs_;
    qint64 widthMs_;
    qint64 column_ = std::numeric_limits<qint64>::min();
    int count_ = 0;
    TrendPoint low_, high_;
    bool startNew_ = true;
    std::vector<TrendSegment> segments_;
};

}  // namespace

TrendHistory::TrendHistory(qint64 fullRateMs, qint64 keptMs) : fullRateMs_(fullRateMs), keptMs_(keptMs) {}

qint64 TrendHistory::FirstMs() const
{
    return !seconds_.empty() ? seconds_.front().startMs : full_.empty() ? 0 : full_.front().ms;
}

qint64 TrendHistory::LastMs() const
{
    return !full_.empty() ? full_.back().ms : seconds_.empty() ? 0 : seconds_.back().last.ms;
}

void TrendHistory::Add(BlockSample sample)
{
    if (!Empty())
        sample.ms = std::max(sample.ms, LastMs());
    sample.afterGap = sample.afterGap || breakPending_;
    breakPending_ = false;
    full_.push_back(sample);
    while (!full_.empty() && full_.front().ms < sample.ms - fullRateMs_) {
        retire(full_.front());
        full_.pop_front();
    }
    while (!seconds_.empty() && seconds_.front().last.ms < sample.ms - keptMs_)
        seconds_.pop_front();
}

bool TrendHistory::RestoreSecond(const TrendSecond& second)
{
    if (!full_.empty() || second.last.ms < second.startMs)
        return false;
    if (!seconds_.empty()) {
        const Second& previous = seconds_.back();
        // A second follows the one before it, within the same second only after a break.
        if (second.startMs < previous.last.ms
            || (SecondOf(second.startMs) == SecondOf(previous.startMs) && !second.afterGap))
            return false;
    }
    seconds_.push_back(second);
    while (seconds_.front().last.ms < second.last.ms - keptMs_)
        seconds_.pop_front();
    return true;
}

void TrendHistory::Clear()
{
    full_.clear();
    seconds_.clear();
    breakPending_ = false;
}

// A sample leaves the full rate: it joins its second's summary, or starts
// one (also within the same second after a break, so the break stays).
void TrendHistory::retire(const BlockSample& sample)
{
    if (seconds_.empty() || sample.afterGap || SecondOf(seconds_.back().startMs) != SecondOf(sample.ms)) {
        Second s;
        s.startMs = sample.ms;
        s.afterGap = sample.afterGap;
        for (int c = 0; c < kTrendChannels; ++c)
            s.low[size_t(c)] = s.high[size_t(c)] = sample.At(TrendRegister(c));
        s.last = sample;
        seconds_.push_back(s);
        return;
    }
    Second& s = seconds_.back();
    for (int c = 0; c < kTrendChannels; ++c) {
        const uint16_t v = sample.At(TrendRegister(c));
        s.low[size_t(c)] = std::min(s.low[size_t(c)], v);
        s.high[size_t(c)] = std::max(s.high[size_t(c)], v);
    }
    s.last = sample;
}

std::vector<TrendSegment> TrendHistory::Segments(int channel, qint64 fromMs, qint64 toMs, int columns) const
{
    ColumnReducer reducer(fromMs, toMs, columns);
    const auto second = std::lower_bound(seconds_.begin(), seconds_.end(), fromMs,
                                         [](const Second& s, qint64 ms) { return s.last.ms < ms; });
    for (auto it = second; it != seconds_.end() && it->startMs <= toMs; ++it) {
        const uint16_t low = it->low[size_t(channel)], high = it->high[size_t(channel)];
        // The second's extremes, spread over it so that each keeps a place.
        reducer.Add(it->startMs, low, it->afterGap);
        if (high != low)
            reducer.Add(std::max(it->startMs, it->last.ms), high, false);
    }
    const int reg = TrendRegister(channel);
    const auto sample = std::lower_bound(full_.begin(), full_.end(), fromMs,
                                         [](const BlockSample& s, qint64 ms) { return s.ms < ms; });
    for (auto it = sample; it != full_.end() && it->ms <= toMs; ++it)
        reducer.Add(it->ms, it->At(reg), it->afterGap);
    return reducer.Take();
}

void TrendHistory::ForEachSample(qint64 fromMs, qint64 toMs,
                                 const std::function<void(const BlockSample&)>& visit) const
{
    for (const Second& s : seconds_)
        if (s.last.ms >= fromMs && s.last.ms <= toMs)
            visit(s.last);
    const auto first = std::lower_bound(full_.begin(), full_.end(), fromMs,
                                        [](const BlockSample& s, qint64 ms) { return s.ms < ms; });
    for (auto it = first; it != full_.end() && it->ms <= toMs; ++it)
        visit(*it);
}
