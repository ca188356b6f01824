#include "link/ReplyExpectation.h"

int AnswerLength(const SentRequest& sent)
{
    return sent.IsWrite() ? kRequestLength : 5 + 2 * sent.Operand();
}

ReplyLook LookAtReply(const SentRequest& sent, const uint8_t* bytes, int count)
{
    using Kind = ReplyLook::Kind;
    if (count <= 0)
        return {Kind::Partial, 0};
    if (!sent.valid || bytes[0] != sent.Slave())
        return {Kind::Spoilt, 1};
    if (count < 2)
        return {Kind::Partial, count};
    int length = 0;
    if (bytes[1] == (sent.Function() | kExceptionBit)) {
        length = kExceptionReplyLength;
    } else if (bytes[1] != sent.Function()) {
        return {Kind::Spoilt, 2};
    } else if (sent.IsWrite()) {
        // The echo names the register written; its value may differ (the
        // relay stored another), so only the register is fixed.
        for (int at = 2; at < 4 && at < count; ++at)
            if (bytes[at] != sent.frame[at])
                return {Kind::Spoilt, at + 1};
        length = kRequestLength;
    } else {
        if (count > 2 && bytes[2] != 2 * sent.Operand())
            return {Kind::Spoilt, 3};
        length = AnswerLength(sent);
    }
    return count >= length ? ReplyLook{Kind::Whole, length} : ReplyLook{Kind::Partial, count};
}
