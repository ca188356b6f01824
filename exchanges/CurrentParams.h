// Register map of the current-parameters block.
#pragma once

constexpr int kCurrentParamsFirst = 50;
constexpr int kCurrentParamsCount = 29;
constexpr int kStatusRegister = 66;
constexpr int kClockFirstRegister = 67;   // month, day, hour, minute, second
