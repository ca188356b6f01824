#include "RegisterBank.h"

#include <algorithm>
#include <iterator>

namespace relaysim {

uint64_t Rng::next()
{
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Rng::uniform()
{
    return double(next() >> 11) * (1.0 / 9007199254740992.0); // 53 bits
}

int Rng::between(int lo, int hi)
{
    return lo + int(next() % uint64_t(hi - lo + 1));
}

namespace {

// Live values that wander: register, how far from the start they may go,
// and the size of one step.
struct Wander {
    int r;
    int range;
    int step;
};
const Wander kWander[] = {
    {reg::PhaseA, 4, 1},
    {reg::PhaseB, 4, 1},
    {reg::PhaseC, 4, 1},
    {reg::Insulation, 40, 5},
    {reg::Unbalance, 1, 1},
    {reg::Ripple, 1, 1},
    {reg::ThermalImpulse, 3, 1},
    {reg::SupplyVoltage, 6, 1},
};

// Setpoints and configuration, registers 81..123 (80 is the slave address).
constexpr uint16_t kSettings[] = {
    600,    // 81  cut-off current, %
    50,     // 82  cut-off time, ms
    500,    // 83  insulation trip level, kOhm
    1000,   // 84  insulation trip time, ms
    20,     // 85  unbalance trip level, %
    3000,   // 86  unbalance trip time, ms
    15,     // 87  ripple trip level, %
    2000,   // 88  ripple trip time, ms
    200,    // 89  ripple measuring period, ms
    30,     // 90  no-load trip level
    5000,   // 91  no-load trip time, ms
    120,    // 92  overload trip level, %
    10000,  // 93  restart delay, ms
    10,     // 94  current level that blocks the protection, %
    100,    // 95  reference thermal impulse, %
    0x405B, // 96  trip mask: cut-off, unbalance, overload, heavy start, insulation, prolonged start
    0x2184, // 97  signal mask: ripple, no-load, discrete input, switch-on delay
    1000,   // 98  insulation calibration coefficient
    1024,   // 99  phase A calibration coefficient
    1018,   // 100 phase B calibration coefficient
    1031,   // 101 phase C calibration coefficient
    995,    // 102 voltage calibration coefficient
    40,     // 103 integrator coefficient during start
    10,     // 104 motor on/off indication threshold
    8,      // 105 cooling coefficient
    25,     // 106 integrator coefficient while running
    0x41FF, // 107 event record mask: bits 0..8 and prolonged start
    4250,   // 108 rated current, 0.01 A (42.50 A)
    12,     // 109 insulation offset
    30,     // 110 insulation correction time, min
    5,      // 111 display backlight time, min
    2,      // 112 submenu return time, min
    1,      // 113 protection blocking: allowed
    0,      // 114 trip relay initial state
    1,      // 115 signal relay initial state
    10,     // 116 setpoint adjustment step
    8000,   // 117 overload trip time, ms
    6000,   // 118 maximum start time, ms
    2000,   // 119 upper calibration resistance
    200,    // 120 lower calibration resistance
    4,      // 121 nominal current range: 64..32 A
    1230,   // 122 system password
    0,      // 123 not used
};
static_assert(std::size(kSettings) == reg::SettingsLast - reg::SettingsFirst);

// Four stored events: month, day, hour, minute, second, status, currents
// A B C, insulation, unbalance, ripple, thermal impulse, start impulse,
// supply voltage, start current, start time. Their moments are chosen to
// try a master's date handling; no two of the 68 registers hold the same
// value, and none of the eleven values of a record equals a setting or a
// value a live register can wander to, so a test can tell where a shown
// number came from.
constexpr uint16_t kRecords[reg::RecordCount][reg::RecordLength] = {
    // Overload trip, motor off. 31 December 23:59:58 is later in the year
    // than any moment but the last two seconds of it, so a master that takes
    // the year from its own clock puts the record in the previous year.
    {12, 31, 23, 59, 58, 0x0208, 131, 128, 137, 1850, 7, 11, 103, 39, 376, 591, 4210},
    // Prolonged heavy start, motor off. 30 February: every field in range,
    // but the date exists in no year.
    {2, 30, 8, 15, 42, 0x4210, 410, 402, 415, 2045, 22, 9, 85, 84, 372, 620, 6005},
    // Low insulation with the protection blocked, motor off. Hour 24 is out
    // of range (14 October, 24:17:36).
    {10, 14, 24, 17, 36, 0x1240, 104, 107, 101, 430, 13, 16, 55, 43, 383, 585, 3820},
    // Cut-off at the end of a long start, motor off: an ordinary moment
    // (19 January 06:25:53) with the status bits at both ends set.
    {1, 19, 6, 25, 53, 0x8201, 812, 790, 805, 1780, 18, 21, 64, 41, 379, 604, 3900},
};

bool IsLeap(int year)
{
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

} // namespace

RegisterBank::RegisterBank(int slave, const std::tm& localNow)
{
    regs_[reg::PhaseA] = 92;
    regs_[reg::PhaseB] = 90;
    regs_[reg::PhaseC] = 94;
    regs_[reg::Insulation] = 1950;
    regs_[reg::Unbalance] = 4;
    regs_[reg::Ripple] = 2;
    regs_[reg::ThermalImpulse] = 47;
    regs_[reg::StartImpulse] = 38;
    regs_[reg::StartTime] = 4150;
    regs_[reg::StartCurrent] = 595;
    regs_[reg::SupplyVoltage] = 392;
    regs_[reg::Status] = 0x0C00; // motor on, start finished

    regs_[reg::Month] = uint16_t(localNow.tm_mon + 1);
    regs_[reg::Day] = uint16_t(localNow.tm_mday);
    regs_[reg::Hour] = uint16_t(localNow.tm_hour);
    regs_[reg::Minute] = uint16_t(localNow.tm_min);
    regs_[reg::Second] = uint16_t(std::min(localNow.tm_sec, 59)); // no leap second on the relay
    year_ = localNow.tm_year + 1900;

    regs_[reg::OperatingMinutes] = 12345;

    regs_[reg::SlaveAddress] = uint16_t(slave);
    std::copy(std::begin(kSettings), std::end(kSettings), regs_.begin() + reg::SettingsFirst + 1);

    for (int n = 0; n < reg::RecordCount; ++n)
        std::copy(std::begin(kRecords[n]), std::end(kRecords[n]),
                  regs_.begin() + reg::RecordsFirst + n * reg::RecordLength);

    base_ = regs_;
}

void RegisterBank::preset(int r, uint16_t value)
{
    regs_[r] = value;
    base_[r] = value;
    offset_[r] = 0;
}

bool RegisterBank::isWritable(int r)
{
    return (r >= reg::Month && r <= reg::Second) || (r >= reg::SettingsFirst && r <= reg::SettingsLast);
}

RegisterBank::WriteResult RegisterBank::write(int r, uint16_t value)
{
    if (r < 0 || r >= reg::Count || !isWritable(r))
        return WriteResult::IllegalAddress;

    // Each clock field is checked on its own: the master sets the clock one
    // field at a time, so 31 February may stand for a moment between writes.
    switch (r) {
    case reg::Month:
        if (value < 1 || value > 12)
            return WriteResult::IllegalValue;
        break;
    case reg::Day:
        if (value < 1 || value > 31)
            return WriteResult::IllegalValue;
        break;
    case reg::Hour:
        if (value > 23)
            return WriteResult::IllegalValue;
        break;
    case reg::Minute:
    case reg::Second:
        if (value > 59)
            return WriteResult::IllegalValue;
        break;
    default:
        break;
    }
    regs_[r] = value;
    base_[r] = value;
    return WriteResult::Stored;
}

int RegisterBank::daysInMonth(int month) const
{
    switch (month) {
    case 2:
        return IsLeap(year_) ? 29 : 28;
    case 4:
    case 6:
    case 9:
    case 11:
        return 30;
    default:
        return 31; // also for a month register out of range
    }
}

void RegisterBank::tickSecond()
{
    // Carry as a clock chip does: a field at or past its end (a preset may
    // put it there) rolls over into the next one.
    if (++regs_[reg::Second] >= 60) {
        regs_[reg::Second] = 0;
        if (++regs_[reg::Minute] >= 60) {
            regs_[reg::Minute] = 0;
            if (++regs_[reg::Hour] >= 24) {
                regs_[reg::Hour] = 0;
                if (++regs_[reg::Day] > daysInMonth(regs_[reg::Month])) {
                    regs_[reg::Day] = 1;
                    if (++regs_[reg::Month] > 12) {
                        regs_[reg::Month] = 1;
                        ++year_;
                    }
                }
            }
        }
    }

    if (--secondsToMinute_ == 0) {
        secondsToMinute_ = 60;
        ++regs_[reg::OperatingMinutes];
    }
}

void RegisterBank::wander(Rng& rng)
{
    for (const Wander& w : kWander) {
        int offset = offset_[w.r] + rng.between(-1, 1) * w.step;
        offset = std::clamp(offset, -w.range, w.range);
        offset_[w.r] = int16_t(offset);
        regs_[w.r] = uint16_t(std::clamp(int(base_[w.r]) + offset, 0, 65535));
    }
}

} // namespace relaysim
