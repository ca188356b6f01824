// What a relay session tells of its requests besides a block read: a write
// that left the PC and ended, and a question's read given up.
#pragma once

#include <cstdint>

#include "link/Question.h"

struct WriteResult {
    int address = 0;           // the slave the frame went to
    int reg = -1;
    uint16_t value = 0;        // the value written
    // Echoed, Refused, Altered, NoAnswer (every try unanswered) or
    // Unconfirmed (the frame left the PC and then the line was lost, the
    // session closed, the asker gave up or the window moved on to another
    // request: the relay may hold either value).
    Outcome how = Outcome::NoAnswer;
    int exceptionCode = 0;     // Refused
    uint16_t stored = 0;       // Altered: what the relay holds now
    int tries = 0;             // sends of the frame
    uint8_t context = 0;       // the polled write's tag (the kind of write)
};

struct ReadFailure {
    RegisterBlock block;
    ExchangeFailure why = ExchangeFailure::NoReply;   // what the last try brought
    int exceptionCode = 0;     // Refused
    bool spoiltSeen = false;   // some try brought a frame that was no sound answer
    int tries = 0;
};

// An asked write's end, and an asked read's failure, as told by the session.
WriteResult WriteResultOf(const Answer& answer);
ReadFailure ReadFailureOf(const Answer& answer);
