#include "SettingsPlan.h"

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

QString SettingLabel(const SettingSpec& spec)
{
    return QStringLiteral("%1 (%2) %3").arg(spec.name).arg(spec.reg).arg(spec.caption);
}

QString ValueWithUnit(const SettingSpec& spec, uint16_t value)
{
    const QString text = SettingValueText(spec, value);
    return spec.unit.isEmpty() ? text : text + QLatin1Char(' ') + spec.unit;
}

std::vector<SettingDifference> Differences(const SettingsFile& file, const BlockRead& relay)
{
    std::vector<SettingDifference> found;
    for (const SettingValue& s : file.settings) {
        const uint16_t held = relay.At(s.spec->reg);
        if (held != s.value)
            found.push_back({s.spec, held, s.value});
    }
    return found;
}

QString DifferenceLine(const SettingDifference& d)
{
    return QStringLiteral("%1: relay %2, file %3")
        .arg(SettingLabel(*d.spec), ValueWithUnit(*d.spec, d.relay), ValueWithUnit(*d.spec, d.file));
}

LoadPlan PlanLoad(const SettingsFile& file, const BlockRead& relay, bool includeAddress)
{
    LoadPlan plan;
    std::vector<PlannedWrite> addressWrite;
    for (const SettingValue& s : file.settings) {
        const SettingSpec& spec = *s.spec;
        const uint16_t held = relay.At(spec.reg);
        uint16_t target = s.value;
        if (spec.kind == SettingKind::Mask) {
            target = uint16_t((s.value & ~spec.fixedBits) | (held & spec.fixedBits));
            if (target != s.value)
                plan.kept << QStringLiteral("%1: bits %2 are not the user's to change and stay as the relay "
                                            "holds them")
                                 .arg(SettingLabel(spec), BitList(uint16_t(target ^ s.value)));
        }
        if (spec.reg == kRelayAddressRegister && !includeAddress) {
            if (held != target)
                plan.kept << QStringLiteral("%1: relay %2, file %3: the relay's own address is written only "
                                            "with --include-address")
                                 .arg(SettingLabel(spec), ValueWithUnit(spec, held), ValueWithUnit(spec, target));
            continue;
        }
        plan.expected.push_back({&spec, target});
        if (held == target)
            continue;
        // Changing the address first would leave the other writes unanswered.
        (spec.reg == kRelayAddressRegister ? addressWrite : plan.writes).push_back({&spec, held, target});
    }
    plan.writes.insert(plan.writes.end(), addressWrite.begin(), addressWrite.end());
    return plan;
}
