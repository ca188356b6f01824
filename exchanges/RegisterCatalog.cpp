#include "exchanges/RegisterCatalog.h"

#include <algorithm>

#include "exchanges/EventRecords.h"
#include "exchanges/BitText.h"

namespace {

constexpr int kWordBits = 16;
constexpr uint16_t kAllBits = 0xFFFF;

// The window's supply-voltage label shows a Latin "B", as it always has; a
// value printed or written by a program takes the Cyrillic "В" of volts.
QString ReadingUnit(const QString& unit)
{
    return unit == QLatin1String("B") ? QStringLiteral("В") : unit;
}

SettingSpec SpecOf(const RegisterEntry& e)
{
    SettingSpec definition;
    definition.entry = &e;
    definition.name = e.key;
    definition.caption = EntryCaption(e);
    definition.reg = e.reg;
    definition.unit = e.unit;
    switch (e.kind) {
    case RegisterKind::Mask:
        definition.kind = SettingKind::Mask;
        definition.minValue = 0;
        definition.maxValue = kAllBits;
        definition.fixedBits = e.fixedBits;
        break;
    case RegisterKind::Choice:
        definition.kind = SettingKind::Choice;
        definition.minValue = 0;
        definition.maxValue = int(e.items.size()) - 1;
        break;
    default:
        definition.kind = SettingKind::Number;
        definition.minValue = e.minValue;
        definition.maxValue = e.maxValue;
        break;
    }
    return definition;
}

std::vector<SettingSpec> BuildSettingSpecs()
{
    std::vector<SettingSpec> definitions;
    for (const RegisterEntry& e : RegisterTable())
        if (e.kind == RegisterKind::Number || e.kind == RegisterKind::Choice || e.kind == RegisterKind::Mask)
            definitions.push_back(SpecOf(e));
    std::stable_sort(definitions.begin(), definitions.end(),
                     [](const SettingSpec& a, const SettingSpec& b) { return a.reg < b.reg; });
    return definitions;
}

}  // namespace

const std::vector<SettingSpec>& SettingSpecs()
{
    static const std::vector<SettingSpec> definitions = BuildSettingSpecs();
    return definitions;
}

const SettingSpec* FindSetting(const QString& name)
{
    for (const SettingSpec& definition : SettingSpecs())
        if (definition.name == name)
            return &definition;
    return nullptr;
}

QString SettingItemText(const SettingSpec& definition, uint16_t value)
{
    if (definition.kind != SettingKind::Choice)
        return QString();
    const int item = ItemForValue(*definition.entry, value);
    return item < 0 ? QString() : definition.entry->items[item].trimmed();
}

QString SettingValueText(const SettingSpec& definition, uint16_t value)
{
    switch (definition.kind) {
    case SettingKind::Mask:
        return WordToBitText(value);
    case SettingKind::Choice: {
        const QString item = SettingItemText(definition, value);
        if (item.isEmpty())
            return QStringLiteral("%1 (нет пункта)").arg(value);
        return QStringLiteral("%1 (%2)").arg(value).arg(item);
    }
    case SettingKind::Number:
        break;
    }
    return QString::number(value);
}

std::vector<ReadingSpec> BlockReadings(const RegisterBlock& block)
{
    const std::vector<const RegisterEntry*> entries =
        EntriesIn(block, {RegisterKind::Reading, RegisterKind::StatusWord});
    // The records share one layout; their columns take record 1's captions.
    std::vector<const RegisterEntry*> named = entries;
    for (int record = 2; record <= kRecordCount; ++record)
        if (block == RecordBlock(record))
            named = EntriesIn(RecordBlock(1), {RegisterKind::Reading, RegisterKind::StatusWord});
    std::vector<ReadingSpec> readings;
    for (size_t k = 0; k < entries.size(); ++k) {
        const RegisterEntry& e = *entries[k];
        const QString unit = ReadingUnit(e.unit);
        const QString caption = EntryCaption(*named[k]);
        readings.push_back({e.key, EntryCaption(e), e.reg, unit, e.kind == RegisterKind::StatusWord,
                            unit.isEmpty() ? caption : QStringLiteral("%1 (%2)").arg(caption, unit)});
    }
    return readings;
}

QStringList SetBitNames(const QStringList& bitNames, uint16_t word)
{
    QStringList set;
    for (int bit = 0; bit < kWordBits; ++bit) {
        if (!(word >> bit & 1u))
            continue;
        const QString name = bit < bitNames.size() ? bitNames[bit] : QString();
        set << (name.isEmpty() ? QStringLiteral("бит %1").arg(bit) : name);
    }
    return set;
}
