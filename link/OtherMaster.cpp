#include "link/OtherMaster.h"

#include <cstring>

#include "link/ReplyExpectation.h"

namespace {

bool CrcFits(const uint8_t* frame, int length)
{
    const uint16_t crc = ModbusCrc16(frame, size_t(length - 2));
    return frame[length - 2] == uint8_t(crc) && frame[length - 1] == uint8_t(crc >> 8);
}

constexpr int kMostRegistersRead = 125;

}  // namespace

void OtherMasterWatch::Reset()
{
    oursCount_ = 0;
    newest_ = -1;
    windowCount_ = 0;
    startCount_ = 0;
}

void OtherMasterWatch::Sent(const SentRequest& sent)
{
    newest_ = (newest_ + 1) % kRemembered;
    std::memcpy(ours_[newest_].frame, sent.frame, kRequestLength);
    ours_[newest_].answered = false;
    if (oursCount_ < kRemembered)
        ++oursCount_;
}

// The relay answers one request at a time, in order: once the newest is
// answered, no reply to an older one can come any more.
void OtherMasterWatch::Answered()
{
    for (int k = 0; k < oursCount_; ++k)
        ours_[k].answered = true;
}

bool OtherMasterWatch::Take(const uint8_t* bytes, int count)
{
    bool found = false;
    for (int i = 0; i < count; ++i) {
        if (windowCount_ == kWindow) {
            std::memmove(window_, window_ + kWindow / 2, kWindow / 2);
            windowCount_ = kWindow / 2;
            int kept = 0;
            for (int k = 0; k < startCount_; ++k)
                if (starts_[k].start >= kWindow / 2)
                    starts_[kept++] = {starts_[k].start - kWindow / 2, starts_[k].end - kWindow / 2};
            startCount_ = kept;
        }
        window_[windowCount_++] = bytes[i];
        if (const int start = windowCount_ - 3; start >= 0) {
            const uint8_t* f = window_ + start;
            if (f[0] != 0 && f[1] == kFunctionRead && f[2] >= 2 && f[2] % 2 == 0 && startCount_ < kMostStarts)
                starts_[startCount_++] = {start, start + f[2] + 5};
        }
        if (EndsForeignFrame()) {
            found = true;
            windowCount_ = 0;
            startCount_ = 0;
        }
    }
    return found;
}

// Whether the frame is ours: our own request (as an adapter may hear it) or
// a write's echo, or a reply to a request of ours still unanswered.
bool OtherMasterWatch::Ours(const uint8_t* frame, int length, bool requestShape) const
{
    for (int k = 0; k < oursCount_; ++k) {
        const Request& r = ours_[k];
        if (requestShape && length == kRequestLength && std::memcmp(frame, r.frame, kRequestLength) == 0)
            return true;   // our request heard back, or a write's echo
        if (r.answered)
            continue;
        SentRequest sent;
        sent.valid = true;
        std::memcpy(sent.frame, r.frame, kRequestLength);
        const ReplyLook look = LookAtReply(sent, frame, length);
        if (look.kind == ReplyLook::Kind::Whole && look.length == length)
            return true;
    }
    return false;
}

bool OtherMasterWatch::EndsForeignFrame()
{
    const int end = windowCount_;
    // A request (a read or a write) or a write's echo: eight bytes.
    if (end >= kRequestLength) {
        const uint8_t* f = window_ + end - kRequestLength;
        const int operand = f[4] << 8 | f[5];
        const bool read = f[1] == kFunctionRead && operand >= 1 && operand <= kMostRegistersRead;
        if ((read || f[1] == kFunctionWrite) && f[0] != 0 && CrcFits(f, kRequestLength))
            return !Ours(f, kRequestLength, true);
    }
    // An exception reply.
    if (end >= kExceptionReplyLength) {
        const uint8_t* f = window_ + end - kExceptionReplyLength;
        if ((f[1] == (kFunctionRead | kExceptionBit) || f[1] == (kFunctionWrite | kExceptionBit))
            && CrcFits(f, kExceptionReplyLength))
            return !Ours(f, kExceptionReplyLength, false);
    }
    // A read reply: its byte count names its length. The longest first.
    bool foreign = false;
    bool fits = false;
    int kept = 0;
    for (int k = 0; k < startCount_; ++k) {
        const ReplyStart r = starts_[k];
        if (r.end == end && !fits && CrcFits(window_ + r.start, end - r.start)) {
            fits = true;
            foreign = !Ours(window_ + r.start, end - r.start, false);
        }
        if (r.end > end)
            starts_[kept++] = r;
    }
    startCount_ = kept;
    return foreign;
}
