// One reply of the current-parameters block as the window received it: the
// PC's time of it and the block's 29 registers. The trend history, the motor
// start records and their files all keep samples in this form.
#pragma once

#include <QString>
#include <QtGlobal>

#include <array>
#include <cstdint>

#include "exchanges/ExchangeTable.h"

constexpr int kBlockRegisters = kCurrentParamsBlock.count;

struct BlockSample {
    qint64 ms = 0;                              // the PC's clock, ms since the epoch (UTC)
    std::array<uint16_t, kBlockRegisters> regs{};
    bool afterGap = false;                      // the link was lost before it: no line leads to it

    uint16_t At(int reg) const { return regs[size_t(reg - kCurrentParamsBlock.first)]; }
    void Set(int reg, uint16_t value) { regs[size_t(reg - kCurrentParamsBlock.first)] = value; }
};

// What the trend window draws: the three phase currents (%), the thermal
// impulse (%) and the insulation resistance (kOhm).
enum TrendChannel { tcPhaseA, tcPhaseB, tcPhaseC, tcThermal, tcInsulation, kTrendChannels };

// The register a channel is read from.
int TrendRegister(int channel);

// The channel's caption and unit, as page 0 shows them.
QString TrendCaption(int channel);
