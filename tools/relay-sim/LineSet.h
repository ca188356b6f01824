// --lines N: several relays' lines from one process, each as the simulator
// serves one (its own pty or TCP port, its relays at the --address list,
// its own queue and clocks), each on a thread of its own. The endpoints are
// printed one per line in order; a stop signal or --gone-after ends them all.
#pragma once

#include <functional>
#include <vector>

#include "Options.h"
#include "RegisterBank.h"

namespace relaysim {

// `banks` makes a fresh set of register banks for each line. Returns the exit status.
int ServeLines(const Options& options, uint64_t rngStart, const std::function<std::vector<RegisterBank>()>& banks);

} // namespace relaysim
