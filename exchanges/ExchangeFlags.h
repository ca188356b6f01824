// The window's request flags in the exchange state: raised by its handlers,
// and applied in their fixed order at the end of a receive event.
#pragma once

#include "exchanges/ExchangeState.h"

// Applies and clears the raised request flags in their fixed order. While a
// clock write sequence runs, nothing is applied: the relay's clock is never
// left part new and part old.
void ApplyRequestFlags(ExchangeState& x);
bool ClockSequenceRunning(const ExchangeState& x);
