// The relay's 256 holding registers: what a running motor's relay would hold,
// the ticking clock, the operating-minutes counter and the slow wander of the
// live measurements.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>

#include "exchanges/CurrentParams.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"

namespace relaysim {

// SplitMix64: small, fast and the same sequence on every platform, so a run
// with a given --seed repeats exactly.
class Rng {
public:
    explicit Rng(uint64_t start) : state_(start) {}
    uint64_t next();
    double uniform();                  // [0, 1)
    int between(int lo, int hi);       // lo..hi inclusive
    bool chance(double rate) { return rate > 0 && uniform() < rate; }

private:
    uint64_t state_;
};

// Where the relay keeps what, from the register map the window and the
// companion read it by (exchanges/RegisterTable).
namespace reg {
inline const int PhaseA = RegisterOf(QStringLiteral("E2"));
inline const int PhaseB = RegisterOf(QStringLiteral("E3"));
inline const int PhaseC = RegisterOf(QStringLiteral("E4"));
inline const int Insulation = RegisterOf(QStringLiteral("E5"));
inline const int Unbalance = RegisterOf(QStringLiteral("E6"));
inline const int Ripple = RegisterOf(QStringLiteral("E7"));
inline const int ThermalImpulse = RegisterOf(QStringLiteral("E8"));
inline const int StartImpulse = RegisterOf(QStringLiteral("E9"));
inline const int StartTime = RegisterOf(QStringLiteral("E10"));
inline const int StartCurrent = RegisterOf(QStringLiteral("E11"));
inline const int SupplyVoltage = RegisterOf(QStringLiteral("E12"));
inline const int OperatingMinutes = RegisterOf(QStringLiteral("E0"));
constexpr int Status = kStatusRegister;
constexpr int Month = kClockFirstRegister;   // then day, hour, minute, second
constexpr int Day = Month + 1;
constexpr int Hour = Month + 2;
constexpr int Minute = Month + 3;
constexpr int Second = Month + 4;
constexpr int SettingsFirst = kSettingsBlock.first;
constexpr int SlaveAddress = kRelayAddressRegister;
constexpr int SettingsLast = kSettingsBlock.first + kSettingsBlock.count - 1;
constexpr int RecordsFirst = kFirstRecordRegister;
constexpr int RecordLength = kRecordLength;
constexpr int RecordCount = kRecordCount;
constexpr int Count = 256;
} // namespace reg

class RegisterBank {
public:
    enum class WriteResult { Stored, IllegalAddress, IllegalValue };

    // Built-in content for a relay at `slave`, its clock set from `localNow`.
    RegisterBank(int slave, const std::tm& localNow);

    uint16_t get(int r) const { return regs_[r]; }

    // Presets a register (--set); the wander of a live value goes on around it.
    void preset(int r, uint16_t value);

    // A value played for a moment (a motor start): the register holds it
    // until the next second's wander; where it wanders around stays.
    void play(int r, uint16_t value) { regs_[r] = value; }
    uint16_t base(int r) const { return base_[r]; }

    // A function 6 write from the master.
    WriteResult write(int r, uint16_t value);

    // One second of the relay's life: the clock and the operating-minutes
    // counter advance.
    void tickSecond();

    // The live measurements drift a little, each within a few units of its
    // starting value.
    void wander(Rng& rng);

private:
    static bool isWritable(int r);
    int daysInMonth(int month) const;

    std::array<uint16_t, reg::Count> regs_{};
    std::array<uint16_t, reg::Count> base_{};   // where each wandering value started
    std::array<int16_t, reg::Count> offset_{};  // its present distance from there
    int year_ = 2000;                           // kept only to know February's length
    int secondsToMinute_ = 60;
};

} // namespace relaysim
