// How a relay session paces its line and asks its questions.
#pragma once

#include "link/PollCycle.h"

struct SessionOptions {
    int tickMs = PollCycle::kWindowTickMs;                      // the tick grid
    int replyTimeoutTicks = PollCycle::kReplyTimeoutTicks;     // ticks without a byte that end an exchange
    int tries = 0;          // sends of one question before it is given up; 0: asked until answered
    bool lookAway = true;   // the port looks away from the input while a reply's rest is due
    // Added to every reply time-out on a network line: the way through the
    // network and the device server or gateway and back.
    int networkAllowanceMs = kNetworkAllowanceMs;

    // Another master counts as present from its frame seen until this long
    // after the last one: values read meanwhile may be its traffic's.
    int otherMasterHoldMs = kOtherMasterHoldMs;

    static constexpr int kNetworkAllowanceMs = 100;
    static constexpr int kOtherMasterHoldMs = 10000;

    // Whether an answer must be physically possible on the line (PollCycle):
    // Auto decides by the line's kind (a UART or USB serial adapter yes; a
    // pty, a device server's raw port and a Modbus TCP gateway no); On
    // holds for every line but a Modbus TCP gateway's, whose transaction ids
    // are the check.
    enum class Timing { Auto, On, Off };
    Timing lineTiming = Timing::Auto;
};

// The front ends' timing: `given` unless it is Auto and the environment's
// ZASHCHITA_LINE_TIMING=on|off says otherwise (a simulator that paces its
// pty like a wire, or a line whose timing misleads).
SessionOptions::Timing LineTimingFromEnvironment(SessionOptions::Timing given);
