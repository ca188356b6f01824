// The register map read as settings and readings: what the companion saves,
// compares and writes, and how it names and prints values. Built from the
// register table, so every program names, captions and limits a register alike.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "exchanges/RegisterTable.h"

enum class SettingKind {
    Number,   // a spin edit: its value within its range
    Choice,   // a selection box: the index of its item
    Mask,     // a protection mask: the whole word, shown as bit text
};

struct SettingSpec {
    const RegisterEntry* entry = nullptr;
    QString name;          // the key: SE2, NSE1, CB4, EditMask1
    QString caption;       // EntryCaption, or for a mask the name of the mask
    int reg = -1;
    QString unit;          // the unit label, empty where there is none
    SettingKind kind = SettingKind::Number;
    int minValue = 0;      // what the window can write: a spin edit's range,
    int maxValue = 0;      // a selection box's item indexes, any word for a mask
    uint16_t fixedBits = 0;   // masks: bits that have no box the user may change;
                              // the window writes them back as the relay holds them
};

// The setpoints ("Уставки"), the configuration ("Настройки") and the three
// masks ("Маски"), in register order.
const std::vector<SettingSpec>& SettingSpecs();
const SettingSpec* FindSetting(const QString& name);

// A setting's value as the window shows it, without the unit: "600",
// "1 (разрешить)", "01000000 01011011".
QString SettingValueText(const SettingSpec& definition, uint16_t value);
// The item text of a selection box's value, or empty when it shows none.
QString SettingItemText(const SettingSpec& definition, uint16_t value);

// A value that shows one register as a number or as bit text.
struct ReadingSpec {
    QString name;          // E2, P1E5
    QString caption;       // as its tab shows it
    int reg = -1;
    QString unit;          // Cyrillic "В" for volts, whatever the window's label shows
    bool bitText = false;  // a status word
    // The quantity's name in machine-readable output: "caption (unit)",
    // alike in the four event records though their tabs' captions differ.
    QString column;
};

// The readings of a block in table order (its clock fields excepted: they
// make one moment together).
std::vector<ReadingSpec> BlockReadings(const RegisterBlock& block);

// The names of the bits set in `word`, bit 0 first; a bit without a name is
// called by its number ("бит 15").
QStringList SetBitNames(const QStringList& bitNames, uint16_t word);
