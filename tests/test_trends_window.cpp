// The trend window and the motor start records against the simulator: a
// played start kept once with the figures the simulator played, the lines
// broken where the link was lost, and an export holding what is shown.
#include <gtest/gtest.h>

#include <QFile>
#include <QLineSeries>
#include <QSignalSpy>

#include "app/SpinEdit.h"
#include "app/trends/TrendChart.h"
#include "history/TrendRecorder.h"
#include "app/trends/TrendWindow.h"
#include "history/ReadingsCsv.h"
#include "history/StartFiles.h"
#include "support/SimWindow.h"

namespace {

struct TrendsWindowTest : SimWindowTest {
    QTemporaryDir starts;
    void SetUp() override
    {
        form.Trends().SetStartsFolder(starts.path());
        form.Trends().SetHistoryFolder(starts.filePath(QStringLiteral("history")));
    }
};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

// The simulator plays (tools/relay-sim/MotorStart.h): peaks 612, 598 and
// 605 %, "Пуск закончен" 3 s after the switch-on, the thermal impulse 18 %
// higher after it, the relay's start impulse 21 %; rated current 42.50 A.
TEST_F(TrendsWindowTest, APlayedStartIsKeptOnceWithWhatWasPlayed)
{
    QSignalSpy kept(&form.Trends(), &TrendRecorder::startKept);
    StartSim({"--freeze", "--motor-start", "6", "--log", logPath.toStdString()});
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept.count() > 0; }, 40000));
    QTest::qWait(1500);
    ASSERT_EQ(kept.count(), 1);

    const std::vector<StoredStart> stored = ListStarts(starts.path());
    ASSERT_EQ(stored.size(), 1u);
    const StartSummary& s = stored[0].summary;
    EXPECT_EQ(s.end, StartEnd::Finished);
    EXPECT_EQ(s.peakPercent, (std::array<uint16_t, 3>{612, 598, 605}));
    EXPECT_NEAR(double(s.TimeToFinishMs()), 3000.0, 300.0);
    EXPECT_EQ(s.thermalAfter - s.thermalBefore, 18);
    EXPECT_EQ(s.relayStartImpulse, 21);
    EXPECT_FALSE(s.heavy || s.prolonged);
    EXPECT_EQ(stored[0].ratedCentiAmps, 4250) << "the rated current is read for the record";

    const std::vector<BlockSample> samples = ReadStartSamples(stored[0].folder);
    ASSERT_FALSE(samples.empty());
    EXPECT_LE(samples.front().ms, s.switchOnMs - 4500) << "5 s before the switch-on";
    EXPECT_GE(samples.back().ms, s.finishedMs + 5000) << "5 s after the finish";
    EXPECT_TRUE(FileBytes(stored[0].folder + QStringLiteral("/start.png")).startsWith("\x89PNG"));

    TrendWindow* window = form.OpenTrends();
    EXPECT_EQ(window->Starts().size(), 1u);
}

TEST_F(TrendsWindowTest, ALostLinkBreaksTheLines)
{
    // The relay stops answering: the window is set to an address nobody
    // has, until the link shows lost, then back to the relay's.
    StartSim({"--freeze"});
    QTest::qWait(1000);
    auto* address = form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    const auto setAddress = [&](const char* text) {
        address->setFocus();
        address->selectAll();
        QTest::keyClicks(address, text);
        QTest::keyClick(address, Qt::Key_Return);
    };
    setAddress("2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Timer3->isActive(); }, 10000)) << "the link shows lost";
    const qint64 lostAt = form.Trends().History().LastMs();
    setAddress("1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Trends().History().LastMs() > lostAt + 1000; }, 10000));

    TrendWindow* window = form.OpenTrends();
    window->Refresh();
    for (int channel : {int(tcPhaseA), int(tcInsulation)}) {
        const std::vector<QLineSeries*> lines = window->Chart().Lines(channel);
        ASSERT_EQ(lines.size(), 2u) << channel;
        EXPECT_LE(lines[0]->at(lines[0]->count() - 1).x(), double(lostAt));
        EXPECT_GT(lines[1]->at(0).x(), double(lostAt + 300)) << "no line bridges the gap";
    }
}

TEST_F(TrendsWindowTest, ExportHoldsWhatIsShown)
{
    StartSim({"--log", logPath.toStdString()});
    QTest::qWait(3000);
    TrendWindow* window = form.OpenTrends();
    const TrendHistory& history = form.Trends().History();
    window->ShowSpan(history.FirstMs() + 700, history.LastMs() - 700);

    std::vector<QPointF> shown;
    for (const QLineSeries* line : window->Chart().Lines(tcPhaseA))
        for (const QPointF& p : line->points())
            shown.push_back(p);
    ASSERT_GT(shown.size(), 10u);

    QString path;
    window->AskSavePath = [&](const QString&, const QString& filter, const QString&) {
        return path = dir.filePath(QStringLiteral("shown.") + filter.section(QLatin1Char('.'), 1).chopped(1));
    };
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportCSV")), Qt::LeftButton);
    const auto rows = ParseReadingsCsv(FileBytes(path));
    ASSERT_TRUE(rows.has_value()) << path.toStdString();
    ASSERT_EQ(rows->size(), shown.size()) << "one row per sample drawn";
    for (size_t n = 0; n < shown.size(); ++n) {
        EXPECT_EQ(double((*rows)[n].ms), shown[n].x());
        EXPECT_EQ(double((*rows)[n].At(50)), shown[n].y());
    }
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportPNG")), Qt::LeftButton);
    EXPECT_TRUE(FileBytes(path).startsWith("\x89PNG"));
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportPDF")), Qt::LeftButton);
    EXPECT_TRUE(FileBytes(path).startsWith("%PDF"));
}
