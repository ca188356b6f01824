#include "RelayMetrics.h"

#include <algorithm>

#include "exchanges/ClockOffset.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RegisterTable.h"
#include "exchanges/RelayClock.h"
#include "exchanges/StatusFlags.h"
#include "exchanges/TripCause.h"

using prometheus::BuildCounter;
using prometheus::BuildGauge;

namespace {

// The rated-current setting is kept in hundredths of an ampere.
constexpr double kRatedCurrentScale = 0.01;
constexpr double kPercent = 0.01;

prometheus::Family<prometheus::Gauge>& Gauges(prometheus::Registry& r, const char* name, const char* help)
{
    return BuildGauge().Name(name).Help(help).Register(r);
}

prometheus::Family<prometheus::Counter>& Counters(prometheus::Registry& r, const char* name, const char* help)
{
    return BuildCounter().Name(name).Help(help).Register(r);
}

}  // namespace

const std::vector<ReadingMetric>& ReadingMetrics()
{
    static const std::vector<ReadingMetric> table{
        {"E2", "zashchita_phase_current_ratio", "Phase current as a fraction of the rated current.", kPercent, "A",
         "zashchita_phase_current_amperes"},
        {"E3", "zashchita_phase_current_ratio", "", kPercent, "B", "zashchita_phase_current_amperes"},
        {"E4", "zashchita_phase_current_ratio", "", kPercent, "C", "zashchita_phase_current_amperes"},
        {"E5", "zashchita_insulation_resistance_ohms", "Insulation resistance.", 1000.0, nullptr, nullptr},
        {"E6", "zashchita_current_unbalance_ratio", "Unbalance of the phase currents.", kPercent, nullptr, nullptr},
        {"E7", "zashchita_current_ripple_ratio", "Ripple of the phase currents.", kPercent, nullptr, nullptr},
        {"E8", "zashchita_thermal_impulse_ratio", "Thermal impulse (the motor's thermal state).", kPercent, nullptr,
         nullptr},
        {"E9", "zashchita_start_thermal_impulse_ratio", "Thermal impulse of the last start.", kPercent, nullptr, nullptr},
        {"E10", "zashchita_start_duration_seconds", "Duration of the last motor start.", 0.001, nullptr, nullptr},
        {"E11", "zashchita_start_current_ratio", "Current of the last start as a fraction of the rated current.",
         kPercent, nullptr, "zashchita_start_current_amperes"},
        {"E12", "zashchita_supply_voltage_volts", "Supply voltage.", 1.0, nullptr, nullptr},
        {"E0", "zashchita_operating_seconds", "Operating time of the relay.", 60.0, nullptr, nullptr},
    };
    return table;
}

MetricFamilies::MetricFamilies(prometheus::Registry& r)
    : relayUp(relays->AddFamily("zashchita_relay_up", "1 while the relay answers, 0 while it does not.",
                                prometheus::MetricType::Gauge))
    , lastAnswer(relays->AddFamily("zashchita_relay_last_answer_timestamp_seconds",
                                   "Unix time of the relay's last answer.", prometheus::MetricType::Gauge))
    , statusFlag(relays->AddFamily("zashchita_status_flag", "A bit of the relay's status word, by its flag name.",
                                   prometheus::MetricType::Gauge))
    , clockOffset(relays->AddFamily("zashchita_relay_clock_offset_seconds",
                                    "The relay's clock minus the exporter's local time, at the read.",
                                    prometheus::MetricType::Gauge))
    , ratedCurrent(relays->AddFamily("zashchita_rated_current_amperes", "The motor's rated current set in the relay.",
                                     prometheus::MetricType::Gauge))
    , requests(relays->AddFamily("zashchita_relay_requests_total", "Requests sent to the relay.",
                                 prometheus::MetricType::Counter))
    , failures(relays->AddFamily("zashchita_relay_failures_total", "Requests the relay left without a sound answer.",
                                 prometheus::MetricType::Counter))
    , trips(relays->AddFamily("zashchita_trips_total", "Event records new to the archive, by the cause they name.",
                              prometheus::MetricType::Counter))
    , tripRecent(relays->AddFamily("zashchita_trip_recent",
                                   "A trip of the last minutes, one series per event record; always 1.",
                                   prometheus::MetricType::Gauge))
    , refusals(relays->AddFamily("zashchita_relay_refusals_total", "Reads the relay answered with an exception, by its code.",
                                 prometheus::MetricType::Counter))
    , motorStarts(relays->AddFamily("zashchita_motor_starts_total", "Motor starts seen in the status word.",
                                    prometheus::MetricType::Counter))
    , startDuration(relays->AddFamily("zashchita_motor_last_start_duration_seconds",
                                      "The last start, from the motor's switch-on to its finish (or to the start's end).",
                                      prometheus::MetricType::Gauge))
    , startPeakRatio(relays->AddFamily("zashchita_motor_last_start_peak_current_ratio",
                                       "The last start's highest phase current as a fraction of the rated current.",
                                       prometheus::MetricType::Gauge))
    , startPeakAmperes(relays->AddFamily("zashchita_motor_last_start_peak_current_amperes",
                                         "The same current in amperes, from the rated-current setting.",
                                         prometheus::MetricType::Gauge))
    , lineUp(Gauges(r, "zashchita_line_up", "1 while the line is open."))
    , unasked(Counters(r, "zashchita_line_unasked_bytes_total", "Bytes that came while no request awaited an answer."))
    , spoilt(Counters(r, "zashchita_line_spoilt_replies_total", "Whole frames that were no sound answer."))
    , otherMaster(Gauges(r, "zashchita_line_other_master",
                         "1 while another master's frames are seen on the line, and for 10 s after the last: "
                         "its relays' values are withheld."))
{
    const char* ampereHelp = "The same current in amperes, from the rated-current setting.";
    for (const ReadingMetric& m : ReadingMetrics()) {
        if (!readings.count(m.name))
            readings[m.name] = relays->AddFamily(m.name, m.help, prometheus::MetricType::Gauge);
        if (m.amperesName && !readings.count(m.amperesName))
            readings[m.amperesName] = relays->AddFamily(m.amperesName, ampereHelp, prometheus::MetricType::Gauge);
    }
}

RelayMetrics::RelayMetrics(MetricFamilies& families, const prometheus::Labels& labels)
    : families_(families)
    , table_(*families.relays)
    , labels_(labels)
    , up_(Make(families.relayUp))
    , lastAnswer_(Make(families.lastAnswer))
    , requests_(Make(families.requests))
    , failures_(Make(families.failures))
    , clockOffset_(Make(families.clockOffset))
    , ratedCurrent_(Make(families.ratedCurrent))
    , startCount_(Make(families.motorStarts))
    , startDuration_(Make(families.startDuration))
    , startPeakRatio_(Make(families.startPeakRatio))
    , startPeakAmperes_(Make(families.startPeakAmperes))
{
    // Shown from the start, as the registry's series were once added; the
    // last answer's time only once there is one.
    up_.Set(0);
    requests_.Set(0);
    failures_.Set(0);
    startCount_.Set(0);
    for (const QString& cause : TripCauses())
        tripCounter(cause).Set(0);
    for (const ReadingMetric& m : ReadingMetrics()) {
        prometheus::Labels extra;
        if (m.phase)
            extra["phase"] = m.phase;
        readings_.push_back(&Make(families.readings.at(m.name), extra));
        amperes_.push_back(m.amperesName ? &Make(families.readings.at(m.amperesName), extra) : nullptr);
    }
    for (const StatusFlag& flag : StatusFlags())
        flags_.push_back(&Make(families.statusFlag, {{"flag", flag.name.toStdString()}}));
}

RelayMetrics::~RelayMetrics()
{
    for (Series* series : all_)
        table_.Remove(*series);
}

SeriesTable::Series& RelayMetrics::Make(int family, prometheus::Labels extra)
{
    prometheus::Labels labels = labels_;
    labels.insert(extra.begin(), extra.end());
    Series& series = table_.Add(family, labels);
    all_.push_back(&series);
    return series;
}

void RelayMetrics::Unmake(Series* series)
{
    all_.erase(std::remove(all_.begin(), all_.end(), series), all_.end());
    table_.Remove(*series);
}

void RelayMetrics::DropValues()
{
    for (auto* group : {&readings_, &amperes_, &flags_})
        for (Series* series : *group)
            if (series)
                series->Hide();
    clockOffset_.Hide();
    ratedCurrent_.Hide();
    ratedAmperes_.reset();
}

void RelayMetrics::Asked(bool answered)
{
    requests_.Add(1);
    if (!answered)
        failures_.Add(1);
}

void RelayMetrics::SetUp(bool up)
{
    up_.Set(up ? 1 : 0);
    if (!up) {
        DropValues();
        if (const std::optional<StartRecord> start = starts_.Break())
            applyStart(*start);
    }
}

void RelayMetrics::ApplyCurrent(const RegisterValues& values, qint64 nowMs)
{
    lastAnswer_.Set(double(nowMs) / 1000.0);
    const std::vector<ReadingMetric>& table = ReadingMetrics();
    // The registers of the table's keys, looked up once.
    static const std::vector<int> registers = [&table] {
        std::vector<int> regs;
        for (const ReadingMetric& m : table)
            regs.push_back(RegisterOf(QString::fromLatin1(m.key)));
        return regs;
    }();
    for (size_t k = 0; k < table.size(); ++k) {
        const int reg = registers[k];
        if (!values.Carries(reg))
            continue;
        const double value = values.At(reg) * table[k].scale;
        readings_[k]->Set(value);
        if (ratedAmperes_ && amperes_[k])
            amperes_[k]->Set(value * *ratedAmperes_);
    }
    if (values.Carries(kStatusRegister)) {
        const uint16_t status = values.At(kStatusRegister);
        const std::vector<StatusFlag>& flags = StatusFlags();
        for (size_t k = 0; k < flags.size(); ++k)
            flags_[k]->Set((status >> flags[k].bit) & 1u);
    }
    if (const std::optional<StartRecord> start = starts_.Add(values, nowMs))
        applyStart(*start);
    if (values.Carries(kClockFirstRegister) && values.Carries(kClockFirstRegister + 4)) {
        const RelayClockFields f = ClockFieldsAt(kClockFirstRegister, [&](int reg) { return values.At(reg); });
        if (const std::optional<qint64> offset = ClockOffsetMs(f, nowMs))
            clockOffset_.Set(double(*offset) / 1000.0);
        else
            clockOffset_.Hide();
    }
}

void RelayMetrics::ApplySettings(const RegisterValues& values)
{
    const int reg = RegisterOf(QStringLiteral("SE0"));
    if (!values.Carries(reg))
        return;
    ratedAmperes_ = values.At(reg) * kRatedCurrentScale;
    ratedCurrent_.Set(*ratedAmperes_);
    if (startPeakRatioValue_)
        startPeakAmperes_.Set(*startPeakRatioValue_ * *ratedAmperes_);
}

LineMetrics::LineMetrics(MetricFamilies& families, const QString& line)
    : families_(families)
    , up_(families.lineUp.Add({{"line", line.toStdString()}}))
    , unasked_(families.unasked.Add({{"line", line.toStdString()}}))
    , spoilt_(families.spoilt.Add({{"line", line.toStdString()}}))
    , otherMaster_(families.otherMaster.Add({{"line", line.toStdString()}}))
{
}

LineMetrics::~LineMetrics()
{
    families_.lineUp.Remove(&up_);
    families_.unasked.Remove(&unasked_);
    families_.spoilt.Remove(&spoilt_);
    families_.otherMaster.Remove(&otherMaster_);
}
