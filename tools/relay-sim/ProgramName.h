// The name the simulator goes by in its messages.
#pragma once

namespace relaysim {

inline constexpr const char* kProgramName = "relay-sim";

} // namespace relaysim
