// A 16-bit register as the text of its bits, most significant first, with one
// blank after the eighth: "10000000 00000001" for 0x8001. Status words and
// masks are shown this way.
#pragma once

#include <QString>
#include <cstdint>

QString WordToBitText(uint16_t word);

// Reads the first 17 characters (fewer if the text is shorter) from the last
// to the first: a blank takes no bit position, "1" sets the bit of its
// position, anything else leaves it 0; positions from 16 upward add nothing.
uint16_t BitTextToWord(const QString& text);

// True for a text as WordToBitText writes it: 16 digits "0" or "1" with one
// blank after the eighth.
bool IsBitText(const QString& text);
