// The current parameters over the last 24 hours in bounded memory: every
// sample of the last hour, and before that one summary per second (each
// channel's minimum and maximum, and the second's last sample for export).
// Where the link was lost the lines break: a sample after a loss starts a new
// segment. Pure data, no widgets: the trend window draws what it returns.
#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

#include "history/BlockSample.h"

struct TrendPoint {
    qint64 ms = 0;
    double value = 0;
};

// A run of points drawn as one line.
using TrendSegment = std::vector<TrendPoint>;

// One second's summary, kept once its samples have left the full rate.
struct TrendSecond {
    BlockSample last;   // its ms is the second's last sample's
    qint64 startMs = 0; // the first sample's time in it
    std::array<uint16_t, kTrendChannels> low{};
    std::array<uint16_t, kTrendChannels> high{};
    bool afterGap = false;
};

class TrendHistory {
public:
    static constexpr qint64 kFullRateMs = 3600LL * 1000;    // every sample for an hour
    static constexpr qint64 kKeptMs = 24 * kFullRateMs;      // a second's summary for a day

    explicit TrendHistory(qint64 fullRateMs = kFullRateMs, qint64 keptMs = kKeptMs);

    // A sample as it came. A sample older than the last one is taken at the
    // last one's time (the PC's clock was put back), so time never runs
    // backwards in the history.
    void Add(BlockSample sample);
    // The link was lost (or the port closed): the next sample starts a new line.
    void Break() { breakPending_ = true; }

    bool Empty() const { return full_.empty() && seconds_.empty(); }
    qint64 FirstMs() const;
    qint64 LastMs() const;
    size_t FullRateCount() const { return full_.size(); }
    size_t SecondCount() const { return seconds_.size(); }

    // A channel's lines between fromMs and toMs, reduced to at most two
    // points (the lowest and the highest, in their order) per column of
    // (toMs - fromMs) / columns; a break between two samples ends a segment.
    std::vector<TrendSegment> Segments(int channel, qint64 fromMs, qint64 toMs, int columns) const;

    // The samples between fromMs and toMs, oldest first: each sample of the
    // last hour, and the last sample of each second before it.
    void ForEachSample(qint64 fromMs, qint64 toMs, const std::function<void(const BlockSample&)>& visit) const;

    // What is kept, for a copy on disk: the seconds' summaries, then the
    // samples at full rate, each oldest first.
    const std::deque<TrendSecond>& Seconds() const { return seconds_; }
    const std::deque<BlockSample>& FullRate() const { return full_; }
    // A second's summary read back from such a copy, before any sample at
    // full rate: false (and nothing kept) when it does not follow the last
    // one kept in time or samples at full rate are kept already.
    bool RestoreSecond(const TrendSecond& second);
    void Clear();

private:
    using Second = TrendSecond;
    void retire(const BlockSample& sample);

    qint64 fullRateMs_;
    qint64 keptMs_;
    std::deque<BlockSample> full_;
    std::deque<Second> seconds_;
    bool breakPending_ = false;
};
