// A motor start the simulated relay plays (--motor-start SECONDS): the motor
// stands switched off until then, is switched on, its phase currents rise to
// several times the rated current, stay there a little and fall back to the
// running current while the thermal impulse climbs; then "Пуск закончен"
// comes and the relay stores its start figures. The status bits follow in
// the relay's order: "Двигатель отключен", "Двигатель включен",
// "Двигатель включен" with "Пуск закончен".
#pragma once

#include <cstdint>

#include "RegisterBank.h"

namespace relaysim {

// What the start plays; the tests compare a start record with these.
namespace motorstart {
constexpr uint16_t kPeakA = 612;           // % of the rated current
constexpr uint16_t kPeakB = 598;
constexpr uint16_t kPeakC = 605;
constexpr int64_t kRiseMs = 150;           // from switch-on to the peak
constexpr int64_t kPeakHoldMs = 600;       // the peak stands this long
constexpr int64_t kFinishMs = 3000;        // "Пуск закончен" after the switch-on
constexpr uint16_t kThermalRise = 18;      // the thermal impulse climbs this much, %
constexpr uint16_t kRelayStartImpulse = 21;   // the relay's start thermal impulse, %
constexpr uint16_t kMotorOff = 0x0200;
constexpr uint16_t kMotorOn = 0x0400;
constexpr uint16_t kStartFinished = 0x0800;
} // namespace motorstart

class MotorStart {
public:
    // atNs: the switch-on on the monotonic clock; -1: no start is played.
    void schedule(int64_t atNs) { atNs_ = atNs; }

    // Puts the registers as the start has them at `nowNs`.
    void apply(RegisterBank& bank, int64_t nowNs);

private:
    int64_t atNs_ = -1;
    bool finished_ = false;
    uint16_t thermalBefore_ = 0;
    bool thermalKnown_ = false;
};

} // namespace relaysim
