// What a settings file means for the relay: which settings differ, and what
// a load writes, in which order, and what it must read back. No I/O here.
#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

#include "link/RegisterValues.h"
#include "settings/SettingsFile.h"

// "SE2 (81) Ток МТЗ (отсечка)": name, register and caption of a setting.
QString SettingLabel(const SettingSpec& definition);
// "600 %", "1 (разрешить)", "01000000 01011011".
QString ValueWithUnit(const SettingSpec& definition, uint16_t value);

struct SettingDifference {
    const SettingSpec* definition = nullptr;
    uint16_t relay = 0;
    uint16_t file = 0;
};

// What a load makes of a file's value for a relay that holds `held`: a
// mask's bits that have no box the user may change (bits 9 to 12 of the trip
// and signal masks, bit 15 of all three) keep the relay's value, as the
// window writes them.
uint16_t LoadTarget(const SettingSpec& definition, uint16_t file, uint16_t held);

// The file's settings that a load would change, in register order: what a
// load keeps as the relay holds it is no difference. The relay's own
// address counts only when `includeAddress`; otherwise one that differs is
// put in `addressKept` (when given).
std::vector<SettingDifference> Differences(const SettingsFile& file, const RegisterValues& relay,
                                           bool includeAddress = true,
                                           std::optional<SettingDifference>* addressKept = nullptr);
// "SE2 (81) Ток МТЗ (отсечка): relay 650 %, file 600 %".
QString DifferenceLine(const SettingDifference& d);

struct PlannedWrite {
    const SettingSpec* definition = nullptr;
    uint16_t from = 0;   // what the relay holds
    uint16_t to = 0;     // what is written
};

struct LoadPlan {
    std::vector<PlannedWrite> writes;       // register order, the relay's own address last
    std::vector<SettingValue> expected;     // what each setting must read back as afterwards
    QStringList kept;                       // settings or bits left as the relay holds them, and why
    // Values the load would write that lie outside what the window lets the
    // user set, each with why; any of them refuses the whole load.
    QStringList outOfRange;
};

// Masks as LoadTarget makes them. The relay's own address is written only when asked.
// A value out of its setting's range is checked only where it would be
// written: one the relay already holds needs no write.
LoadPlan PlanLoad(const SettingsFile& file, const RegisterValues& relay, bool includeAddress);
