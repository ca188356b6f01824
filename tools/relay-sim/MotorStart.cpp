#include "MotorStart.h"

#include "LineTime.h"

namespace relaysim {

namespace {

constexpr int64_t kMsNs = 1'000'000;

// One phase's current `ms` after the switch-on: up to the peak, held, then
// falling (as a square) to the running current by the finish.
uint16_t PhaseCurrent(uint16_t peak, uint16_t running, int64_t ms)
{
    using namespace motorstart;
    if (ms < kRiseMs)
        return uint16_t(peak * ms / kRiseMs);
    if (ms < kRiseMs + kPeakHoldMs)
        return peak;
    const double left = double(kFinishMs - ms) / double(kFinishMs - kRiseMs - kPeakHoldMs);
    return uint16_t(running + (peak - running) * left * left);
}

} // namespace

void MotorStart::apply(RegisterBank& bank, int64_t nowNs)
{
    using namespace motorstart;
    if (atNs_ < 0 || finished_)
        return;
    if (!thermalKnown_) {
        thermalBefore_ = bank.get(reg::ThermalImpulse);
        thermalKnown_ = true;
    }
    const int64_t ms = (nowNs - atNs_) / kMsNs;
    if (ms < 0) {
        bank.play(reg::Status, kMotorOff);
        for (int r : {reg::PhaseA, reg::PhaseB, reg::PhaseC})
            bank.play(r, 0);
        bank.play(reg::ThermalImpulse, thermalBefore_);
        return;
    }
    if (ms >= kFinishMs) {
        // The relay's figures of the start, and its running state from now on.
        finished_ = true;
        bank.preset(reg::Status, kMotorOn | kStartFinished);
        bank.preset(reg::ThermalImpulse, uint16_t(thermalBefore_ + kThermalRise));
        bank.preset(reg::StartImpulse, kRelayStartImpulse);
        bank.preset(reg::StartTime, uint16_t(kFinishMs));
        bank.preset(reg::StartCurrent, kPeakA);
        for (int r : {reg::PhaseA, reg::PhaseB, reg::PhaseC})
            bank.play(r, bank.base(r));
        return;
    }
    bank.play(reg::Status, kMotorOn);
    const uint16_t peaks[] = {kPeakA, kPeakB, kPeakC};
    const int phases[] = {reg::PhaseA, reg::PhaseB, reg::PhaseC};
    for (int p = 0; p < 3; ++p)
        bank.play(phases[p], PhaseCurrent(peaks[p], bank.base(phases[p]), ms));
    bank.play(reg::ThermalImpulse, uint16_t(thermalBefore_ + kThermalRise * ms / kFinishMs));
}

} // namespace relaysim
