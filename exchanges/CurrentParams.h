// Register map of the current-parameters block.
#pragma once

constexpr int kCurrentParamsFirst = 50;
constexpr int kCurrentParamsCount = 29;
constexpr int kStatusRegister = 66;
constexpr int kClockFirstRegister = 67;   // month, day, hour, minute, second

struct CurrentValueField {
    int field;   // E<field>
    int reg;
};

// In the order the fields are written: the operating time first, then the
// measurements of registers 50 to 60.
constexpr CurrentValueField kCurrentValueFields[] = {
    {0, 78}, {2, 50}, {3, 51}, {4, 52}, {5, 53}, {6, 54},
    {7, 55}, {8, 56}, {9, 57}, {10, 58}, {11, 59}, {12, 60},
};
