#include "ModbusProtocol.h"

#include "link/Mbap.h"

namespace {

constexpr uint8_t kReadHolding = 0x03;
constexpr uint8_t kReadInput = 0x04;
constexpr uint8_t kIllegalFunction = 0x01;
constexpr uint8_t kIllegalValue = 0x03;
constexpr int kReadPduLength = 5;        // function, first register 2, count 2
constexpr int kMostRegisters = 125;
constexpr size_t kUnitAt = 6;
constexpr size_t kPduAt = 7;

int Word(std::string_view bytes, size_t at)
{
    return uint8_t(bytes[at]) << 8 | uint8_t(bytes[at + 1]);
}

void PutWord(std::string& out, int word)
{
    out.push_back(char(uint8_t(word >> 8)));
    out.push_back(char(uint8_t(word)));
}

// The answer's header: the request's transaction, protocol 0, the length of
// what follows (unit id and `pduLength`), the unit id.
std::string Head(std::string_view adu, int pduLength)
{
    std::string out(adu.substr(0, 4));
    PutWord(out, 1 + pduLength);
    out.push_back(adu[kUnitAt]);
    return out;
}

std::string Exception(std::string_view adu, uint8_t code)
{
    std::string out = Head(adu, 2);
    out.push_back(char(uint8_t(adu[kPduAt]) | 0x80));
    out.push_back(char(code));
    return out;
}

}  // namespace

const char* ModbusCounts::ResultName(size_t result)
{
    static const char* const names[kResults.size()] = {"ok", "illegal_function", "illegal_data_address",
                                                       "illegal_data_value", "gateway_path_unavailable",
                                                       "gateway_target_failed_to_respond"};
    return result < kResults.size() ? names[result] : "?";
}

void ModbusCounts::Count(uint8_t function, uint8_t exception)
{
    for (size_t k = 0; k < kResults.size(); ++k)
        if (kResults[k] == exception)
            counts_[function][k].fetch_add(1, std::memory_order_relaxed);
}

std::string ModbusProtocol::Answer(const ServedRegisters& registers, std::string_view adu, uint8_t* exception)
{
    const auto refuse = [&](uint8_t code) {
        *exception = code;
        return Exception(adu, code);
    };
    const uint8_t function = uint8_t(adu[kPduAt]);
    // Read-only: no write function, nor any other, is carried out.
    if (function != kReadHolding && function != kReadInput)
        return refuse(kIllegalFunction);
    const int unit = uint8_t(adu[kUnitAt]);
    if (!registers.Knows(unit))
        return refuse(mbap::kPathUnavailable);
    if (adu.size() - kPduAt != size_t(kReadPduLength))
        return refuse(kIllegalValue);
    const int first = Word(adu, kPduAt + 1);
    const int count = Word(adu, kPduAt + 3);
    if (count < 1 || count > kMostRegisters)
        return refuse(kIllegalValue);
    const ServedRegisters::Read read = registers.Registers(unit, first, count);
    if (read.exception)
        return refuse(read.exception);
    *exception = 0;
    std::string out = Head(adu, 2 + 2 * count);
    out.push_back(char(function));
    out.push_back(char(uint8_t(2 * count)));
    for (const uint16_t value : read.values)
        PutWord(out, value);
    return out;
}

ConnectionProtocol::Step ModbusProtocol::Take(std::string_view received)
{
    Step step;
    const int length = mbap::AduLength(reinterpret_cast<const uint8_t*>(received.data()), int(received.size()));
    if (length < 0) {
        step.verdict = Verdict::Close;
        return step;
    }
    if (length == 0 || received.size() < size_t(length))
        return step;   // More
    const std::string_view adu = received.substr(0, size_t(length));
    uint8_t exception = 0;
    step.reply.head = Answer(registers_, adu, &exception);
    counts_.Count(uint8_t(adu[kPduAt]), exception);
    step.verdict = Verdict::Reply;
    step.consumed = size_t(length);
    return step;
}
