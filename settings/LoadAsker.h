// The questions a load of settings asks the relay, as the load sees them: a
// read of a block or a write of one register, each finishing exactly once
// with how it ended. The load is written against this and nothing else, so
// that it runs over the relay session and in a test alike.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "link/Outcome.h"
#include "link/RegisterValues.h"

// What cut a question short before the relay's word (Unconfirmed, NotSent,
// Aborted).
enum class LoadCause {
    None,
    LineLost,    // the line went away or was closed
    Abandoned,   // given up by the asker
};

struct LoadAnswer {
    Outcome outcome = Outcome::NotSent;
    LoadCause cause = LoadCause::None;
    std::vector<uint16_t> values;   // Values: values[k] is the block's first + k
    int exceptionCode = 0;          // Refused
    uint16_t stored = 0;            // Altered
    int tries = 0;                  // sends of the frame
    bool spoiltSeen = false;        // some try brought a frame that was no sound answer

    bool LeftThePc() const { return tries > 0; }
};

class LoadAsker {
public:
    using Done = std::function<void(const LoadAnswer&)>;
    virtual ~LoadAsker() = default;

    // `address` 0: Address(). `tries` 0: the asker's own. A probe asks an
    // address that may hold no device: its silence is no fault of the link.
    // `done` is called exactly once, from the event loop, never from inside
    // the call.
    virtual void Read(const RegisterBlock& block, int address, int tries, bool probe, Done done) = 0;
    virtual void Write(int reg, uint16_t value, int address, Done done) = 0;
    // The question under way is given up at once: a question that left the
    // PC ends Unconfirmed, anything else NotSent.
    virtual void Abandon() = 0;

    // The relay's address the questions go to.
    virtual int Address() const = 0;
    virtual void SetAddress(int address) = 0;
};
