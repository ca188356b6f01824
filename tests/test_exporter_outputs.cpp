// The exporter's outputs on one bus, fed events without a line: each
// output's faults counted; a trip counted and shown once, the archive
// writable or not, across restarts; the records of a first look never.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <functional>
#include <memory>

#include "ArchiveOutput.h"
#include "LinePoller.h"
#include "PollBus.h"
#include "PrometheusOutput.h"
#include "ZashchitaVersion.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"
#include "exchanges/TripCause.h"
#include "serial/ComError.h"
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
    PrometheusOutput metrics([] { return qint64(1796728505000); });
    ArchiveOutput archived(archive, bus);
    Broken broken;
    for (PollOutput* output : std::initializer_list<PollOutput*>{&broken, &metrics, &archived})
        bus.Subscribe(*output), metrics.KnowOutput(output->Name());
    const LineConfig mill{QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}}};
    bus.OnLineAdded(mill);
    const RelayRef d1{mill.name, QStringLiteral("D1"), 1};
    const std::vector<uint16_t> trip{12, 31, 23, 59, 58, 0x0208, 131, 128, 137, 1850, 7, 11, 103, 39, 376, 591, 4210};
    const RegisterValues current{kCurrentParamsBlock, std::vector<uint16_t>(29), 0, 0};
    const std::vector<uint16_t> empty(trip.size());
    const std::function<void()> seen = [&] { bus.OnRecordSeen({d1, 2, trip, 1796728505000}); };
    const struct {
        const char* what;
        std::function<void()> act;
        double archiveErrors, trips, brokenErrors;
        int archivedLines;
        double unwritten;
    } steps[] = {
        {"the first look: four empty slots, held", [&] { for (int n = 1; n <= 4; ++n) bus.OnRecordSeen({d1, n, empty, 0}); }, 0, 0, 0, 0, 1},
        {"a record the archive cannot write: counted all the same", seen, 1, 1, 0, 0, 2},
        {"seen again, still not written", seen, 1, 1, 0, 0, 2},
        {"the folder gone: written", [&] { ASSERT_TRUE(QDir(path).removeRecursively()); seen(); }, 1, 1, 0, 2, 0},
        {"seen again: nothing new", seen, 1, 1, 0, 2, 0},
        {"a block read, one output throwing", [&] { bus.OnBlockRead({d1, current, 1796728505000, 0}); }, 1, 1, 1, 2, 0},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QByteArray text = QByteArray::fromStdString(metrics.Render());
        EXPECT_EQ(Sample(text, "zashchita_exporter_output_errors_total{output=\"archive\"}"), step.archiveErrors);
        EXPECT_EQ(Sample(text, "zashchita_exporter_output_errors_total{output=\"broken\"}"), step.brokenErrors);
        EXPECT_EQ(SampleSum(text, "zashchita_trips_total"), step.trips);
        EXPECT_EQ(QFileInfo(path).isFile() ? SimLogLines(path).size() : 0, step.archivedLines);
        EXPECT_EQ(Sample(text, "zashchita_archive_unwritten_records"), step.unwritten);
        EXPECT_EQ(text.count("zashchita_trip_recent{"), step.trips);
    }
    const QByteArray text = QByteArray::fromStdString(metrics.Render());
    EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"1\",cause=\"overload\",line=\"mill\",relay=\"D1\"}"), 1);
    EXPECT_EQ(Sample(text, "zashchita_relay_up{address=\"1\",line=\"mill\",relay=\"D1\"}"), 1) << "the block reached the metrics";
    EXPECT_EQ(Sample(text, "zashchita_exporter_build_info{version=\"" ZASHCHITA_VERSION "\"}"), 1);
    bus.OnLineRemoved(mill);
    EXPECT_FALSE(QByteArray::fromStdString(metrics.Render()).contains("line=\"mill\"")) << "a line gone leaves no series";
}

// A relay's records over a restart: those of the first look are history,
// every later one a trip counted and shown once; the counters come back at
// their values; the recent trips are bounded and go after their time.
TEST(ExporterOutputs, EveryNewRecordIsOneTripAndTheFirstLookNone)
{
    QTemporaryDir dir;
    qint64 now = 1796728505000;
    struct Exporter {
        TripArchive archive;
        PollBus bus;
        PrometheusOutput metrics;
        ArchiveOutput archived{archive, bus};
        Exporter(const QString& path, const LineConfig& line, qint64& now) : archive(path), metrics([&now] { return now; })
        {
            archive.Load(), bus.Subscribe(metrics), bus.Subscribe(archived), bus.OnLineAdded(line);
        }
    };
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    const LineConfig mill{QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}, {QStringLiteral("D2"), 2, {}}}};
    auto exporter = std::make_unique<Exporter>(path, mill, now);
    // The relay's four slots after its overload trips up to the `last`th (at second `last` of its clock), the latest first.
    const auto read = [&](int address, int last) {
        for (int slot = 1; slot <= 4; ++slot) {
            std::vector<uint16_t> r{1, 19, 6, 25, uint16_t(last + 1 - slot), 0x0208, 812, 790, 805, 1780, 18, 21, 64, 41, 379, 604, 3900};
            exporter->bus.OnRecordSeen({{mill.name, mill.relays[size_t(address - 1)].name, address}, slot,
                                        last + 1 - slot > 0 ? r : std::vector<uint16_t>(r.size()), now});
        }
    };
    const struct {
        const char* what;
        std::function<void()> act;
        double tripsD1, tripsD2; int recent, archived, history;
    } steps[] = {
        {"the first looks: D1's four records, D2 empty", [&] { read(1, 4), read(2, 0); }, 0, 0, 0, 5, 5},
        {"a trip of D1, read twice", [&] { read(1, 5), read(1, 5); }, 1, 0, 1, 6, 5},
        {"a restart, all read again", [&] { exporter = std::make_unique<Exporter>(path, mill, now), read(1, 5), read(2, 0); }, 1, 0, 1, 6, 5},
        {"trips of both while the exporter was stopped", [&] { read(1, 7), read(2, 2); }, 3, 2, 5, 10, 5},
        {"ten trips of D2 at once: the last eight shown", [&] { for (int n = 3; n <= 12; ++n) read(2, n); }, 3, 12, 11, 20, 5},
        {"ten minutes on", [&] { now += PrometheusOutput::kRecentTripMs, exporter->bus.OnLineState({mill, LineState::Kind::Open}); }, 3, 12, 0, 20, 5},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QByteArray text = QByteArray::fromStdString(exporter->metrics.Render());
        EXPECT_EQ(text.count("zashchita_trips_total{"), 2 * TripCauses().size()) << "every cause from 0";
        EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"1\",cause=\"overload\",line=\"mill\",relay=\"D1\"}"), step.tripsD1);
        EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"2\",cause=\"overload\",line=\"mill\",relay=\"D2\"}"), step.tripsD2);
        EXPECT_EQ(text.count("zashchita_trip_recent{"), step.recent);
        EXPECT_EQ(SimLogLines(path).size(), step.archived);
        EXPECT_EQ(SimLogLines(path).join().count("\"history\":true"), step.history);
    }
}

// Why a line cannot be opened, in the system's words and with what would help.
TEST(ExporterOutputs, ALineThatCannotBeOpenedSaysWhy)
{
    struct : PollOutput {
        QString reason;
        const char* Name() const override { return "reasons"; }
        void OnLineState(const LineState& e) override { reason = e.reason; }
    } told;
    const auto refused = [](RelaySession&) { throw EComPort(ceOpen, EACCES); };
    for (const auto& [port, open, reason] : {std::tuple<const char*, std::function<void(RelaySession&)>, const char*>{"/dev/ttyNONE9", {}, "ENOENT (No such file or directory)"},
                                             {"/dev/null", {}, "ENOTTY (Inappropriate ioctl for device); it is no serial line"},
                                             {"/dev/ttyUSB0", refused, "EACCES (Permission denied); add the service's user to the group dialout"}}) {
        LinePoller(LineConfig{QStringLiteral("mill"), QString::fromLatin1(port), 0, 200, {}}, told, LineHooks{open, {}, {}}).Start();
        EXPECT_EQ(told.reason.toStdString(), reason) << port;
    }
}

// No answer's time before an answer; a relay's motor starts from the window's start detector, the last one's time
// and peak (in amperes once the rated current is known); a relay that only refuses is not up, its refusals counted.
TEST(ExporterOutputs, ARelaysSeriesSayWhatHappened)
{
    PrometheusOutput metrics;
    metrics.OnLineAdded({QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}}});
    const RelayRef d1{QStringLiteral("mill"), QStringLiteral("D1"), 1};
    RegisterValues current{kCurrentParamsBlock, std::vector<uint16_t>(29), 0, 0}, settings{kSettingsBlock, std::vector<uint16_t>(44), 0, 0};
    settings.values[size_t(RegisterOf(QStringLiteral("SE0")) - kSettingsBlock.first)] = 1250;
    // The current parameters at `s` seconds: the status word (motor on 0x400, start finished 0x800), phase A's current.
    const auto at = [&](int s, uint16_t status, uint16_t phaseA) {
        current.values[16] = status, current.values[0] = phaseA;
        metrics.OnBlockRead({d1, current, s * 1000, 0});
    };
    const auto of = [&](const char* name, const char* code = "") {
        return Sample(QByteArray::fromStdString(metrics.Render()), name + QByteArray("{address=\"1\",") + code + "line=\"mill\",relay=\"D1\"}");
    };
    EXPECT_EQ(of("zashchita_relay_last_answer_timestamp_seconds"), std::nullopt);
    EXPECT_EQ(of("zashchita_motor_starts_total"), 0);
    at(10, 0, 0), at(11, 0x400, 612), at(12, 0x400, 598), at(14, 0xC00, 105);
    EXPECT_EQ(of("zashchita_relay_up"), 1);
    EXPECT_EQ(of("zashchita_relay_last_answer_timestamp_seconds"), 14);
    EXPECT_EQ(of("zashchita_motor_starts_total"), 1);
    EXPECT_EQ(of("zashchita_motor_last_start_duration_seconds"), 3);
    EXPECT_EQ(of("zashchita_motor_last_start_peak_current_ratio"), 6.12);
    EXPECT_EQ(of("zashchita_motor_last_start_peak_current_amperes"), std::nullopt);
    metrics.OnBlockRead({d1, settings, 15000, 0});
    EXPECT_EQ(of("zashchita_motor_last_start_peak_current_amperes"), 6.12 * 12.5);
    metrics.OnRelayLook({d1, true}), metrics.OnReadFailed({d1, kCurrentParamsBlock, ExchangeFailure::Refused, 2});
    EXPECT_EQ(of("zashchita_relay_up"), 0);
    EXPECT_EQ(of("zashchita_relay_refusals_total", "code=\"2\","), 1);
}
