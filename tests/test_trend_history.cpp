// The trend history and the motor start detector without a display: memory
// bounded over a day at the window's poll rate, extremes kept when a second
// is summarised, lines broken where the link was lost; its file read back
// whole, bounded, and only for its own relay; starts found from the status
// bits in their order; the samples' CSV read back as written, in either style.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "history/HistoryFile.h"
#include "history/ReadingsCsv.h"
#include "history/StartFiles.h"
#include "history/StartDetector.h"
#include "history/TrendHistory.h"

namespace {

constexpr qint64 kT0 = 1'765'000'000'000;   // some moment in 2025, ms
constexpr qint64 kStepMs = 83;               // twelve polls a second

BlockSample Sample(qint64 ms, uint16_t phaseA, uint16_t status = kMotorOnBit | kStartFinishedBit, uint16_t thermal = 40)
{
    BlockSample s;
    s.ms = ms;
    s.Set(50, phaseA);
    s.Set(51, phaseA);
    s.Set(52, phaseA);
    s.Set(56, thermal);
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
        qint64 clockBackMs = 0;   // after 5 s the PC's clock reads this much earlier
    } const cases[] = {
        {"no loss", -1, TrendHistory::kFullRateMs, 1},
        {"a loss at full rate", 5000, TrendHistory::kFullRateMs, 2},
        {"a loss since summarised", 5000, 1000, 2},
        {"a loss within one second, summarised", 5030, 1000, 2},
        {"the PC's clock put back", -1, TrendHistory::kFullRateMs, 1, 3000},
        {"the PC's clock put back, summarised", -1, 1000, 1, 3000},
    };
    for (const Case& c : cases) {
        TrendHistory history(c.fullRateMs);
        for (qint64 t = 0; t <= 10'000; t += 10) {
            history.Add(Sample(kT0 + t - (t > 5000 ? c.clockBackMs : 0), 90 + t % 7));
            if (t == c.breakAfterMs)
                history.Break();
        }
        const std::vector<TrendSegment> lines = history.Segments(tcPhaseA, kT0, kT0 + 10'000, 300);
        EXPECT_EQ(lines.size(), c.segments) << c.what;
        for (const TrendSegment& line : lines)
            for (size_t n = 1; n < line.size(); ++n)
                EXPECT_LE(line[n - 1].ms, line[n].ms) << c.what << ": time never runs backwards along a line";
    }
}

namespace {

// `count` samples kept in a history of a minute at full rate and in its
// file, written every hundred samples as the recorder does.
TrendHistory WriteHistory(const QString& path, const RelayId& relay, int count)
{
    TrendHistory history(60'000);
    HistoryFile file(path, relay);
    for (int n = 0; n < count; ++n) {
        history.Add(Sample(kT0 + n * kStepMs, uint16_t(90 + n % 13)));
        file.Append(history.FullRate().back());
        if (n % 100 == 99 || n == count - 1) {
            EXPECT_TRUE(file.Flush(history, nullptr, true));
        }
    }
    return history;
}

}  // namespace

TEST(HistoryFile, ReadBackWholeBoundedAndOnlyForItsOwnRelay)
{
    QTemporaryDir dir;
    const RelayId relay{QStringLiteral("/dev/ttyUSB0"), 5, {}};
    const QString path = HistoryFile::PathFor(dir.path(), relay);
    const int count = 30'000;   // 41 minutes, written anew more than once
    const TrendHistory written = WriteHistory(path, relay, count);
    const qint64 records = qint64(written.Seconds().size() + written.FullRate().size());
    EXPECT_LE(QFile(path).size(), 100 * (2 * records + 12 * 600)) << "appended no further than twice the history";
    QFile original(path);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();

    using O = HistoryFile::Outcome;
    struct Case {
        const char* what;
        QByteArray content;
        RelayId reader;
        O outcome;
        bool whole;   // all of the history back; else a part (or nothing) of it
    } const cases[] = {
        {"as written", bytes, relay, O::Loaded, true},
        {"half a record after it", bytes + bytes.right(70).left(35), relay, O::Loaded, true},
        {"zeros after it", bytes + QByteArray(200, '\0'), relay, O::Loaded, true},
        {"a record spoiled in the middle", QByteArray(bytes).replace(bytes.size() / 2, 1, "\x7f"), relay, O::SetAside, false},
        {"not a history file", QByteArrayLiteral("time,value\n1,2\n"), relay, O::SetAside, false},
        {"another address's file", bytes, RelayId{relay.port, 6, {}}, O::SetAside, false},
        {"another port's file", bytes, RelayId{QStringLiteral("/dev/ttyUSB1"), 5, {}}, O::SetAside, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(c.content);
        file.close();
        TrendHistory read(60'000);
        HistoryFile reader(path, c.reader);
        const HistoryFile::LoadResult result = reader.Load(read, kT0 + count * kStepMs);
        EXPECT_EQ(result.outcome, c.outcome) << result.message.toStdString();
        EXPECT_EQ(read.FullRate().size() == written.FullRate().size() && read.LastMs() == written.LastMs()
                      && read.Seconds().size() == written.Seconds().size(),
                  c.whole);
        if (c.whole) {
            EXPECT_EQ(read.FullRate().back().regs, written.FullRate().back().regs);
        }
        if (c.reader.SameRelay(relay) && c.outcome == O::SetAside && c.content.startsWith("ZTRH")) {
            EXPECT_FALSE(read.Empty()) << "what came before the damage is kept";
        }
        if (!c.reader.SameRelay(relay)) {
            EXPECT_TRUE(read.Empty()) << "nothing of another relay";
        }
        // Set aside is renamed whole beside it, never deleted.
        const QStringList aside = QDir(dir.path()).entryList(QDir::Files).filter(QStringLiteral(".trend."));
        EXPECT_EQ(aside.size(), c.outcome == O::SetAside ? 1 : 0);
        EXPECT_EQ(QFileInfo::exists(path), c.outcome != O::SetAside);
        if (!aside.isEmpty()) {
            EXPECT_EQ(QFileInfo(dir.filePath(aside.first())).size(), c.content.size());
        }
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
        uint16_t thermal = 40;
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
        uint16_t thermalBefore = 40;   // the last one polled before the switch-on
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
        {"a warm motor cooling before its start", {{0, off, 0, false, 60}, {4000, off, 0, false, 50},
         {5000, off, 0, false, 45}, {6000, on, 600, false, 44}, {8000, done, 95}, {13000, done, 92}},
         1, StartEnd::Finished, 2000, 600, false, false, 5, 45},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartDetector detector;
        std::vector<StartRecord> records;
        for (const Step& s : c.steps) {
            if (s.breakBefore)
                if (auto r = detector.Break())
                    records.push_back(*r);
            BlockSample sample = Sample(kT0 + s.ms, s.phaseA, s.status, s.thermal);
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
        EXPECT_EQ(s.thermalBefore, c.thermalBefore) << c.what;
        EXPECT_EQ(records[0].samples.size(), c.samples) << c.what << ": 5 s before the switch-on to 5 s after the end";
    }
}

// A start's summary as kept and read back, the rated current to the hundredth of an ampere.
TEST(StartFiles, SummaryReadsBackAsWritten)
{
    StartSummary s;
    s.switchOnMs = kT0;
    s.finishedMs = kT0 + 3000;
    s.peakPercent = {612, 598, 605};
    s.thermalBefore = 22;
    s.heavy = true;
    for (int rated : {0, 29, 4229, 4250, 65535}) {
        const std::optional<StoredStart> read = ParseStartSummary(StartSummaryJson(s, rated));
        ASSERT_TRUE(read.has_value()) << rated;
        EXPECT_EQ(read->ratedCentiAmps, rated);
        EXPECT_EQ(read->summary.TimeToFinishMs(), 3000) << rated;
        EXPECT_EQ(read->summary.peakPercent, s.peakPercent) << rated;
        EXPECT_EQ(read->summary.thermalBefore, 22) << rated;
        EXPECT_TRUE(read->summary.heavy) << rated;
    }
}

TEST(ReadingsCsv, SamplesReadBackAsWritten)
{
    std::vector<BlockSample> written{Sample(kT0, 612, kMotorOnBit), Sample(kT0 + 83, 65535, 0x8001)};
    for (const CsvStyle& style : {CsvStyle{}, CsvStyle{QLatin1Char(';'), QLatin1Char(',')}}) {
        SCOPED_TRACE(style.separator.toLatin1());
        const QByteArray text = ReadingsCsv(written, style);
        EXPECT_TRUE(text.contains(QStringLiteral("Время ПК%1").arg(style.separator).toUtf8()));
        const auto read = ParseReadingsCsv(text);
        ASSERT_TRUE(read.has_value());
        ASSERT_EQ(read->size(), written.size());
        for (size_t n = 0; n < written.size(); ++n) {
            EXPECT_EQ((*read)[n].ms, written[n].ms);
            for (int reg : {50, 51, 52, 56, 66})
                EXPECT_EQ((*read)[n].At(reg), written[n].At(reg)) << reg;
        }
    }
    EXPECT_FALSE(ParseReadingsCsv("time,value\n1,2\n").has_value());
}
