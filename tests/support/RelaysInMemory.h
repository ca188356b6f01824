// Relays on a line in memory: each address in `alive` answers a read at once
// (every register holding the address), each in `refusing` with exception 2,
// the rest are silent. Every request's slave address is kept.
#pragma once

#include <set>

#include "support/FakeLine.h"
#include "support/ModbusFrames.h"

struct RelaysInMemory : FakeLine {
    std::set<int> alive, refusing;
    std::vector<int> asked;

    void WriteBytes(const uint8_t* frame, int) override
    {
        asked.push_back(frame[0]);
        if (alive.count(frame[0]))
            Feed(ReadReply(frame[0], std::vector<uint16_t>(size_t{frame[5]}, uint16_t{frame[0]})));
        if (refusing.count(frame[0])) {
            std::vector<uint8_t> r{frame[0], uint8_t(frame[1] | 0x80), 2};
            const uint16_t crc = ModbusCrc16(r.data(), r.size());
            Feed({r[0], r[1], r[2], uint8_t(crc), uint8_t(crc >> 8)});
        }
    }
};
