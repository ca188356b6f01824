// Motor starts read from the status word: "Двигатель включен" (bit 10)
// rising begins one, "Пуск закончен" (bit 11) rising finishes it. A record
// holds the samples from a few seconds before the switch-on until a few
// seconds after the finish (or a limit), and a summary of them. Pure logic:
// fed the samples the window polls, it says when a record is complete.
#pragma once

#include <QtGlobal>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "history/BlockSample.h"

constexpr uint16_t kHeavyStartBit = 1u << 4;       // "Тяжелый пуск"
constexpr uint16_t kMotorOnBit = 1u << 10;         // "Двигатель включен"
constexpr uint16_t kStartFinishedBit = 1u << 11;   // "Пуск закончен"
constexpr uint16_t kProlongedStartBit = 1u << 14;  // "Затянувшийся пуск"

// How a record came to its end.
enum class StartEnd {
    Finished,   // "Пуск закончен" came, and the time after it passed
    Limit,      // no finish within the limit
    MotorOff,   // the motor went off before the start finished
    LinkLost,   // the link was lost during the start
};

struct StartSummary {
    qint64 switchOnMs = 0;
    qint64 finishedMs = -1;                 // "Пуск закончен", -1: it did not come
    StartEnd end = StartEnd::Finished;
    std::array<uint16_t, 3> peakPercent{};  // phases A, B, C
    uint16_t thermalBefore = 0;             // the thermal impulse before the switch-on, %
    uint16_t thermalAfter = 0;              // and at the finish (or at the end)
    uint16_t relayStartImpulse = 0;         // the relay's own start thermal impulse, %
    uint16_t relayStartTimeMs = 0;          // and start time
    bool heavy = false;
    bool prolonged = false;

    qint64 TimeToFinishMs() const { return finishedMs < 0 ? -1 : finishedMs - switchOnMs; }
};

struct StartRecord {
    StartSummary summary;
    std::vector<BlockSample> samples;
};

class StartDetector {
public:
    static constexpr qint64 kBeforeMs = 5000;
    static constexpr qint64 kAfterMs = 5000;
    static constexpr qint64 kLimitMs = 3 * 60 * 1000;

    explicit StartDetector(qint64 beforeMs = kBeforeMs, qint64 afterMs = kAfterMs, qint64 limitMs = kLimitMs);

    // A sample as polled; a record when this sample completes one.
    std::optional<StartRecord> Add(const BlockSample& sample);
    // The link was lost or the port closed: a start being recorded ends
    // here, and no rising bit is seen across the gap.
    std::optional<StartRecord> Break();

    bool Recording() const { return open_.has_value(); }

private:
    StartRecord close(StartEnd end);

    qint64 beforeMs_, afterMs_, limitMs_;
    std::deque<BlockSample> before_;   // the last beforeMs_ while no start is recorded
    std::optional<StartRecord> open_;
    qint64 endDueMs_ = -1;             // the record ends with the first sample at or past this
    StartEnd endAs_ = StartEnd::Finished;
    bool previousKnown_ = false;
    uint16_t previousStatus_ = 0;
};

// Peak current in amperes from a peak in % of the rated current, given the
// rated current in hundredths of an ampere (the relay's setting).
inline double PeakAmperes(uint16_t percent, int ratedCentiAmps)
{
    return percent * ratedCentiAmps / 10000.0;
}
