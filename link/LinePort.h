// The relay link's view of its line: bytes written and read, and how many are
// waiting. The serial port, the tests' fake lines and other transports plug in here.
#pragma once

#include <chrono>
#include <cstdint>

#include "serial/ComError.h"   // what a line that fails throws: EComPort, with the system's error number

class ILinePort {
public:
    virtual ~ILinePort() = default;
    virtual bool IsOpen() const = 0;
    virtual void WriteByte(uint8_t b) = 0;          // may throw on a failed write
    virtual bool ReadByte(uint8_t& b) = 0;          // false when nothing came in time
    virtual int BytesWaiting() = 0;

    // A whole request in one write, and the bytes a receive event announced
    // in one read: a line that can, does each in one system call, which also
    // keeps the request's bytes together on the wire. Returns the bytes read.
    virtual void WriteBytes(const uint8_t* bytes, int count)
    {
        for (int i = 0; i < count; ++i)
            WriteByte(bytes[i]);
    }
    virtual int ReadBytes(uint8_t* bytes, int count)
    {
        int got = 0;
        while (got < count && ReadByte(bytes[got]))
            ++got;
        return got;
    }

    // Looks away from the input for `time`: the rest of a reply on its way is
    // then taken in one receive event rather than piece by piece. A line
    // that cannot does nothing.
    virtual void HoldRx(std::chrono::nanoseconds /*time*/) {}

    // The line's monotonic clock, in nanoseconds.
    virtual int64_t NowNs() const
    {
        return std::chrono::duration_cast<std::chrono::nanoseconds>(
                   std::chrono::steady_clock::now().time_since_epoch())
            .count();
    }
    // When the bytes last read reached the PC, on NowNs()'s clock: never
    // sooner than they did (a line that cannot tell gives the time it is asked).
    virtual int64_t ArrivalNs() const { return NowNs(); }
    // Whether the line's bytes keep their time on the wire, so that an answer
    // cannot be complete sooner than the request and the answer take there
    // (a UART or USB serial adapter, a device server's raw port); a virtual
    // port that hands bytes on at once (a pty) or a gateway does not.
    virtual bool KeepsLineTime() const { return false; }
};
