// Builds relay replies for tests.
#pragma once

#include <cstdint>
#include <vector>

#include "exchanges/ExchangeTable.h"
#include "link/LinkState.h"

// A read reply (function 3) from `slave` holding `registers`, with its CRC.
inline std::vector<uint8_t> ReadReply(uint8_t slave, const std::vector<uint16_t>& registers)
{
    std::vector<uint8_t> r{slave, 3, uint8_t(registers.size() * 2)};
    for (uint16_t v : registers) {
        r.push_back(uint8_t(v >> 8));
        r.push_back(uint8_t(v));
    }
    const uint16_t crc = ModbusCrc16(r.data(), r.size());
    r.push_back(uint8_t(crc));
    r.push_back(uint8_t(crc >> 8));
    return r;
}

// The current-parameter registers, each set to its own number unless
// overridden.
inline std::vector<uint16_t> CurrentParamRegisters()
{
    std::vector<uint16_t> regs;
    for (int r = kCurrentParamsBlock.first; r < kCurrentParamsBlock.first + kCurrentParamsBlock.count; ++r)
        regs.push_back(uint16_t(r));
    return regs;
}
