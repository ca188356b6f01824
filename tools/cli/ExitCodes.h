// The program's exit codes, for scripts that call it.
#pragma once

constexpr int kExitDone = 0;         // everything asked for was done
constexpr int kExitRelayFailed = 1;  // the port or the relay failed: no answer, a refusal,
                                     // another value stored, a setting that did not hold
constexpr int kExitFailed = 1;       // the same code when a file or the output could not be written
constexpr int kExitBadUsage = 2;     // a bad command line or a bad settings file; nothing was written

// settings diff answers as diff(1) and cmp(1) do.
constexpr int kExitDiffSame = 0;     // the relay holds the file's settings
constexpr int kExitDiffer = 1;       // some setting differs
constexpr int kExitDiffTrouble = 2;  // a bad command line or file, or the port or the relay failed
