// The register map as plain data, without widgets: which register each
// setting, value field and status lamp of the layout tables stands for, with
// its caption, unit and range. The window binds these rows to its controls;
// the command-line program reads and writes the relay by the same rows, so
// both name, caption and limit a register alike.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "app/LayoutTables.h"

// The relay's own slave address, the first register of the settings block.
constexpr int kRelayAddressRegister = 80;

// The caption beside a control, both lines joined with a blank, without the
// closing colon: "Уровень срабатывания изоляции".
QString RowCaption(const ControlRow& row);

// The item a selection box shows for a register value: that item when the
// value is one of its indexes, else the row's item for larger values (-1: none).
int ItemForValue(const ControlRow& row, uint16_t value);

enum class SettingKind {
    Number,   // a spin edit: its value within its range
    Choice,   // a selection box: the index of its item
    Mask,     // a protection mask: the whole word, shown as bit text
};

struct SettingSpec {
    const ControlRow* row = nullptr;
    QString name;          // the control's objectName: SE2, NSE1, CB4, EditMask1
    QString caption;       // RowCaption, or for a mask the title of its column
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

// A value field that shows one register as a number or as bit text.
struct ReadingSpec {
    QString name;          // E2, P1E5
    QString caption;
    int reg = -1;
    QString unit;
    ValueFormat format = ValueFormat::Decimal;
};

// The value fields of a page in table order; moments are left out (their
// exchange composes them from several registers).
std::vector<ReadingSpec> PageReadings(int page);

// The captions of the lamps that show the bits of `statusRegister` on a
// page, bit 0 first, 16 entries; a bit with no lamp has an empty name.
QStringList StatusBitNames(int page, int statusRegister);

// The names of the bits set in `word`, bit 0 first; a bit without a name is
// called by its number ("бит 15").
QStringList SetBitNames(const QStringList& bitNames, uint16_t word);
