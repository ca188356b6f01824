// The masks page and its registers.
#pragma once

constexpr int kMasksPage = 7;
// Mask 1 (trip), mask 2 (event record), mask 3 (signal), in column order.
constexpr int kMaskRegisters[3] = {96, 107, 97};

// Where a mask bit stands in its 17-character bit text (1 is the first character).
int MaskBitTextPosition(int bit);
