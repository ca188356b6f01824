// The program's exit codes, for scripts that call it.
#pragma once

constexpr int kExitDone = 0;         // everything asked for was done
constexpr int kExitRelayFailed = 1;  // the port or the relay failed: no answer, a refusal,
                                     // another value stored, a setting that did not hold
constexpr int kExitBadUsage = 2;     // a bad command line or a bad settings file; nothing was written
