// A question to the relay and what came of it. A question is one read of a
// block (function 3) or one register write (function 6), asked through the
// session's queue (RelaySession::Ask) and answered once by a SessionReply.
#pragma once

#include <cstdint>
#include <vector>

#include "link/PollCycle.h"
#include "link/RegisterValues.h"

struct Question {
    enum class Kind { Read, Write };
    Kind kind = Kind::Read;
    RegisterBlock block;        // a read
    int reg = -1;               // a write: the register
    uint16_t value = 0;         //          and the value
    int address = 0;            // 0: the session's slave address
    int tries = 0;              // 0: the session's tries
    // 0: the session's reply time-out. On a network line the network
    // allowance is always added, whoever chose the time-out.
    int timeoutTicks = 0;
    // An address that may hold no relay: its unanswered tries are no misses
    // of the link.
    bool probe = false;

    bool IsWrite() const { return kind == Kind::Write; }
    static Question Read(const RegisterBlock& block, int address = 0);
    static Question Write(int reg, uint16_t value, int address = 0);
};

enum class ReplyOutcome {
    Values,       // a read answered: Answer::values
    ReadFailed,   // a read given up after its tries: Answer::why, Answer::exceptionCode
    Echoed,       // a write confirmed by its exact echo
    Refused,      // a write refused: Answer::exceptionCode
    Altered,      // a write echoed with another value: Answer::stored is what the relay holds
    // A write that left the PC and was neither confirmed nor refused (no
    // answer after its tries, the line lost, the session closed, or the asker
    // gave up): the relay may hold either value.
    Unconfirmed,
    NotSent,      // withdrawn by the asker before it left the PC
    Aborted,      // the session closed or the line was lost before it left the PC
};

// "values", "read failed", "echoed", "refused", "altered", "unconfirmed", "not sent", "aborted".
const char* OutcomeName(ReplyOutcome outcome);

struct Answer {
    Question question;          // as asked, with the address and tries it was asked with
    ReplyOutcome outcome = ReplyOutcome::Aborted;
    std::vector<uint16_t> values;                     // Values: values[k] is register block.first + k
    ExchangeFailure why = ExchangeFailure::NoReply;   // ReadFailed: what the last try brought
    int exceptionCode = 0;      // Refused, ReadFailed by refusal
    uint16_t stored = 0;        // Altered
    int tries = 0;              // sends of the frame
    bool spoiltSeen = false;    // some try brought a frame that was no sound answer
    bool triesSpent = false;    // Unconfirmed: every try went out and none was answered

    bool LeftThePc() const { return tries > 0; }
};
