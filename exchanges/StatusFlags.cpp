#include "exchanges/StatusFlags.h"

#include <QHash>

#include <algorithm>

#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterTable.h"

namespace {

// By the register map's key. A lamp added to the map without a name here is
// exported under its key in lower case.
const QHash<QString, QString>& NamesByKey()
{
    static const QHash<QString, QString> names{
        {QStringLiteral("L0"), QStringLiteral("instantaneous_overcurrent")},
        {QStringLiteral("L1"), QStringLiteral("current_unbalance")},
        {QStringLiteral("L2"), QStringLiteral("current_ripple")},
        {QStringLiteral("L3"), QStringLiteral("overload")},
        {QStringLiteral("L4"), QStringLiteral("heavy_start")},
        {QStringLiteral("L5"), QStringLiteral("start_inhibit")},
        {QStringLiteral("L6"), QStringLiteral("insulation_low")},
        {QStringLiteral("L7"), QStringLiteral("no_load")},
        {QStringLiteral("L8"), QStringLiteral("discrete_input")},
        {QStringLiteral("L9"), QStringLiteral("motor_off")},
        {QStringLiteral("L10"), QStringLiteral("motor_on")},
        {QStringLiteral("L11"), QStringLiteral("start_finished")},
        {QStringLiteral("L12"), QStringLiteral("protection_blocked")},
        {QStringLiteral("L13"), QStringLiteral("switch_on_delay")},
        {QStringLiteral("L14"), QStringLiteral("prolonged_start")},
    };
    return names;
}

constexpr int kStartTimeBit = 15;

}  // namespace

const std::vector<StatusFlag>& StatusFlags()
{
    static const std::vector<StatusFlag> flags = [] {
        std::vector<StatusFlag> built;
        for (const RegisterEntry* e : EntriesIn(kCurrentParamsBlock, {RegisterKind::StatusBit}))
            built.push_back({e->key, e->bit, NamesByKey().value(e->key, e->key.toLower())});
        std::sort(built.begin(), built.end(), [](const StatusFlag& a, const StatusFlag& b) { return a.bit < b.bit; });
        return built;
    }();
    return flags;
}

QString FlagName(int bit)
{
    for (const StatusFlag& flag : StatusFlags())
        if (flag.bit == bit)
            return flag.name;
    return bit == kStartTimeBit ? QStringLiteral("start_time") : QStringLiteral("bit%1").arg(bit);
}
