#include "settings/SettingsPlan.h"

#include <algorithm>

namespace {
constexpr int kWordBits = 16;

QString BitList(uint16_t bits)
{
    QStringList numbers;
    for (int bit = 0; bit < kWordBits; ++bit)
        if (bits >> bit & 1u)
            numbers << QString::number(bit);
    return numbers.join(QStringLiteral(", "));
}
}  // namespace

QString SettingLabel(const SettingSpec& definition)
{
    return QStringLiteral("%1 (%2) %3").arg(definition.name).arg(definition.reg).arg(definition.caption);
}

QString ValueWithUnit(const SettingSpec& definition, uint16_t value)
{
    const QString text = SettingValueText(definition, value);
    return definition.unit.isEmpty() ? text : text + QLatin1Char(' ') + definition.unit;
}

uint16_t LoadTarget(const SettingSpec& definition, uint16_t file, uint16_t held)
{
    if (definition.kind != SettingKind::Mask)
        return file;
    return uint16_t((file & ~definition.fixedBits) | (held & definition.fixedBits));
}

std::vector<SettingDifference> Differences(const SettingsFile& file, const RegisterValues& relay,
                                           bool includeAddress, std::optional<SettingDifference>* addressKept)
{
    std::vector<SettingDifference> found;
    for (const SettingValue& s : file.settings) {
        const uint16_t held = relay.At(s.definition->reg);
        if (held == LoadTarget(*s.definition, s.value, held))
            continue;
        if (s.definition->reg == kRelayAddressRegister && !includeAddress) {
            if (addressKept)
                *addressKept = SettingDifference{s.definition, held, s.value};
            continue;
        }
        found.push_back({s.definition, held, s.value});
    }
    return found;
}

QString DifferenceLine(const SettingDifference& d)
{
    return QStringLiteral("%1: relay %2, file %3")
        .arg(SettingLabel(*d.definition), ValueWithUnit(*d.definition, d.relay), ValueWithUnit(*d.definition, d.file));
}

LoadPlan PlanLoad(const SettingsFile& file, const RegisterValues& relay, bool includeAddress)
{
    LoadPlan plan;
    std::vector<PlannedWrite> addressWrite;
    for (const SettingValue& s : file.settings) {
        const SettingSpec& definition = *s.definition;
        const uint16_t held = relay.At(definition.reg);
        const uint16_t target = LoadTarget(definition, s.value, held);
        if (definition.kind == SettingKind::Mask) {
            if (target != s.value)
                plan.kept << QStringLiteral("%1: bits %2 are not the user's to change and stay as the relay "
                                            "holds them")
                                 .arg(SettingLabel(definition), BitList(uint16_t(target ^ s.value)));
        }
        if (definition.reg == kRelayAddressRegister && !includeAddress) {
            if (held != target)
                plan.kept << QStringLiteral("%1: relay %2, file %3: the relay's own address is written only "
                                            "with --include-address")
                                 .arg(SettingLabel(definition), ValueWithUnit(definition, held), ValueWithUnit(definition, target));
            continue;
        }
        plan.expected.push_back({&definition, target});
        if (held == target)
            continue;
        QString why;
        if (!InSettingRange(definition, target, why)) {
            plan.outOfRange << QStringLiteral("%1: relay %2, file %3: %4; not written")
                                   .arg(SettingLabel(definition), ValueWithUnit(definition, held),
                                        ValueWithUnit(definition, target), why);
            continue;
        }
        // Changing the address first would leave the other writes unanswered.
        (definition.reg == kRelayAddressRegister ? addressWrite : plan.writes).push_back({&definition, held, target});
    }
    plan.writes.insert(plan.writes.end(), addressWrite.begin(), addressWrite.end());
    return plan;
}
