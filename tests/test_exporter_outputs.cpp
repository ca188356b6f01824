// The exporter's outputs on one bus, fed events without a line: each
// output's faults counted, a trip counted once it is archived.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <functional>

#include "ArchiveOutput.h"
#include "PollBus.h"
#include "PrometheusOutput.h"
#include "ZashchitaVersion.h"
#include "exchanges/ExchangeTable.h"
#include "support/ExporterRun.h"
#include "support/SimLog.h"

namespace {

struct Broken : PollOutput {
    const char* Name() const override { return "broken"; }
    void OnBlockRead(const BlockRead&) override { throw std::runtime_error("no room"); }
};

}  // namespace

TEST(ExporterOutputs, EachOutputsFaultIsCountedAndCostsTheOthersNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    ASSERT_TRUE(QDir().mkpath(path));   // a folder where the file goes: no record can be added
    TripArchive archive(path);
    PollBus bus;
    PrometheusOutput metrics;
    ArchiveOutput archived(archive, bus);
    Broken broken;
    for (PollOutput* output : std::initializer_list<PollOutput*>{&broken, &metrics, &archived})
        bus.Subscribe(*output), metrics.KnowOutput(output->Name());
    const LineConfig mill{QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}}};
    bus.OnLineAdded(mill);
    const RelayRef d1{mill.name, QStringLiteral("D1"), 1};
    const std::vector<uint16_t> trip{12, 31, 23, 59, 58, 0x0208, 131, 128, 137, 1850, 7, 11, 103, 39, 376, 591, 4210};
    const RegisterValues current{kCurrentParamsBlock, std::vector<uint16_t>(29), 0, 0};
    const std::function<void()> seen = [&] { bus.OnRecordSeen({d1, 2, trip, 1796728505000}); };
    const struct {
        const char* what;
        std::function<void()> act;
        double archiveErrors, trips, brokenErrors;
        int archivedLines;
    } steps[] = {
        {"a record the archive cannot write", seen, 1, 0, 0, 0},
        {"seen again, still not written", seen, 2, 0, 0, 0},
        {"the folder gone: written", [&] { ASSERT_TRUE(QDir(path).removeRecursively()); seen(); }, 2, 1, 0, 1},
        {"seen again: nothing new", seen, 2, 1, 0, 1},
        {"a block read, one output throwing", [&] { bus.OnBlockRead({d1, current, 1796728505000, 0}); }, 2, 1, 1, 1},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QByteArray text = QByteArray::fromStdString(metrics.Render());
        EXPECT_EQ(Sample(text, "zashchita_exporter_output_errors_total{output=\"archive\"}"), step.archiveErrors);
        EXPECT_EQ(Sample(text, "zashchita_exporter_output_errors_total{output=\"broken\"}"), step.brokenErrors);
        EXPECT_EQ(SampleSum(text, "zashchita_trips_total"), step.trips);
        EXPECT_EQ(QFileInfo(path).isFile() ? SimLogLines(path).size() : 0, step.archivedLines);
    }
    const QByteArray text = QByteArray::fromStdString(metrics.Render());
    EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"1\",cause=\"overload\",line=\"mill\",relay=\"D1\"}"), 1);
    EXPECT_EQ(Sample(text, "zashchita_relay_up{address=\"1\",line=\"mill\",relay=\"D1\"}"), 1) << "the block reached the metrics";
    EXPECT_EQ(Sample(text, "zashchita_exporter_build_info{version=\"" ZASHCHITA_VERSION "\"}"), 1);
    bus.OnLineRemoved(mill);
    EXPECT_FALSE(QByteArray::fromStdString(metrics.Render()).contains("line=\"mill\"")) << "a line gone leaves no series";
}
