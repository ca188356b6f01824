// The exporter's outputs on one bus, fed events without a line: each
// output's faults counted; a trip counted and shown once, the archive
// writable or not, across restarts; the records of a first look never.
#include <gtest/gtest.h>

#include <QDir>
#include <QTemporaryDir>

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "ArchiveOutput.h"
#include "LinePoller.h"
#include "LogOutput.h"
#include "PollBus.h"
#include "PrometheusOutput.h"
#include "ZashchitaVersion.h"
#include "exchanges/CurrentParams.h"
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
        {"the first look: four empty slots", [&] { for (int slot = 1; slot <= 4; ++slot) bus.OnRecordSeen({d1, slot, empty, 0}); },
         0, 0, 0, 0, 0},
        {"a record the archive cannot write: counted all the same", seen, 1, 1, 0, 0, 1},
        {"seen again, still not written", seen, 1, 1, 0, 0, 1},
        {"the folder gone: written", [&] { ASSERT_TRUE(QDir(path).removeRecursively()); seen(); }, 1, 1, 0, 1, 0},
        {"seen again: nothing new", seen, 1, 1, 0, 1, 0},
        {"a block read, one output throwing", [&] { bus.OnBlockRead({d1, current, 1796728505000, 0}); }, 1, 1, 1, 1, 0},
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

// A relay's records through the archive and the metrics, over a restart: the
// records of the first look are history, every later one a trip counted and
// shown once, the counters back at their values after a restart, the
// recent trips bounded and gone after their time.
TEST(ExporterOutputs, EveryNewRecordIsOneTripAndTheFirstLookNone)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("records.jsonl"));
    qint64 now = 1796728505000;
    struct Exporter {
        TripArchive archive;
        PollBus bus;
        PrometheusOutput metrics;
        ArchiveOutput archived{archive, bus};
        Exporter(const QString& path, qint64& now) : archive(path), metrics([&now] { return now; })
        {
            archive.Load();
            bus.Subscribe(metrics);
            bus.Subscribe(archived);
        }
    };
    auto exporter = std::make_unique<Exporter>(path, now);
    const LineConfig mill{QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}, {QStringLiteral("D2"), 2, {}}}};
    exporter->bus.OnLineAdded(mill);
    const RelayRef d1{mill.name, QStringLiteral("D1"), 1}, d2{mill.name, QStringLiteral("D2"), 2};
    // Record n: an overload trip at second n of the relay's clock.
    const auto record = [](int n) {
        return std::vector<uint16_t>{1, 19, 6, 25, uint16_t(n), 0x0208, 812, 790, 805, 1780, 18, 21, 64, 41, 379, 604, 3900};
    };
    // The relay's slots after its trips up to `last`, the latest in slot 1.
    const auto read = [&](const RelayRef& relay, int last) {
        for (int slot = 1; slot <= 4; ++slot)
            exporter->bus.OnRecordSeen({relay, slot, record(last + 1 - slot), now});
    };
    const struct {
        const char* what;
        std::function<void()> act;
        double tripsD1, tripsD2;
        int recent, archived, history;
    } steps[] = {
        {"the first look at D1: four records of history", [&] { read(d1, 4); }, 0, 0, 0, 4, 4},
        {"read again", [&] { read(d1, 4); }, 0, 0, 0, 4, 4},
        {"a trip", [&] { read(d1, 5); }, 1, 0, 1, 5, 4},
        {"read again, and once more from another slot", [&] { read(d1, 5); exporter->bus.OnRecordSeen({d1, 4, record(5), now}); },
         1, 0, 1, 5, 4},
        {"a restart", [&] { exporter = std::make_unique<Exporter>(path, now); exporter->bus.OnLineAdded(mill); }, 1, 0, 1, 5, 4},
        {"read after the restart", [&] { read(d1, 5); }, 1, 0, 1, 5, 4},
        {"two trips while the exporter was stopped", [&] { read(d1, 7); }, 3, 0, 3, 7, 4},
        {"D2's first look, after the restart", [&] { read(d2, 9); }, 3, 0, 3, 11, 8},
        {"ten trips of D2 at once: the recent eight shown", [&] { for (int n = 10; n <= 19; ++n) read(d2, n); }, 3, 10, 11, 21, 8},
        {"ten minutes on", [&] { now += PrometheusOutput::kRecentTripMs; exporter->bus.OnLineState({mill, LineState::Kind::Open}); },
         3, 10, 0, 21, 8},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QByteArray text = QByteArray::fromStdString(exporter->metrics.Render());
        EXPECT_EQ(text.count("zashchita_trips_total{"), 2 * TripCauses().size()) << "every cause from 0";
        EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"1\",cause=\"overload\",line=\"mill\",relay=\"D1\"}"), step.tripsD1);
        EXPECT_EQ(Sample(text, "zashchita_trips_total{address=\"2\",cause=\"overload\",line=\"mill\",relay=\"D2\"}"), step.tripsD2);
        EXPECT_EQ(text.count("zashchita_trip_recent{"), step.recent);
        const QList<QByteArray> lines = SimLogLines(path);
        EXPECT_EQ(lines.size(), step.archived);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(), [](const QByteArray& l) { return l.contains("\"history\":true"); }),
                  step.history);
    }
}

// What the log says, in the system's words: the device, the errno's name and
// text, what would help; never an empty reason; a trip archived; a relay
// that only refuses; a line back.
TEST(ExporterOutputs, TheLogSpeaksLinuxAndTellsWhatHappened)
{
    std::FILE* file = std::tmpfile();
    const Log log(file);
    LogOutput logOutput(log);
    PollBus bus;
    bus.Subscribe(logOutput);
    const auto said = [file] {
        std::vector<char> text(size_t(std::ftell(file)));
        std::rewind(file);
        const size_t got = std::fread(text.data(), 1, text.size(), file);
        std::rewind(file);
        EXPECT_EQ(ftruncate(fileno(file), 0), 0);
        return QByteArray(text.data(), qsizetype(got));
    };
    const auto line = [&](const char* name, const char* port, std::function<void(RelaySession&)> open = {}) {
        LineConfig config{QString::fromLatin1(name), QString::fromLatin1(port), 0, 200, {{QStringLiteral("K1"), 1, {}}}};
        auto poller = std::make_unique<LinePoller>(config, bus, LineHooks{std::move(open), {}, {}});
        poller->Start();
        return poller;
    };
    std::unique_ptr<LinePoller> poller;
    const RelayRef k1{QStringLiteral("compressor"), QStringLiteral("K1"), 1};
    const std::vector<uint16_t> record{1, 19, 6, 25, 53, 0x0208, 812, 790, 805, 1780, 18, 21, 64, 41, 379, 604, 3900};
    const RegisterValues current{kCurrentParamsBlock, std::vector<uint16_t>(29), 0, 0};
    const struct {
        const char* what;
        std::function<void()> act;
        const char* log;
    } steps[] = {
        {"no right to it", [&] { poller = line("pumps", "/dev/ttyNONE9", [](RelaySession&) { throw EComPort(ceOpen, EACCES); }); },
         "line \"pumps\": cannot open /dev/ttyNONE9: EACCES (Permission denied); add the service's user to the "
         "group dialout; trying again every 5 s\n"},
        {"no serial line", [&] { poller = line("boiler", "/dev/null"); },
         "line \"boiler\": cannot open /dev/null: ENOTTY (Inappropriate ioctl for device); it is no serial line; "
         "trying again every 5 s\n"},
        {"no such device", [&] { poller = line("compressor", "/dev/ttyNONE9"); },
         "line \"compressor\": cannot open /dev/ttyNONE9: ENOENT (No such file or directory); trying again every 5 s\n"},
        {"open at last", [&] { poller = line("compressor", "/dev/ttyNONE9", [](RelaySession&) {}); },
         "line \"compressor\": /dev/ttyNONE9 open again\n"},
        {"lost without a reason given", [&] { emit poller->Session().lineLost(EIO, QString()); },
         "line \"compressor\" lost: EIO (Input/output error); trying again every 5 s\n"},
        {"a trip", [&] { bus.OnRecordArchived({k1, 1, QStringLiteral("overload"), record, 0, false, true}); },
         "line \"compressor\": relay K1 (address 1) tripped: overload (record 1, 01-19 06:25:53 by the relay's clock), archived\n"},
        {"a trip not written yet", [&] { bus.OnRecordArchived({k1, 2, QStringLiteral("overload"), record, 0, false, false}); },
         "line \"compressor\": relay K1 (address 1) tripped: overload (record 2, 01-19 06:25:53 by the relay's clock), "
         "held in memory until the archive can be written\n"},
        {"history is no trip", [&] { bus.OnRecordArchived({k1, 3, QStringLiteral("overload"), record, 0, true, true}); }, ""},
        {"refusals, told once", [&] { for (int k = 0; k < 3; ++k) bus.OnReadFailed({k1, kCurrentParamsBlock, ExchangeFailure::Refused, 2}); },
         "line \"compressor\": relay K1 (address 1) refuses to be read (exception 2 for registers 50..78)\n"},
        {"values, then refusals again", [&] { bus.OnBlockRead({k1, current, 0, 0}); bus.OnReadFailed({k1, kCurrentParamsBlock, ExchangeFailure::Refused, 4}); },
         "line \"compressor\": relay K1 (address 1) refuses to be read (exception 4 for registers 50..78)\n"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(said().toStdString(), QByteArray("zashchita-exporter: ").repeated(*step.log ? 1 : 0).toStdString() + step.log);
    }
    std::fclose(file);
}

// A relay's series as a Prometheus user expects them: no answer's time before
// an answer, a relay that only refuses not up and its refusals counted, its
// motor starts from the window's start detector.
TEST(ExporterOutputs, ARelaysSeriesSayWhatHappened)
{
    PrometheusOutput metrics;
    const LineConfig mill{QStringLiteral("mill"), {}, 0, 200, {{QStringLiteral("D1"), 1, {}}}};
    metrics.OnLineAdded(mill);
    const RelayRef d1{mill.name, QStringLiteral("D1"), 1};
    constexpr qint64 t0 = 1796728505000;
    const auto current = [&](qint64 ms, uint16_t status, uint16_t phaseA) {
        RegisterValues v{kCurrentParamsBlock, std::vector<uint16_t>(29), 0, 0};
        v.values[size_t(kStatusRegister - 50)] = status;
        v.values[0] = phaseA;
        metrics.OnBlockRead({d1, v, ms, 0});
    };
    constexpr uint16_t kOff = 1u << 9, kOn = 1u << 10, kFinished = 1u << 11;
    const QByteArray of = "{address=\"1\",line=\"mill\",relay=\"D1\"}";
    const struct {
        const char* what;
        std::function<void()> act;
        std::vector<std::pair<QByteArray, std::optional<double>>> samples;
    } steps[] = {
        {"added", [] {}, {{"zashchita_relay_up" + of, 0}, {"zashchita_relay_last_answer_timestamp_seconds" + of, std::nullopt},
                          {"zashchita_motor_starts_total" + of, 0}, {"zashchita_motor_last_start_duration_seconds" + of, std::nullopt}}},
        {"it answers, with refusals only", [&] {
             metrics.OnRelayLook({d1, true});
             for (int k = 0; k < 3; ++k)
                 metrics.OnReadFailed({d1, kCurrentParamsBlock, ExchangeFailure::Refused, 2});
         }, {{"zashchita_relay_up" + of, 0}, {"zashchita_relay_refusals_total{address=\"1\",code=\"2\",line=\"mill\",relay=\"D1\"}", 3},
             {"zashchita_relay_last_answer_timestamp_seconds" + of, std::nullopt}}},
        {"values", [&] { current(t0, kOff, 0); }, {{"zashchita_relay_up" + of, 1},
                                                   {"zashchita_relay_last_answer_timestamp_seconds" + of, t0 / 1000.0}}},
        {"a motor start under way", [&] { current(t0 + 1000, kOn, 612); current(t0 + 2000, kOn, 598); },
         {{"zashchita_motor_starts_total" + of, 0}, {"zashchita_motor_last_start_peak_current_ratio" + of, std::nullopt}}},
        {"its finish", [&] { current(t0 + 4000, kOn | kFinished, 105); },
         {{"zashchita_motor_starts_total" + of, 1}, {"zashchita_motor_last_start_duration_seconds" + of, 3.0},
          {"zashchita_motor_last_start_peak_current_ratio" + of, 6.12},
          {"zashchita_motor_last_start_peak_current_amperes" + of, std::nullopt}}},
        {"the rated current", [&] {
             RegisterValues s{kSettingsBlock, std::vector<uint16_t>(size_t(kSettingsBlock.count)), 0, 0};
             s.values[size_t(RegisterOf(QStringLiteral("SE0")) - kSettingsBlock.first)] = 1250;
             metrics.OnBlockRead({d1, s, t0 + 5000, 0});
         }, {{"zashchita_motor_last_start_peak_current_amperes" + of, 6.12 * 12.5}}},
        {"another start, cut short by the relay going", [&] { current(t0 + 9000, kOff, 0); current(t0 + 10000, kOn, 580);
                                                             metrics.OnRelayLook({d1, false}); },
         {{"zashchita_motor_starts_total" + of, 2}, {"zashchita_motor_last_start_duration_seconds" + of, 0.0},
          {"zashchita_relay_up" + of, 0}}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        const QByteArray text = QByteArray::fromStdString(metrics.Render());
        for (const auto& [series, value] : step.samples) {
            const std::optional<double> got = Sample(text, series);
            EXPECT_EQ(got.has_value(), value.has_value()) << series.constData();
            if (got && value)
                EXPECT_NEAR(*got, *value, 1e-9) << series.constData();
        }
    }
}
