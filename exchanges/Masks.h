// The masks page and its registers.
#pragma once

constexpr int kMasksPage = 7;
// Mask 1 (trip), mask 2 (event record), mask 3 (signal), in column order.
constexpr int kMaskRegisters[3] = {96, 107, 97};

// Where a mask bit stands in its 17-character bit text (1 is the first character):
// bits 15 to 8 in characters 1 to 8, the blank in 9, bits 7 to 0 in 10 to 17.
constexpr int MaskBitTextPosition(int bit)
{
    return bit >= 8 ? 16 - bit : 17 - bit;
}
