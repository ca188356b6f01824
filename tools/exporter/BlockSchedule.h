// Which block each relay of a line is asked for next. The current
// parameters at full rate; the settings block (for the rated current) and
// the four event records every kSlowPeriodMs, and at once when the relay's
// status word changes or it answers again, each slow block taking every other
// question of the relay while some are due. A relay not yet known to answer
// is asked for its current parameters only. Times are on the poller's steady
// clock.
#pragma once

#include <QtGlobal>

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "link/RegisterValues.h"

class BlockSchedule {
public:
    explicit BlockSchedule(const std::vector<int>& addresses);

    RegisterBlock Next(int address, qint64 nowMs);
    // A block read: a new status word (or the first one) makes the slow
    // blocks due at once.
    void Read(int address, const RegisterValues& values, qint64 nowMs);
    // A slow block not read is asked again in its turn.
    void Failed(int address, const RegisterBlock& block);
    // The relay stopped answering: what it said is forgotten, so that its
    // slow blocks are read again as soon as it answers.
    void Gone(int address);
    // The line opened: every relay's slow blocks due; lost: every relay gone.
    void LineOpened(qint64 nowMs);
    void LineLost();
    // The relays from now on: those kept keep what they said and when their
    // slow blocks are due; one added starts afresh (its current parameters first).
    void SetAddresses(const std::vector<int>& addresses);

    static constexpr int kSlowPeriodMs = 10000;
    // Every block a relay is asked for: the current parameters, then the
    // settings and the event records.
    static const std::vector<RegisterBlock>& Blocks();

private:
    struct Relay {
        int address = 0;
        std::optional<uint16_t> lastStatus;
        std::deque<RegisterBlock> slow;   // settings and records still to read
        qint64 slowDueMs = 0;
        bool slowTurn = false;            // the relay's next question is a slow one
    };

    Relay* find(int address);
    static void scheduleSlow(Relay& relay, qint64 nowMs);

    std::vector<Relay> relays_;
};
