#include "Options.h"

#include "RegisterBank.h"

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

const char* UsageText()
{
    return R"(Usage: relay-sim [--link PATH] [--slave N] [--no-pace] [--turnaround-ms MS]
                 [--piece-bytes N] [--drop RATE] [--bad-crc RATE] [--garbage RATE] [--exception RATE]
                 [--truncate RATE] [--unasked RATE] [--unasked-gap-ms MS] [--silent]
                 [--clamp VALUE] [--refuse-writes REG[,REG...]] [--gone-after SECONDS]
                 [--seed N] [--freeze] [--set REG=VALUE]...
                 [--record N=M,D,H,MI,S,STATUS,V1,...,V11]... [--log FILE] [--timing FILE]
                 [--dump]

A motor-protection relay on a pseudo-terminal: a Modbus RTU slave that answers
function 3 (read holding registers 0..255, 1..125 at a time) and function 6
(write single register). Other functions, registers or counts get an exception
reply (codes 1, 2, 3); frames with a bad CRC and frames for other addresses
(broadcast included) are ignored. The relay's line is 9600 8N1.

The first line on stdout is the path of the pty to open. The simulator runs
until SIGINT or SIGTERM and survives the other side closing and reopening it.
Each new master finds the line clean: when the last one closes the pty, a
reply still under way or unread, a request broken off and the line's buffers
are thrown away, so nothing of an exchange cut short reaches the next one.

Registers: 50..60 live values that wander a little each second, 66 status
word, 67..71 the relay's clock (month, day, hour, minute, second; taken from
local time at start and ticking; a write of the second starts a new second),
78 operating minutes, 80..123 setpoints, configuration and masks (96, 97,
107), 128..195 four event records of 17 registers (month, day, hour, minute,
second, status, then eleven values). Writable: 67..71 (clock; month 1..12,
day 1..31, hour 0..23, minute 0..59, second 0..59, else exception 3) and
80..123 (stored and echoed; register 80 is stored but the relay keeps
answering to --slave). Writes elsewhere get exception 2, writes refused with
--refuse-writes exception 4.

The built-in event records try the master's date handling:
  1  31 December 23:59:58: later in the year than any moment before the last
     two seconds of the year, so a master that takes the year from its own
     clock puts it in the previous year
  2  30 February 08:15:42: every field in range, but no such date
  3  hour 24 (14 October, 24:17:36): a field out of range
  4  19 January 06:25:53: an ordinary moment, with status 0x8201 (bits 0, 9
     and 15, both ends of the word)
No two of the 68 record registers hold the same value.

Options:
  --link PATH          make a symlink PATH -> pty while running
  --slave N            slave address, 1..247 (default 1)
  --no-pace            answer at once in one write (default: after the request's
                       line time plus the turnaround, the bytes leaving at the
                       pace of 9600 8N1, two at a time)
  --turnaround-ms MS   pause between request and reply (default 3)
  --piece-bytes N      paced bytes leave N at a time, as a UART's FIFO or a USB
                       adapter hands them on, 1..64 (default 2)
  --drop RATE          share of replies that are not sent (request still acted on)
  --bad-crc RATE       share of replies sent with a wrong CRC
  --garbage RATE       share of replies preceded by 1..4 random bytes
  --exception RATE     share of requests answered with exception 4 instead
                       (a write is then not carried out)
  --truncate RATE      share of replies cut short (a random prefix is sent)
  --unasked RATE       share of replies followed by a frame nobody asked for (1:
                       after every reply; none after an exception reply): a
                       well-formed frame of the same slave and function, paced
                       like a reply, whose registers all hold the marker value
                       48879 (0xBEEF), so a master that shows 48879 took it
                       for an answer. After a read reply: the same byte count;
                       after a write echo: the same register. The relay's
                       registers are not changed by it
  --unasked-gap-ms MS  the frame nobody asked for starts MS after the last byte
                       of the reply, 0..60000 (default 2)
  --silent             never answer
  --clamp VALUE        a write above VALUE stores VALUE instead and the echo
                       carries VALUE (same register, other value)
  --refuse-writes REG[,REG...]
                       a write to any of these registers (0..255, decimal or
                       0x hex) is answered with exception 4, device failure
                       (function 0x86), and leaves the register as it was;
                       may be repeated
  --gone-after SECONDS after that time close the pty as a pulled adapter would,
                       remove the link and exit 0
  --seed N             random start for the fault choices and the wandering
                       values (default: from the time); RATEs are 0..1
  --freeze             values do not wander, the clock and operating minutes
                       stand still
  --set REG=VALUE      preset a register (0..255) after the built-in content;
                       may be repeated
  --record N=M,D,H,MI,S,STATUS,V1,...,V11
                       preset event record N (1..4): 17 comma-separated values
                       0..65535 for its registers 128+17*(N-1) onwards; may be
                       repeated, applied in order with --set
  --log FILE           append each received frame (any address) as a line of
                       hex bytes, e.g. "01 03 00 32 00 1D 24 0C"
  --timing FILE        append a line for each frame on the line, written as it
                       happens, with CLOCK_MONOTONIC nanoseconds:
                         RX FIRST LAST HEX  a request frame received (any
                                            address): when its first and last
                                            bytes were read
                         TX FIRST LAST HEX  a frame handed to the line: when its
                                            first and last bytes were written;
                                            " [unasked]" ends the line of a
                                            frame nobody asked for
  --dump               print REG=VALUE for all 256 registers and exit
  --help               this text

Exit status: 0 after SIGINT/SIGTERM or --gone-after, 1 if the pty, link or
a log cannot be set up, 2 for a bad command line.
)";
}

bool ParseOptions(int argc, char** argv, Options& out, std::string& error)
{
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
        } else if (name == "--link") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "--link needs a path";
                return false;
            }
            out.linkPath = value;
        } else if (name == "--slave") {
            long long v = 0;
            if (!takeValue())
                return false;
            if (!ParseLong(value, 1, 247, v)) {
                error = "--slave must be 1..247, not '" + value + "'";
                return false;
            }
            out.slave = int(v);
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
        } else if (name == "--clamp") {
            long long v = 0;
            if (!takeValue())
                return false;
            if (!ParseLong(value, 0, 65535, v)) {
                error = "--clamp must be 0..65535, not '" + value + "'";
                return false;
            }
            out.clamp = uint16_t(v);
        } else if (name == "--gone-after") {
            double s = 0;
            if (!takeValue())
                return false;
            if (!ParseDouble(value, 0.0, 1e7, s)) {
                error = "--gone-after must be a number of seconds, not '" + value + "'";
                return false;
            }
            out.goneAfterS = s;
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
        } else {
            error = "unknown option '" + std::string(argv[i]) + "'";
            return false;
        }
    }
    return true;
}

} // namespace relaysim
