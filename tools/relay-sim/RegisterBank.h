// The relay's 256 holding registers: what a running motor's relay would hold,
// the ticking clock, the operating-minutes counter and the slow wander of the
// live measurements.
#pragma once

#include <array>
#include <cstdint>
#include <ctime>

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

namespace reg {
constexpr int PhaseA = 50;
constexpr int PhaseB = 51;
constexpr int PhaseC = 52;
constexpr int Insulation = 53;
constexpr int Unbalance = 54;
constexpr int Ripple = 55;
constexpr int ThermalImpulse = 56;
constexpr int StartImpulse = 57;
constexpr int StartTime = 58;
constexpr int StartCurrent = 59;
constexpr int SupplyVoltage = 60;
constexpr int Status = 66;
constexpr int Month = 67;
constexpr int Day = 68;
constexpr int Hour = 69;
constexpr int Minute = 70;
constexpr int Second = 71;
constexpr int OperatingMinutes = 78;
constexpr int SettingsFirst = 80;
constexpr int SlaveAddress = 80;
constexpr int TripMask = 96;
constexpr int SignalMask = 97;
constexpr int RecordMask = 107;
constexpr int RatedCurrent = 108;
constexpr int SettingsLast = 123;
constexpr int RecordsFirst = 128;
constexpr int RecordLength = 17;
constexpr int RecordCount = 4;
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
