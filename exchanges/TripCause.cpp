#include "exchanges/TripCause.h"

#include "exchanges/StatusFlags.h"

namespace {

constexpr int kLastProtectionBit = 8;
constexpr int kProlongedStartBit = 14;
constexpr size_t kRecordStatusOffset = 5;

bool IsProtection(int bit)
{
    return bit <= kLastProtectionBit || bit == kProlongedStartBit;
}

}  // namespace

QString TripCause(uint16_t status)
{
    for (int bit = 0; bit <= kProlongedStartBit; ++bit)
        if (IsProtection(bit) && (status >> bit & 1u))
            return FlagName(bit);
    return QStringLiteral("other");
}

QString RecordTripCause(const std::vector<uint16_t>& registers)
{
    return registers.size() > kRecordStatusOffset ? TripCause(registers[kRecordStatusOffset]) : QStringLiteral("other");
}

std::vector<QString> TripCauses()
{
    std::vector<QString> causes;
    for (int bit = 0; bit <= kProlongedStartBit; ++bit)
        if (IsProtection(bit))
            causes.push_back(FlagName(bit));
    causes.push_back(QStringLiteral("other"));
    return causes;
}
