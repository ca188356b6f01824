// Relays on a line in memory: each address in `alive` answers a read at once
// (every register holding the address), each in `refusing` answers with
// exception 2, the rest are silent. Every request's slave address is kept.
#pragma once

#include <deque>
#include <set>
#include <vector>

#include "link/LinePort.h"
#include "support/ModbusFrames.h"

struct RelaysInMemory : ILinePort {
    std::set<int> alive;
    std::set<int> refusing;
    std::vector<int> asked;
    std::deque<uint8_t> in;

    bool IsOpen() const override { return true; }
    void WriteByte(uint8_t) override {}
    void WriteBytes(const uint8_t* frame, int) override
    {
        asked.push_back(frame[0]);
        std::vector<uint8_t> reply;
        if (alive.count(frame[0])) {
            reply = ReadReply(frame[0], std::vector<uint16_t>(size_t{frame[5]}, uint16_t{frame[0]}));
        } else if (refusing.count(frame[0])) {
            reply = {frame[0], uint8_t(frame[1] | 0x80), 2};
            const uint16_t crc = ModbusCrc16(reply.data(), reply.size());
            reply.push_back(uint8_t(crc));
            reply.push_back(uint8_t(crc >> 8));
        }
        in.insert(in.end(), reply.begin(), reply.end());
    }
    bool ReadByte(uint8_t& b) override
    {
        if (in.empty())
            return false;
        b = in.front();
        in.pop_front();
        return true;
    }
    int BytesWaiting() override { return int(in.size()); }
};
