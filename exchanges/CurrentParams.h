// Register map of the current-parameters block.
#pragma once

constexpr int kCurrentParamsPage = 0;
constexpr int kStatusRegister = 66;
constexpr int kClockFirstRegister = 67;   // month, day, hour, minute, second
