#include "exchanges/RegisterCatalog.h"

#include <algorithm>

#include "exchanges/ExchangeTable.h"
#include "link/BitText.h"

namespace {

constexpr int kWordBits = 16;
constexpr uint16_t kAllBits = 0xFFFF;

bool InSettingsBlock(int reg)
{
    return reg >= kSettingsBlock.first && reg < kSettingsBlock.first + kSettingsBlock.count;
}

// The check boxes that edit bits of a mask register.
std::vector<const ControlRow*> MaskBoxes(const PageTable& page, int reg)
{
    std::vector<const ControlRow*> boxes;
    for (const ControlRow& row : page.rows)
        if (row.kind == ControlKind::CheckBox && row.reg == reg)
            boxes.push_back(&row);
    return boxes;
}

SettingSpec MaskSpec(const PageTable& page, const ControlRow& field)
{
    SettingSpec definition;
    definition.row = &field;
    definition.name = field.name;
    definition.reg = field.reg;
    definition.kind = SettingKind::Mask;
    definition.minValue = 0;
    definition.maxValue = kAllBits;
    definition.fixedBits = kAllBits;
    const std::vector<const ControlRow*> boxes = MaskBoxes(page, field.reg);
    for (const ControlRow* box : boxes)
        if (box->enabled && box->bit >= 0)
            definition.fixedBits &= uint16_t(~(1u << box->bit));
    // The field's own caption is only "Маска:"; the column's title names the mask.
    const ControlRow* column = boxes.empty() ? nullptr : FindRow(boxes.front()->parent);
    definition.caption = column ? column->text : RowCaption(field);
    return definition;
}

SettingSpec EditorSpec(const ControlRow& row)
{
    SettingSpec definition;
    definition.row = &row;
    definition.name = row.name;
    definition.caption = RowCaption(row);
    definition.reg = row.reg;
    definition.unit = row.unit.text;
    if (row.kind == ControlKind::ComboBox) {
        definition.kind = SettingKind::Choice;
        definition.minValue = 0;
        definition.maxValue = int(row.items.size()) - 1;
    } else {
        definition.kind = SettingKind::Number;
        definition.minValue = row.minValue;
        definition.maxValue = row.maxValue;
    }
    return definition;
}

std::vector<SettingSpec> BuildSettingSpecs()
{
    std::vector<SettingSpec> definitions;
    for (const PageTable& page : LayoutTables()) {
        for (const ControlRow& row : page.rows) {
            if (!InSettingsBlock(row.reg))
                continue;
            if (row.kind == ControlKind::SpinEdit || row.kind == ControlKind::ComboBox)
                definitions.push_back(EditorSpec(row));
            else if (row.kind == ControlKind::ValueField && row.format == ValueFormat::BitText)
                definitions.push_back(MaskSpec(page, row));
        }
    }
    std::stable_sort(definitions.begin(), definitions.end(),
                     [](const SettingSpec& a, const SettingSpec& b) { return a.reg < b.reg; });
    return definitions;
}

}  // namespace

QString RowCaption(const ControlRow& row)
{
    QString text = row.caption.text.trimmed();
    if (row.caption2.present())
        text += QLatin1Char(' ') + row.caption2.text.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

int ItemForValue(const ControlRow& row, uint16_t value)
{
    return value < row.items.size() ? int(value) : row.itemForLarger;
}

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

QString SettingValueText(const SettingSpec& definition, uint16_t value)
{
    switch (definition.kind) {
    case SettingKind::Mask:
        return WordToBitText(value);
    case SettingKind::Choice: {
        const int item = ItemForValue(*definition.row, value);
        if (item < 0)
            return QStringLiteral("%1 (нет пункта)").arg(value);
        return QStringLiteral("%1 (%2)").arg(value).arg(definition.row->items[item].trimmed());
    }
    case SettingKind::Number:
        break;
    }
    return QString::number(value);
}

std::vector<ReadingSpec> PageReadings(int page)
{
    std::vector<ReadingSpec> readings;
    const std::vector<PageTable>& pages = LayoutTables();
    if (page < 0 || page >= int(pages.size()))
        return readings;
    for (const ControlRow& row : pages[size_t(page)].rows) {
        if (row.kind != ControlKind::ValueField || row.reg < 0 || row.format == ValueFormat::Moment)
            continue;
        readings.push_back({row.name, RowCaption(row), row.reg, row.unit.text, row.format});
    }
    return readings;
}

QStringList StatusBitNames(int page, int statusRegister)
{
    QStringList names;
    for (int bit = 0; bit < kWordBits; ++bit)
        names << QString();
    const std::vector<PageTable>& pages = LayoutTables();
    if (page < 0 || page >= int(pages.size()))
        return names;
    for (const ControlRow& row : pages[size_t(page)].rows)
        if (row.kind == ControlKind::Led && row.reg == statusRegister && row.bit >= 0 && row.bit < kWordBits)
            names[row.bit] = row.text;
    return names;
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
