// Registers as the relay link hands them on: a block read with function 3,
// its first register and values, and what the request was.
#pragma once

#include <cstdint>
#include <vector>

// A run of holding registers read with function 3.
struct RegisterBlock {
    int first = 0;
    int count = 0;

    bool Contains(int reg) const { return reg >= first && reg < first + count; }
    friend bool operator==(const RegisterBlock&, const RegisterBlock&) = default;
};

struct RegisterValues {
    RegisterBlock block;
    std::vector<uint16_t> values;   // values[k] is register block.first + k
    int32_t mode = 0;               // the polled exchange that asked (its tag at the send); 0 for a question
    uint8_t context = 0;            // and its sub-selection
    // Read while another master was on the line (RelaySession): the values
    // may be its traffic's, not the relay's.
    bool foreign = false;

    bool Carries(int reg) const { return block.Contains(reg); }
    uint16_t At(int reg) const { return values[size_t(reg - block.first)]; }
};
