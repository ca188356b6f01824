#include "RelayMetrics.h"

#include "StatusFlags.h"
#include "exchanges/CurrentParams.h"
#include "exchanges/RegisterTable.h"
#include "exchanges/RelayClock.h"

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
    : relayUp(Gauges(r, "zashchita_relay_up", "1 while the relay answers, 0 while it does not."))
    , lastAnswer(Gauges(r, "zashchita_relay_last_answer_timestamp_seconds", "Unix time of the relay's last answer."))
    , statusFlag(Gauges(r, "zashchita_status_flag", "A bit of the relay's status word, by its flag name."))
    , clockOffset(Gauges(r, "zashchita_relay_clock_offset_seconds",
                         "The relay's clock minus the exporter's local time, at the read."))
    , ratedCurrent(Gauges(r, "zashchita_rated_current_amperes", "The motor's rated current set in the relay."))
    , requests(Counters(r, "zashchita_relay_requests_total", "Requests sent to the relay."))
    , failures(Counters(r, "zashchita_relay_failures_total", "Requests the relay left without a sound answer."))
    , trips(Counters(r, "zashchita_trips_total", "New event records seen, by the cause they name."))
    , lineUp(Gauges(r, "zashchita_line_up", "1 while the line is open."))
    , unasked(Counters(r, "zashchita_line_unasked_bytes_total", "Bytes that came while no request awaited an answer."))
    , spoilt(Counters(r, "zashchita_line_spoilt_replies_total", "Whole frames that were no sound answer."))
{
    const char* ampereHelp = "The same current in amperes, from the rated-current setting.";
    for (const ReadingMetric& m : ReadingMetrics()) {
        if (!readings.count(m.name))
            readings[m.name] = &Gauges(r, m.name, m.help);
        if (m.amperesName && !readings.count(m.amperesName))
            readings[m.amperesName] = &Gauges(r, m.amperesName, ampereHelp);
    }
}

RelayMetrics::RelayMetrics(MetricFamilies& families, const prometheus::Labels& labels)
    : families_(families)
    , labels_(labels)
    , up_(families.relayUp.Add(labels))
    , lastAnswer_(families.lastAnswer.Add(labels))
    , requests_(families.requests.Add(labels))
    , failures_(families.failures.Add(labels))
{
    for (const ReadingMetric& m : ReadingMetrics()) {
        prometheus::Labels extra;
        if (m.phase)
            extra["phase"] = m.phase;
        readings_.push_back(MakeSlot(*families.readings.at(m.name), extra));
        amperes_.push_back(m.amperesName ? MakeSlot(*families.readings.at(m.amperesName), extra) : Slot{});
    }
    for (const StatusFlag& flag : StatusFlags())
        flags_.push_back(MakeSlot(families.statusFlag, {{"flag", flag.name.toStdString()}}));
    clockOffset_ = MakeSlot(families.clockOffset);
    ratedCurrent_ = MakeSlot(families.ratedCurrent);
}

RelayMetrics::~RelayMetrics()
{
    DropValues();
    families_.relayUp.Remove(&up_);
    families_.lastAnswer.Remove(&lastAnswer_);
    families_.requests.Remove(&requests_);
    families_.failures.Remove(&failures_);
    for (auto& [cause, counter] : trips_)
        families_.trips.Remove(counter);
}

RelayMetrics::Slot RelayMetrics::MakeSlot(prometheus::Family<prometheus::Gauge>& family, prometheus::Labels extra) const
{
    Slot slot;
    slot.family = &family;
    slot.labels = labels_;
    slot.labels.insert(extra.begin(), extra.end());
    return slot;
}

void RelayMetrics::Set(Slot& slot, double value)
{
    if (!slot.family)
        return;
    if (!slot.gauge)
        slot.gauge = &slot.family->Add(slot.labels);
    slot.gauge->Set(value);
}

void RelayMetrics::Drop(Slot& slot)
{
    if (slot.gauge)
        slot.family->Remove(slot.gauge);
    slot.gauge = nullptr;
}

void RelayMetrics::DropValues()
{
    for (auto* group : {&readings_, &amperes_, &flags_})
        for (Slot& slot : *group)
            Drop(slot);
    Drop(clockOffset_);
    Drop(ratedCurrent_);
    ratedAmperes_.reset();
}

void RelayMetrics::Asked(bool answered)
{
    requests_.Increment();
    if (!answered)
        failures_.Increment();
}

void RelayMetrics::SetUp(bool up)
{
    up_.Set(up ? 1 : 0);
    if (!up)
        DropValues();
}

void RelayMetrics::ApplyCurrent(const RegisterValues& values, const QDateTime& now)
{
    lastAnswer_.Set(double(now.toMSecsSinceEpoch()) / 1000.0);
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
        Set(readings_[k], value);
        if (ratedAmperes_)
            Set(amperes_[k], value * *ratedAmperes_);
    }
    if (values.Carries(kStatusRegister)) {
        const uint16_t status = values.At(kStatusRegister);
        const std::vector<StatusFlag>& flags = StatusFlags();
        for (size_t k = 0; k < flags.size(); ++k)
            Set(flags_[k], (status >> flags[k].bit) & 1u);
    }
    if (values.Carries(kClockFirstRegister) && values.Carries(kClockFirstRegister + 4)) {
        const RelayClockFields f = ClockFieldsAt(kClockFirstRegister, [&](int reg) { return values.At(reg); });
        if (InRange(f)) {
            // The relay keeps no year: the moment nearest to now among this
            // year, the last and the next, so a New Year's Eve drift stays small.
            QDateTime relay = RelayClockMoment(now.date(), f);
            qint64 offset = now.msecsTo(relay);
            for (int years : {-1, 1}) {
                const QDateTime other = relay.addYears(years);
                if (std::abs(now.msecsTo(other)) < std::abs(offset))
                    offset = now.msecsTo(other);
            }
            Set(clockOffset_, double(offset) / 1000.0);
        } else {
            Drop(clockOffset_);
        }
    }
}

void RelayMetrics::ApplySettings(const RegisterValues& values)
{
    const int reg = RegisterOf(QStringLiteral("SE0"));
    if (!values.Carries(reg))
        return;
    ratedAmperes_ = values.At(reg) * kRatedCurrentScale;
    Set(ratedCurrent_, *ratedAmperes_);
}

void RelayMetrics::CountTrip(const QString& cause, double count)
{
    prometheus::Counter*& counter = trips_[cause];
    if (!counter) {
        prometheus::Labels labels = labels_;
        labels["cause"] = cause.toStdString();
        counter = &families_.trips.Add(labels);
    }
    counter->Increment(count);
}

LineMetrics::LineMetrics(MetricFamilies& families, const QString& line)
    : up_(families.lineUp.Add({{"line", line.toStdString()}}))
    , unasked_(families.unasked.Add({{"line", line.toStdString()}}))
    , spoilt_(families.spoilt.Add({{"line", line.toStdString()}}))
{
}
