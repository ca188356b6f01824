// The window's motor-start detector (history/StartDetector) fed the current
// parameters as the exporter reads them, so that both count a start alike:
// a start is told as soon as it ends (its finish, the motor off, the limit,
// or the relay gone), with no samples kept before it or after its finish.
#pragma once

#include <optional>

#include "history/StartDetector.h"
#include "link/RegisterValues.h"

class StartWatch {
public:
    // The current-parameters block read at `unixMs`; other blocks pass by.
    std::optional<StartRecord> Add(const RegisterValues& values, qint64 unixMs);
    // The relay stopped answering: a start under way ends here.
    std::optional<StartRecord> Break();

private:
    StartDetector detector_{0, 0, StartDetector::kLimitMs};
    bool afterGap_ = false;
};
