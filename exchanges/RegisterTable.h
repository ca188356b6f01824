// The relay's register map as plain data, declared once: for every register
// the tool reads or writes, its key (the name of the control that shows it,
// which is also its name in settings files), register, caption, unit, range,
// kind and the block it is read in. The window's layout refers to these
// entries by key and adds only geometry; the decoders, the writes, the
// companion, the simulator, the report files and the tests read them too.
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "link/RegisterValues.h"

enum class RegisterKind {
    Reading,      // a measured or counted value, shown as plain decimal
    StatusWord,   // a status register, shown as bit text and by its named bits
    StatusBit,    // one named bit of a status register (a lamp)
    Moment,       // the first of a clock's fields: month and day, or hour, minute and second
    Number,       // a setting the user writes: a whole number within its range
    Choice,       // a setting chosen from a list of items (its index is the value)
    Mask,         // a protection mask: a word of bits, shown as bit text
    MaskBit,      // one bit of a mask, with its caption (a check box)
};

struct RegisterEntry {
    QString key;            // "E2", "SE5", "NSE1", "CB4", "EditMask1", "L3", "M1CB4", "P2E5"
    int reg = -1;
    int bit = -1;           // StatusBit and MaskBit: which bit of reg
    QString caption;        // as the window shows it, first line ("Ток фазы А:")
    QString caption2;       // second line of a two-line caption, or empty
    QString unit;           // "%", "мс", or empty
    RegisterKind kind = RegisterKind::Reading;
    RegisterBlock block;    // the block it is read in
    int minValue = 0;       // Number: the range the window can write, and its step
    int maxValue = 65535;
    int increment = 1;
    QStringList items;      // Choice: the items in list order
    int itemForLarger = -1; // Choice: the item shown for a value past the list, -1 none
    uint16_t fixedBits = 0; // Mask: bits the user may not change; MaskBit: 1 when its own bit is fixed
};

// Every entry, in the order the window shows them page by page.
const std::vector<RegisterEntry>& RegisterTable();

// The entry with this key, or nullptr.
const RegisterEntry* FindRegister(const QString& key);
// The register of a key that must exist (the program's own names).
int RegisterOf(const QString& key);

// The entries read in `block` of the given kinds, in table order.
std::vector<const RegisterEntry*> EntriesIn(const RegisterBlock& block, std::initializer_list<RegisterKind> kinds);

// The caption with both lines joined by a blank and without its closing
// colon: "Уровень срабатывания изоляции".
QString EntryCaption(const RegisterEntry& entry);

// The item a selection box shows for a register value: that item when the
// value is one of its indexes, else the entry's item for larger values (-1: none).
int ItemForValue(const RegisterEntry& entry, uint16_t value);

// The names of the 16 bits of a status register or mask, bit 0 first; a bit
// without a name (no lamp, no box) is empty.
QStringList BitNames(int reg);

// The relay's own slave address, the first register of the settings block.
constexpr int kRelayAddressRegister = 80;
