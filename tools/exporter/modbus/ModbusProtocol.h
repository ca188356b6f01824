// One connection of the exporter's Modbus TCP server, read-only: requests
// framed by their MBAP header, taken in the order they came, each answered
// from what the exporter read last (ServedRegisters). Functions 3 and 4
// read the relay's registers at their own addresses; every other function,
// the writes among them, is refused with 0x01 and never reaches a line. A
// unit id no relay has is answered 0x0A, a request of the wrong length or
// of 0 or more than 125 registers 0x03, registers not polled 0x02, and a
// relay down or a block too old 0x0B. A header that is no MBAP header
// (protocol id not 0, length outside 2..254) closes the connection: the
// stream cannot be followed past it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "ConnectionProtocol.h"
#include "ServedRegisters.h"

// Requests answered, by function code and result; counted on the server's
// thread, read from any.
class ModbusCounts {
public:
    // The results counted apart: ok, then each exception the server answers.
    static constexpr std::array<uint8_t, 6> kResults{0x00, 0x01, 0x02, 0x03, 0x0A, 0x0B};
    static const char* ResultName(size_t result);

    void Count(uint8_t function, uint8_t exception);
    uint64_t Of(uint8_t function, size_t result) const
    {
        return counts_[function][result].load(std::memory_order_relaxed);
    }

private:
    std::array<std::array<std::atomic<uint64_t>, kResults.size()>, 256> counts_{};
};

class ModbusProtocol : public ConnectionProtocol {
public:
    ModbusProtocol(const ServedRegisters& registers, ModbusCounts& counts) : registers_(registers), counts_(counts) {}

    Step Take(std::string_view received) override;

    // The answer ADU to the whole request ADU `adu` (its header sound), and
    // the exception it carries (0: none).
    static std::string Answer(const ServedRegisters& registers, std::string_view adu, uint8_t* exception);

private:
    const ServedRegisters& registers_;
    ModbusCounts& counts_;
};
