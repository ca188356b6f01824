#include "history/StartDetector.h"

#include <algorithm>

#include "exchanges/CurrentParams.h"

namespace {

constexpr int kPhaseRegisters[3] = {50, 51, 52};
constexpr int kThermalRegister = 56;
constexpr int kStartImpulseRegister = 57;
constexpr int kStartTimeRegister = 58;

}  // namespace

StartDetector::StartDetector(qint64 beforeMs, qint64 afterMs, qint64 limitMs)
    : beforeMs_(beforeMs), afterMs_(afterMs), limitMs_(limitMs)
{
}

std::optional<StartRecord> StartDetector::Add(const BlockSample& sample)
{
    const uint16_t status = sample.At(kStatusRegister);
    // Edges only between two samples of one unbroken run.
    const bool edges = previousKnown_ && !sample.afterGap;
    const uint16_t previous = previousStatus_;
    const auto rose = [&](uint16_t bit) { return edges && (status & bit) && !(previous & bit); };
    const auto fell = [&](uint16_t bit) { return edges && !(status & bit) && (previous & bit); };
    previousKnown_ = true;
    previousStatus_ = status;

    if (!open_) {
        while (!before_.empty() && before_.front().ms < sample.ms - beforeMs_)
            before_.pop_front();
        if (!rose(kMotorOnBit)) {
            before_.push_back(sample);
            return std::nullopt;
        }
        open_.emplace();
        StartSummary& s = open_->summary;
        s.switchOnMs = sample.ms;
        s.thermalBefore = before_.empty() ? sample.At(kThermalRegister) : before_.back().At(kThermalRegister);
        open_->samples.assign(before_.begin(), before_.end());
        before_.clear();
        endDueMs_ = sample.ms + limitMs_;
        endAs_ = StartEnd::Limit;
    }

    open_->samples.push_back(sample);
    StartSummary& s = open_->summary;
    for (int p = 0; p < 3; ++p)
        s.peakPercent[size_t(p)] = std::max(s.peakPercent[size_t(p)], sample.At(kPhaseRegisters[p]));
    s.heavy = s.heavy || (status & kHeavyStartBit);
    s.prolonged = s.prolonged || (status & kProlongedStartBit);
    if (s.finishedMs < 0 && endAs_ == StartEnd::Limit) {
        if (rose(kStartFinishedBit)) {
            s.finishedMs = sample.ms;
            s.thermalAfter = sample.At(kThermalRegister);
            endDueMs_ = sample.ms + afterMs_;
            endAs_ = StartEnd::Finished;
        } else if (fell(kMotorOnBit)) {
            endDueMs_ = sample.ms + afterMs_;
            endAs_ = StartEnd::MotorOff;
        }
    }
    if (sample.ms >= endDueMs_)
        return close(endAs_);
    return std::nullopt;
}

std::optional<StartRecord> StartDetector::Break()
{
    previousKnown_ = false;
    before_.clear();
    if (!open_)
        return std::nullopt;
    return close(endAs_ == StartEnd::Limit ? StartEnd::LinkLost : endAs_);
}

StartRecord StartDetector::close(StartEnd end)
{
    StartRecord record = std::move(*open_);
    open_.reset();
    StartSummary& s = record.summary;
    s.end = end;
    const BlockSample& last = record.samples.back();
    if (s.finishedMs < 0)
        s.thermalAfter = last.At(kThermalRegister);
    s.relayStartImpulse = last.At(kStartImpulseRegister);
    s.relayStartTimeMs = last.At(kStartTimeRegister);
    return record;
}
