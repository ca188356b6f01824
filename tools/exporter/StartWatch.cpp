#include "StartWatch.h"

std::optional<StartRecord> StartWatch::Add(const RegisterValues& values, qint64 unixMs)
{
    if (values.block != kCurrentParamsBlock || values.values.size() != size_t(kBlockRegisters))
        return std::nullopt;
    BlockSample sample;
    sample.ms = unixMs;
    std::copy(values.values.begin(), values.values.end(), sample.regs.begin());
    sample.afterGap = afterGap_;
    afterGap_ = false;
    return detector_.Add(sample);
}

std::optional<StartRecord> StartWatch::Break()
{
    afterGap_ = true;
    return detector_.Break();
}
