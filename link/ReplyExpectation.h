// What the answer to a request must look like, judged byte by byte as the
// bytes come: the request sent fixes the slave, the function, a read's byte
// count, a write's register and the whole length (a read of N registers
// 5 + 2N bytes, a write's echo 8, an exception 5). A byte that cannot belong
// to that answer spoils the frame at once instead of a longer wait.
#pragma once

#include <cstdint>

#include "link/LinkState.h"

struct ReplyLook {
    enum class Kind {
        Partial,   // so far an answer; more bytes are due
        Whole,     // a whole frame of the answer's shape: `length` bytes (its CRC still to be checked)
        Spoilt,    // byte `length` - 1 cannot belong to the answer
    };
    Kind kind = Kind::Partial;
    int length = 0;
};

// The bytes `bytes[0..count)` collected since the request `sent` went out.
ReplyLook LookAtReply(const SentRequest& sent, const uint8_t* bytes, int count);

// The length of the answer to `sent` when it is no exception.
int AnswerLength(const SentRequest& sent);
constexpr int kExceptionReplyLength = 5;
