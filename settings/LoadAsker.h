// The questions a load of settings asks the relay, as the load sees them: a
// read of a block or a write of one register, each finishing exactly once
// with how it ended. The load is written against this and nothing else, so
// that it runs over the relay session and in a test alike.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "link/RegisterValues.h"

enum class LoadReply {
    Values,       // a read answered
    ReadFailed,   // a read given up after its tries (exceptionCode set when refused)
    Echoed,       // a write confirmed by its exact echo
    Refused,      // a write refused with exceptionCode
    Altered,      // a write echoed with another value: `stored`
    Unconfirmed,  // a write that left the PC and was neither confirmed nor refused
    NotSent,      // never left the PC
};

// Why a question ended without an answer.
enum class LoadCause {
    None,
    NoAnswer,    // its tries ran out
    LineLost,    // the line went away or was closed
    Abandoned,   // given up by the asker
};

struct LoadAnswer {
    LoadReply outcome = LoadReply::NotSent;
    LoadCause cause = LoadCause::None;
    std::vector<uint16_t> values;   // Values: values[k] is the block's first + k
    int exceptionCode = 0;          // Refused; ReadFailed by a refusal
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
    // The question under way is given up at once: a write that left the PC
    // ends Unconfirmed, anything else NotSent.
    virtual void Abandon() = 0;

    // The relay's address the questions go to.
    virtual int Address() const = 0;
    virtual void SetAddress(int address) = 0;
};
