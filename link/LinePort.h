// The poll cycle's view of the serial line: one byte at a time, as the
// relay link uses it. The real port and the tests' fake lines both plug in here.
#pragma once

#include <cstdint>

class ILinePort {
public:
    virtual ~ILinePort() = default;
    virtual bool IsOpen() const = 0;
    virtual void WriteByte(uint8_t b) = 0;          // may throw on a failed write
    virtual bool ReadByte(uint8_t& b) = 0;          // false when nothing came in time
    virtual int BytesWaiting() = 0;
};
