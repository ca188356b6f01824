// The simulator's two logs: --log (every received frame as hex) and
// --timing (every frame on the line with the monotonic times of its first
// and last byte).
#pragma once

#include <cstdint>
#include <string>

#include "Protocol.h"

namespace relaysim {

class FrameLog {
public:
    FrameLog() = default;
    ~FrameLog();
    FrameLog(const FrameLog&) = delete;
    FrameLog& operator=(const FrameLog&) = delete;

    // Opens the files named (an empty name: that log is not kept). Returns
    // false after telling why on stderr.
    bool open(const std::string& framesPath, const std::string& timingPath);
    void close();

    // A request frame read from the line (any address).
    void received(const Frame& frame);

    // A frame handed to the line: the times its first and last bytes were
    // written. `tag` ends the line in brackets when not empty, e.g. "unasked".
    void sent(const Bytes& bytes, int64_t firstNs, int64_t lastNs, const char* tag = nullptr);

private:
    void writeLine(int fd, const std::string& line, const char* what);

    int framesFd_ = -1;
    int timingFd_ = -1;
};

// "01 03 00 32": the bytes as upper-case hex, one space between.
std::string HexBytes(const Bytes& bytes);

} // namespace relaysim
