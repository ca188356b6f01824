#include "Trip.h"

namespace relaysim {

void RecordTrip(RegisterBank& bank, uint16_t status)
{
    // The older records move on: the third to the fourth, and so on.
    for (int record = reg::RecordCount; record >= 2; --record) {
        const int to = reg::RecordsFirst + reg::RecordLength * (record - 1);
        const int from = to - reg::RecordLength;
        for (int k = 0; k < reg::RecordLength; ++k)
            bank.preset(to + k, bank.get(from + k));
    }
    // A record: month, day, hour, minute, second, status, then the values in
    // the order of the current parameters' own.
    const int values[] = {reg::Month,        reg::Day,           reg::Hour,          reg::Minute,
                          reg::Second,       -1,                 reg::PhaseA,        reg::PhaseB,
                          reg::PhaseC,       reg::Insulation,    reg::Unbalance,     reg::Ripple,
                          reg::ThermalImpulse, reg::StartImpulse, reg::SupplyVoltage, reg::StartCurrent,
                          reg::StartTime};
    static_assert(sizeof values / sizeof values[0] == size_t(reg::RecordLength));
    for (int k = 0; k < reg::RecordLength; ++k)
        bank.preset(reg::RecordsFirst + k, values[k] < 0 ? status : bank.get(values[k]));
    bank.preset(reg::Status, status);
}

} // namespace relaysim
