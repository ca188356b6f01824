// The name the simulator is installed under, used in its messages.
#pragma once

namespace relaysim {

inline constexpr const char* kProgramName = "zashchita-relay-sim";

} // namespace relaysim
