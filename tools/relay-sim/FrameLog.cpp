#include "FrameLog.h"

#include "ProgramName.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace relaysim {

namespace {

// Appends to `path`, created if missing; -1 after telling why on stderr.
int OpenForAppend(const std::string& path, const char* what)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        std::fprintf(stderr, "%s: cannot open %s %s: %s\n", kProgramName, what, path.c_str(), std::strerror(errno));
    return fd;
}

} // namespace

std::string HexBytes(const Bytes& bytes)
{
    std::string text;
    char hex[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(hex, sizeof hex, i ? " %02X" : "%02X", bytes[i]);
        text += hex;
    }
    return text;
}

FrameLog::~FrameLog()
{
    close();
}

bool FrameLog::open(const std::string& framesPath, const std::string& timingPath)
{
    if (!framesPath.empty() && (framesFd_ = OpenForAppend(framesPath, "log")) < 0)
        return false;
    if (!timingPath.empty() && (timingFd_ = OpenForAppend(timingPath, "timing log")) < 0)
        return false;
    return true;
}

void FrameLog::close()
{
    for (int* fd : {&framesFd_, &timingFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void FrameLog::writeLine(int fd, const std::string& line, const char* what)
{
    // One write per line, so a reader never sees half of one.
    const ssize_t n = write(fd, line.data(), line.size());
    if (n < 0)
        std::fprintf(stderr, "%s: %s write failed: %s\n", kProgramName, what, std::strerror(errno));
    else if (size_t(n) != line.size())
        std::fprintf(stderr, "%s: %s write cut short\n", kProgramName, what);
}

void FrameLog::received(const Frame& frame)
{
    if (framesFd_ >= 0)
        writeLine(framesFd_, HexBytes(frame.bytes) + '\n', "log");
    if (timingFd_ >= 0)
        writeLine(timingFd_,
                  "RX " + std::to_string(frame.firstNs) + ' ' + std::to_string(frame.lastNs) + ' '
                      + HexBytes(frame.bytes) + '\n',
                  "timing log");
}

void FrameLog::sent(const Bytes& bytes, int64_t firstNs, int64_t lastNs, const char* tag)
{
    if (timingFd_ < 0)
        return;
    std::string line = "TX " + std::to_string(firstNs) + ' ' + std::to_string(lastNs) + ' ' + HexBytes(bytes);
    if (tag && *tag)
        line += std::string(" [") + tag + ']';
    writeLine(timingFd_, line + '\n', "timing log");
}

} // namespace relaysim
