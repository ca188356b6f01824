// The trend history and the motor start detector without a display: memory
// bounded over a day at the window's poll rate, extremes kept when a second
// is summarised, lines broken where the link was lost; starts found from the
// status bits in their order; the samples' CSV read back as written.
#include <gtest/gtest.h>

#include "history/ReadingsCsv.h"
#include "history/StartDetector.h"
#include "history/TrendHistory.h"

namespace {

constexpr qint64 kT0 = 1'765'000'000'000;   // some moment in 2025, ms
constexpr qint64 kStepMs = 83;               // twelve polls a second

BlockSample Sample(qint64 ms, uint16_t phaseA, uint16_t status = kMotorOnBit | kStartFinishedBit)
{
    BlockSample s;
    s.ms = ms;
    s.Set(50, phaseA);
    s.Set(51, phaseA);
    s.Set(52, phaseA);
    s.Set(56, 40);
    s.Set(66, status);
    return s;
}

size_t Points(const std::vector<TrendSegment>& segments)
{
    size_t n = 0;
    for (const TrendSegment& s : segments)
        n += s.size();
    return n;
}

}  // namespace

TEST(TrendHistory, ADayAtTwelvePerSecondStaysBoundedAndKeepsEachSecondsExtremes)
{
    TrendHistory history;
    const qint64 total = 25 * 3600 * 1000LL;
    const qint64 spikeAt = kT0 + 20 * 3600 * 1000LL / kStepMs * kStepMs;   // 5 h before the end: summarised
    for (qint64 t = 0; t < total; t += kStepMs)
        history.Add(Sample(kT0 + t, kT0 + t == spikeAt ? 777 : 90));
    EXPECT_LE(history.FullRateCount(), size_t(3600 * 1000 / kStepMs + 1));
    EXPECT_LE(history.SecondCount(), size_t(23 * 3600 + 1));
    EXPECT_GE(history.FirstMs(), history.LastMs() - TrendHistory::kKeptMs);
    EXPECT_LE(history.FirstMs(), history.LastMs() - TrendHistory::kKeptMs + 2000);

    double highest = 0;
    for (const TrendSegment& s : history.Segments(tcPhaseA, spikeAt - 60'000, spikeAt + 60'000, 50))
        for (const TrendPoint& p : s)
            highest = std::max(highest, p.value);
    EXPECT_EQ(highest, 777) << "a one-sample spike survives the second's summary and the reduction to columns";
    EXPECT_LE(Points(history.Segments(tcPhaseA, history.FirstMs(), history.LastMs(), 800)), size_t(2 * 800 + 4));
}

TEST(TrendHistory, LinesBreakWhereTheLinkWasLostOnlyThere)
{
    struct Case {
        const char* what;
        qint64 breakAfterMs;   // -1: none
        qint64 fullRateMs;     // small: the break has moved into the seconds' summaries
        size_t segments;
    } const cases[] = {
        {"no loss", -1, TrendHistory::kFullRateMs, 1},
        {"a loss at full rate", 5000, TrendHistory::kFullRateMs, 2},
        {"a loss since summarised", 5000, 1000, 2},
        {"a loss within one second, summarised", 5030, 1000, 2},
    };
    for (const Case& c : cases) {
        TrendHistory history(c.fullRateMs);
        for (qint64 t = 0; t <= 10'000; t += 10) {
            history.Add(Sample(kT0 + t, 90 + t % 7));
            if (t == c.breakAfterMs)
                history.Break();
        }
        EXPECT_EQ(history.Segments(tcPhaseA, kT0, kT0 + 10'000, 300).size(), c.segments) << c.what;
    }
}

TEST(StartDetector, StartsFromTheStatusBitsInTheirOrder)
{
    constexpr uint16_t off = 1u << 9, on = kMotorOnBit, done = kMotorOnBit | kStartFinishedBit;
    struct Step {
        qint64 ms;
        uint16_t status;
        uint16_t phaseA;
        bool breakBefore = false;
    };
    struct Case {
        const char* what;
        std::vector<Step> steps;
        int records;
        StartEnd end;
        qint64 finishedMs;     // after the switch-on, -1: none
        uint16_t peak;
        bool heavy, prolonged;
        size_t samples;        // in the record
    };
    const qint64 limit = StartDetector::kLimitMs;
    const Case cases[] = {
        {"an ordinary start", {{0, off, 0}, {4000, off, 0}, {6000, on, 600}, {7000, on | 16, 300}, {9000, done, 95},
                               {13000, done, 92}, {14000, done, 92}, {20000, done, 92}},
         1, StartEnd::Finished, 3000, 600, true, false, 6},
        {"motor already on when polling began", {{0, on, 500}, {3000, done, 90}, {9000, done, 90}}, 0, {}, 0, 0, false, false, 0},
        {"the switch-on fell in a lost link", {{0, off, 0}, {1000, on, 500, true}, {3000, done, 90}, {9000, done, 90}},
         0, {}, 0, 0, false, false, 0},
        {"link lost during the start", {{0, off, 0}, {1000, on, 500}, {2000, on, 400}, {2500, on, 0, true}},
         1, StartEnd::LinkLost, -1, 500, false, false, 3},
        {"no finish within the limit", {{0, off, 0}, {1000, on | (1u << 14), 500}, {1000 + limit, on, 100}},
         1, StartEnd::Limit, -1, 500, false, true, 3},
        {"the motor went off during the start", {{0, off, 0}, {1000, on, 500}, {2000, off, 0}, {7000, off, 0}},
         1, StartEnd::MotorOff, -1, 500, false, false, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartDetector detector;
        std::vector<StartRecord> records;
        for (const Step& s : c.steps) {
            if (s.breakBefore)
                if (auto r = detector.Break())
                    records.push_back(*r);
            BlockSample sample = Sample(kT0 + s.ms, s.phaseA, s.status);
            sample.afterGap = s.breakBefore;
            if (auto r = detector.Add(sample))
                records.push_back(*r);
        }
        EXPECT_EQ(int(records.size()), c.records);
        if (records.empty() || int(records.size()) != c.records)
            continue;
        const StartSummary& s = records[0].summary;
        EXPECT_EQ(s.end, c.end) << c.what;
        EXPECT_EQ(s.TimeToFinishMs(), c.finishedMs) << c.what;
        EXPECT_EQ(s.peakPercent[0], c.peak) << c.what;
        EXPECT_EQ(s.heavy, c.heavy) << c.what;
        EXPECT_EQ(s.prolonged, c.prolonged) << c.what;
        EXPECT_EQ(records[0].samples.size(), c.samples) << c.what << ": 5 s before the switch-on to 5 s after the end";
    }
}

TEST(ReadingsCsv, SamplesReadBackAsWritten)
{
    std::vector<BlockSample> written{Sample(kT0, 612, kMotorOnBit), Sample(kT0 + 83, 65535, 0x8001)};
    const auto read = ParseReadingsCsv(ReadingsCsv(written));
    ASSERT_TRUE(read.has_value());
    ASSERT_EQ(read->size(), written.size());
    for (size_t n = 0; n < written.size(); ++n) {
        EXPECT_EQ((*read)[n].ms, written[n].ms);
        for (int reg : {50, 51, 52, 56, 66})
            EXPECT_EQ((*read)[n].At(reg), written[n].At(reg)) << reg;
    }
    EXPECT_FALSE(ParseReadingsCsv("time,value\n1,2\n").has_value());
}
