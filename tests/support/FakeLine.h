// A serial line in memory: what the poll cycle writes is kept, what the test
// feeds is read back one byte at a time.
#pragma once

#include <cstdint>
#include <deque>
#include <stdexcept>
#include <vector>

#include "link/LinePort.h"

class FakeLine : public ILinePort {
public:
    bool open = true;
    bool failWrites = false;
    std::vector<uint8_t> written;
    std::deque<uint8_t> incoming;

    bool IsOpen() const override { return open; }
    void WriteByte(uint8_t b) override
    {
        if (failWrites)
            throw std::runtime_error("write failed");
        written.push_back(b);
    }
    bool ReadByte(uint8_t& b) override
    {
        if (incoming.empty())
            return false;
        b = incoming.front();
        incoming.pop_front();
        return true;
    }
    int BytesWaiting() override { return int(incoming.size()); }

    void Feed(const std::vector<uint8_t>& bytes) { incoming.insert(incoming.end(), bytes.begin(), bytes.end()); }
    std::vector<uint8_t> TakeWritten()
    {
        std::vector<uint8_t> out;
        out.swap(written);
        return out;
    }
};
