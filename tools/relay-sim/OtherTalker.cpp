#include "OtherTalker.h"

#include "LineTime.h"

#include <algorithm>
#include <cstdlib>

namespace relaysim {

namespace {

constexpr size_t kPieceBytes = 2;
// The flood: so many random bytes every millisecond, far more than any
// master takes in.
constexpr size_t kFloodChunk = 4096;
constexpr int64_t kFloodEveryNs = 1'000'000;

bool ParseHexBytes(const std::string& text, Bytes& out)
{
    std::string digits;
    for (char c : text)
        if (c != ' ' && c != ':')
            digits.push_back(c);
    if (digits.empty() || digits.size() % 2 != 0 || digits.size() > 512)
        return false;
    out.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        char* end = nullptr;
        const std::string pair = digits.substr(i, 2);
        const long v = std::strtol(pair.c_str(), &end, 16);
        if (end != pair.c_str() + 2)
            return false;
        out.push_back(uint8_t(v));
    }
    return true;
}

bool ParseMs(const std::string& text, double low, double& out)
{
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !(v >= low && v <= 60000.0))
        return false;
    out = v;
    return true;
}

} // namespace

const char* const kTalkerUsage =
    "  --peer-after-ms MS   another master's traffic: after each reply, a frame like\n"
    "                       it whose registers hold 0xBEEF starts MS after the\n"
    "                       reply's end, whatever else is on the line\n"
    "  --peer-whole         that frame comes in one piece at the end of its line\n"
    "                       time, as from a device server (default: paced)\n"
    "  --peer-slave N       that frame names slave N instead of the replying one\n"
    "                       (a frame shaped as another address's answer)\n"
    "  --echo-after-refusal MS  after a refused write, its exact echo MS after\n"
    "                       the refusal's end\n"
    "  --noise HEX          bytes replayed on the line over and over, e.g. 0103FF\n"
    "  --noise-every-ms MS  how often the noise comes (default 50)\n"
    "  --flood              random bytes, 4 KiB every millisecond, whatever else\n"
    "                       is on the line\n";

bool IsTalkerOption(const std::string& name, bool& takesValue)
{
    takesValue = name != "--peer-whole" && name != "--flood";
    return name == "--peer-after-ms" || name == "--peer-whole" || name == "--noise" || name == "--noise-every-ms"
        || name == "--peer-slave" || name == "--echo-after-refusal" || name == "--flood";
}

bool ParseTalkerOption(const std::string& name, const std::string& value, TalkerOptions& out, std::string& error)
{
    if (name == "--peer-whole") {
        out.peerWhole = true;
    } else if (name == "--flood") {
        out.flood = true;
    } else if (name == "--peer-slave") {
        char* end = nullptr;
        const long n = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end != '\0' || n < 1 || n > 247) {
            error = "--peer-slave must be 1..247, not '" + value + "'";
            return false;
        }
        out.peerSlave = int(n);
    } else if (name == "--echo-after-refusal") {
        double ms = 0;
        if (!ParseMs(value, 0.0, ms)) {
            error = "--echo-after-refusal must be 0..60000, not '" + value + "'";
            return false;
        }
        out.echoAfterRefusalMs = ms;
    } else if (name == "--peer-after-ms") {
        double ms = 0;
        if (!ParseMs(value, 0.0, ms)) {
            error = "--peer-after-ms must be 0..60000, not '" + value + "'";
            return false;
        }
        out.peerAfterMs = ms;
    } else if (name == "--noise") {
        if (!ParseHexBytes(value, out.noise)) {
            error = "--noise must be 1..256 bytes in hex, not '" + value + "'";
            return false;
        }
    } else if (name == "--noise-every-ms") {
        if (!ParseMs(value, 1.0, out.noiseEveryMs)) {
            error = "--noise-every-ms must be 1..60000, not '" + value + "'";
            return false;
        }
    }
    return true;
}

OtherTalker::OtherTalker(const TalkerOptions& options, bool pace)
    : options_(options)
    , pace_(pace)
{
}

void OtherTalker::start(int64_t nowNs)
{
    if (!options_.noise.empty())
        nextNoiseNs_ = nowNs + int64_t(options_.noiseEveryMs * 1e6);
    if (options_.flood)
        nextFloodNs_ = nowNs;
}

void OtherTalker::queue(Bytes bytes, int64_t startNs)
{
    Frame f;
    f.bytes = std::move(bytes);
    f.startNs = startNs;
    if (!f.bytes.empty())
        frames_.push_back(std::move(f));
}

void OtherTalker::replyQueued(const Bytes& request, const Bytes& reply, int64_t endNs)
{
    const bool refusedWrite = request.size() == 8 && request[1] == 6 && reply.size() == 5 && reply[1] == (6 | 0x80);
    if (options_.echoAfterRefusalMs && refusedWrite)
        queue(request, endNs + int64_t(*options_.echoAfterRefusalMs * 1e6));
    if (!options_.peerAfterMs)
        return;
    Bytes frame = UnaskedFrameLike(reply);
    if (options_.peerSlave != 0 && frame.size() > 2) {
        frame.resize(frame.size() - 2);
        frame[0] = uint8_t(options_.peerSlave);
        AppendCrc(frame);
    }
    queue(std::move(frame), endNs + int64_t(*options_.peerAfterMs * 1e6));
}

size_t OtherTalker::dueBytes(const Frame& f, int64_t nowNs) const
{
    if (!pace_)
        return nowNs >= f.startNs ? f.bytes.size() : 0;
    if (options_.peerWhole)
        return nowNs >= f.startNs + LineTimeNs(int64_t(f.bytes.size())) ? f.bytes.size() : 0;
    size_t due = 0;
    while (due < f.bytes.size() && f.startNs + LineTimeNs(int64_t(due) + 1) <= nowNs)
        ++due;
    return due < f.bytes.size() ? due - due % kPieceBytes : due;
}

void OtherTalker::transmitDue(int64_t nowNs, Transport& transport)
{
    // Frames of their own, each at its own time: they overlap whatever the
    // relays send.
    for (auto it = frames_.begin(); it != frames_.end();) {
        const size_t due = dueBytes(*it, nowNs);
        if (due > it->sent) {
            transport.send(it->bytes.data() + it->sent, due - it->sent);
            it->sent = due;
        }
        it = it->sent == it->bytes.size() ? frames_.erase(it) : std::next(it);
    }
    if (nextFloodNs_ >= 0 && nowNs >= nextFloodNs_) {
        uint8_t chunk[kFloodChunk];
        for (uint8_t& b : chunk) {
            floodState_ ^= floodState_ << 13;
            floodState_ ^= floodState_ >> 7;
            floodState_ ^= floodState_ << 17;
            b = uint8_t(floodState_ >> 24);
        }
        transport.send(chunk, sizeof chunk);
        nextFloodNs_ = nowNs + kFloodEveryNs;
    }
    if (nextNoiseNs_ >= 0 && nowNs >= nextNoiseNs_) {
        transport.send(options_.noise.data(), options_.noise.size());
        const int64_t every = int64_t(options_.noiseEveryMs * 1e6);
        nextNoiseNs_ += every * ((nowNs - nextNoiseNs_) / every + 1);
    }
}

int64_t OtherTalker::nextDeadline() const
{
    int64_t deadline = nextNoiseNs_;
    if (nextFloodNs_ >= 0 && (deadline < 0 || nextFloodNs_ < deadline))
        deadline = nextFloodNs_;
    for (const Frame& f : frames_) {
        int64_t t = f.startNs;
        if (pace_)
            t += options_.peerWhole ? LineTimeNs(int64_t(f.bytes.size()))
                                    : LineTimeNs(int64_t(std::min(f.bytes.size(), f.sent + kPieceBytes)));
        if (deadline < 0 || t < deadline)
            deadline = t;
    }
    return deadline;
}

} // namespace relaysim
