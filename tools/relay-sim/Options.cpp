#include "Options.h"

#include "RegisterBank.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace relaysim {

namespace {

// Decimal, or hexadecimal with 0x in front (leading zeros do not mean octal).
int BaseOf(const std::string& text)
{
    return text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') ? 16 : 10;
}

bool ParseLong(const std::string& text, long long lo, long long hi, long long& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, BaseOf(text));
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

bool ParseUnsigned64(const std::string& text, uint64_t& out)
{
    if (text.empty() || text[0] == '-')
        return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long v = std::strtoull(text.c_str(), &end, BaseOf(text));
    if (errno != 0 || *end != '\0')
        return false;
    out = v;
    return true;
}

bool ParseDouble(const std::string& text, double lo, double hi, double& out)
{
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// The comma-separated items of `text`; an empty item stays in as "".
std::vector<std::string> SplitCommas(const std::string& text)
{
    std::vector<std::string> items;
    size_t from = 0;
    for (;;) {
        const size_t comma = text.find(',', from);
        items.push_back(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
        if (comma == std::string::npos)
            return items;
        from = comma + 1;
    }
}

// --refuse-writes REG[,REG...]
bool ParseRegisterList(const std::string& text, std::vector<int>& out)
{
    for (const std::string& item : SplitCommas(text)) {
        long long r = 0;
        if (!ParseLong(item, 0, reg::Count - 1, r))
            return false;
        out.push_back(int(r));
    }
    return true;
}

// --record N=MONTH,DAY,HOUR,MINUTE,SECOND,STATUS,V1,...,V11: the 17
// registers of record N as presets.
bool ParseRecord(const std::string& text, std::vector<std::pair<int, uint16_t>>& out)
{
    const auto eq = text.find('=');
    long long n = 0;
    if (eq == std::string::npos || !ParseLong(text.substr(0, eq), 1, reg::RecordCount, n))
        return false;
    const std::vector<std::string> items = SplitCommas(text.substr(eq + 1));
    if (items.size() != size_t(reg::RecordLength))
        return false;
    std::vector<std::pair<int, uint16_t>> record;
    const int first = reg::RecordsFirst + int(n - 1) * reg::RecordLength;
    for (size_t k = 0; k < items.size(); ++k) {
        long long v = 0;
        if (!ParseLong(items[k], 0, 65535, v))
            return false;
        record.emplace_back(first + int(k), uint16_t(v));
    }
    out.insert(out.end(), record.begin(), record.end());
    return true;
}

} // namespace

bool ParseOptions(int argc, char** argv, Options& out, std::string& error)
{
    std::string gatewayOption; // the last option that only a gateway has
    for (int i = 1; i < argc; ++i) {
        std::string name = argv[i];
        std::optional<std::string> inlineValue;
        if (name.rfind("--", 0) == 0) {
            const auto eq = name.find('=');
            if (eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
        }

        auto flag = [&]() {
            if (inlineValue) {
                error = name + " takes no value";
                return false;
            }
            return true;
        };
        std::string value;
        auto takeValue = [&]() {
            if (inlineValue) {
                value = *inlineValue;
                return true;
            }
            if (i + 1 >= argc) {
                error = name + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        auto rate = [&](double& target) {
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 1.0, target)) {
                error = name + ": rate must be a number from 0 to 1, not '" + value + "'";
                return false;
            }
            return true;
        };

        if (name == "--help" || name == "-h") {
            if (!flag())
                return false;
            out.help = true;
        } else if (name == "--version") {
            if (!flag())
                return false;
            out.version = true;
        } else if (name == "--tcp" || name == "--modbus-tcp") {
            long long v = 0;
            if (!takeValue())
                return false;
            if (!ParseLong(value, 0, 65535, v)) {
                error = name + " must be a port 0..65535, not '" + value + "'";
                return false;
            }
            if (out.serve != Serve::Pty) {
                error = "--tcp and --modbus-tcp go alone, once";
                return false;
            }
            out.serve = name == "--tcp" ? Serve::Tcp : Serve::ModbusTcp;
            out.tcpPort = int(v);
        } else if (name == "--gateway-timeout-ms") {
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 60000.0, out.gatewayTimeoutMs)) {
                error = "--gateway-timeout-ms must be 0..60000, not '" + value + "'";
                return false;
            }
            gatewayOption = name;
        } else if (name == "--gateway-path-unavailable") {
            if (!flag())
                return false;
            out.gatewayPathUnavailable = true;
            gatewayOption = name;
        } else if (name == "--link") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "--link needs a path";
                return false;
            }
            out.linkPath = value;
        } else if (name == "--slave" || name == "--address") {
            long long v = 0;
            if (!takeValue())
                return false;
            if (!ParseLong(value, 1, 247, v)) {
                error = name + " must be 1..247, not '" + value + "'";
                return false;
            }
            // Two relays at one address would answer together on the line.
            if (std::find(out.addresses.begin(), out.addresses.end(), int(v)) != out.addresses.end()) {
                error = "address " + std::to_string(v) + " is given twice";
                return false;
            }
            out.addresses.push_back(int(v));
        } else if (name == "--no-pace") {
            if (!flag())
                return false;
            out.pace = false;
        } else if (name == "--turnaround-ms") {
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 60000.0, out.turnaroundMs)) {
                error = "--turnaround-ms must be 0..60000, not '" + value + "'";
                return false;
            }
        } else if (name == "--piece-bytes") {
            if (!takeValue())
                return false;
            long long v = 0;
            if (!ParseLong(value, 1, 64, v)) {
                error = "--piece-bytes must be 1..64, not '" + value + "'";
                return false;
            }
            out.pieceBytes = size_t(v);
        } else if (name == "--drop") {
            if (!rate(out.dropRate))
                return false;
        } else if (name == "--bad-crc") {
            if (!rate(out.badCrcRate))
                return false;
        } else if (name == "--garbage") {
            if (!rate(out.garbageRate))
                return false;
        } else if (name == "--exception") {
            if (!rate(out.exceptionRate))
                return false;
        } else if (name == "--truncate") {
            if (!rate(out.truncateRate))
                return false;
        } else if (name == "--unasked") {
            if (!rate(out.unaskedRate))
                return false;
        } else if (name == "--unasked-gap-ms") {
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 60000.0, out.unaskedGapMs)) {
                error = "--unasked-gap-ms must be 0..60000, not '" + value + "'";
                return false;
            }
        } else if (name == "--silent") {
            if (!flag())
                return false;
            out.silent = true;
        } else if (name == "--no-echo") {
            if (!flag())
                return false;
            out.noEcho = true;
        } else if (name == "--clamp") {
            long long v = 0;
            if (!takeValue())
                return false;
            if (!ParseLong(value, 0, 65535, v)) {
                error = "--clamp must be 0..65535, not '" + value + "'";
                return false;
            }
            out.clamp = uint16_t(v);
        } else if (name == "--address-change") {
            if (!takeValue())
                return false;
            if (value == "keep") {
                out.addressChange = AddressChange::Keep;
            } else if (value == "after-echo") {
                out.addressChange = AddressChange::AfterEcho;
            } else if (value == "at-once") {
                out.addressChange = AddressChange::AtOnce;
            } else {
                error = "--address-change must be keep, after-echo or at-once, not '" + value + "'";
                return false;
            }
        } else if (name == "--gone-after") {
            double s = 0;
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 1e7, s)) {
                error = "--gone-after must be a number of seconds, not '" + value + "'";
                return false;
            }
            out.goneAfterS = s;
        } else if (name == "--motor-start") {
            double s = 0;
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 1e7, s)) {
                error = "--motor-start must be a number of seconds, not '" + value + "'";
                return false;
            }
            out.motorStartS = s;
        } else if (name == "--seed") {
            uint64_t v = 0;
            if (!takeValue())
                return false;
            if (!ParseUnsigned64(value, v)) {
                error = "--seed must be an unsigned number, not '" + value + "'";
                return false;
            }
            out.rngStart = v;
        } else if (name == "--freeze") {
            if (!flag())
                return false;
            out.freeze = true;
        } else if (name == "--set") {
            if (!takeValue())
                return false;
            const auto eq = value.find('=');
            long long reg = 0, v = 0;
            if (eq == std::string::npos || !ParseLong(value.substr(0, eq), 0, 255, reg)
                || !ParseLong(value.substr(eq + 1), 0, 65535, v)) {
                error = "--set wants REG=VALUE with REG 0..255 and VALUE 0..65535, not '" + value + "'";
                return false;
            }
            out.presets.emplace_back(int(reg), uint16_t(v));
        } else if (name == "--record") {
            if (!takeValue())
                return false;
            if (!ParseRecord(value, out.presets)) {
                error = "--record wants N=MONTH,DAY,HOUR,MINUTE,SECOND,STATUS and eleven values, N 1..4 and "
                        "each of the 17 values 0..65535, not '" + value + "'";
                return false;
            }
        } else if (name == "--refuse-writes") {
            if (!takeValue())
                return false;
            if (!ParseRegisterList(value, out.refusedWrites)) {
                error = "--refuse-writes wants REG[,REG...] with each REG 0..255, not '" + value + "'";
                return false;
            }
        } else if (name == "--log") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "--log needs a file name";
                return false;
            }
            out.logPath = value;
        } else if (name == "--timing") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "--timing needs a file name";
                return false;
            }
            out.timingPath = value;
        } else if (name == "--dump") {
            if (!flag())
                return false;
            out.dump = true;
        } else if (bool takes = false; IsTalkerOption(name, takes)) {
            if (!(takes ? takeValue() : flag()) || !ParseTalkerOption(name, value, out.talker, error))
                return false;
        } else {
            error = "unknown option '" + std::string(argv[i]) + "'";
            return false;
        }
    }
    if (!gatewayOption.empty() && out.serve != Serve::ModbusTcp) {
        error = gatewayOption + " goes with --modbus-tcp";
        return false;
    }
    if (!out.linkPath.empty() && out.serve != Serve::Pty) {
        error = "--link makes a link to the pty, there is none with --tcp or --modbus-tcp";
        return false;
    }
    return true;
}

} // namespace relaysim
