// A question to the relay and what came of it. A question is one read of a
// block (function 3) or one register write (function 6), asked through the
// session's queue (RelaySession::Ask) and answered once by a SessionReply.
#pragma once

#include <cstdint>
#include <vector>

#include "link/Outcome.h"
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
    // Ticks the line must have been quiet before it goes out, when more
    // than the silence every request needs (0: just that).
    int quietTicks = 0;

    bool IsWrite() const { return kind == Kind::Write; }
    static Question Read(const RegisterBlock& block, int address = 0);
    static Question Write(int reg, uint16_t value, int address = 0);
};

struct Answer {
    Question question;          // as asked, with the address and tries it was asked with
    Outcome outcome = Outcome::Aborted;
    std::vector<uint16_t> values;                     // Values: values[k] is register block.first + k
    bool foreign = false;       // Values read while another master was on the line
    ExchangeFailure why = ExchangeFailure::NoReply;   // NoAnswer, a read Refused: what the last try brought
    int exceptionCode = 0;      // Refused
    uint16_t stored = 0;        // Altered
    int tries = 0;              // sends of the frame
    // Tries spent waiting for a line that never fell silent, the frame not sent.
    int busyTries = 0;
    // Tries whose answer the line-timing rule rejected: come while the
    // request was on the wire, or complete sooner than the wire allows.
    int earlyTries = 0;
    bool spoiltSeen = false;    // some try brought a frame that was no sound answer

    bool LeftThePc() const { return tries > 0; }
};
