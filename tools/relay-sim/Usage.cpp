// The text of --help.
#include "Options.h"
#include "OtherTalker.h"

#include <string>

namespace relaysim {

namespace {

const char* const kHead = R"(Usage: zashchita-relay-sim [--link PATH] [--address N]... [--no-pace] [--turnaround-ms MS]
           [--piece-bytes N] [--drop RATE] [--bad-crc RATE] [--garbage RATE]
           [--exception RATE] [--truncate RATE] [--unasked RATE] [--unasked-gap-ms MS]
           [--silent] [--no-echo] [--clamp VALUE] [--refuse-writes REG[,REG...]] [--gone-after SECONDS]
           [--address-change keep|after-echo|at-once]
           [--seed N] [--freeze] [--motor-start SECONDS] [--set REG=VALUE]... [--record N=M,D,H,MI,S,STATUS,V1,...,V11]...
           [--log FILE] [--timing FILE] [--lines N] [--trip-after SECONDS]
           [--peer-after-ms MS [--peer-whole] [--peer-slave N]] [--echo-after-refusal MS]
           [--noise HEX [--noise-every-ms MS]] [--flood]
           [--tcp PORT | --modbus-tcp PORT [--gateway-timeout-ms MS] [--gateway-path-unavailable]]
       zashchita-relay-sim --dump [--address N] [--set REG=VALUE]... [--record ...]...
       zashchita-relay-sim --help | --version

A motor-protection relay on a pseudo-terminal (or behind a TCP port, see
below): a Modbus RTU slave that answers
function 3 (read holding registers 0..255, 1..125 at a time) and function 6
(write single register). Other functions, registers or counts get an exception
reply (codes 1, 2, 3); frames with a bad CRC and frames for other addresses
(broadcast included) are ignored. The relay's line is 9600 8N1.

The first line on stdout is the path of the pty to open. The simulator runs
until SIGINT or SIGTERM and survives the other side closing and reopening it.
Each new master finds the line clean: when the last one closes the pty, a
reply still under way or unread, a request broken off and the line's buffers
are thrown away, so nothing of an exchange cut short reaches the next one.

With --tcp or --modbus-tcp the relay's line ends at a TCP port on 127.0.0.1
instead, and the first line on stdout is the endpoint, tcp://127.0.0.1:PORT or
modbus-tcp://127.0.0.1:PORT, with the real port number. One master at a time:
a new connection replaces the one before and finds the line clean.
  --tcp         a serial device server's raw TCP port: RTU frames with their
                CRC pass through unchanged; a reply goes out at the pace of
                the 9600 line behind it, each --piece-bytes piece as a network
                segment of its own
  --modbus-tcp  a Modbus TCP gateway: a request comes with an MBAP header
                (transaction id, protocol 0, length, unit id) and no CRC; its
                reply has the same transaction id and unit id, protocol 0 and
                the right length, no CRC, and is sent whole once the line time
                of the relay's RTU reply has passed. When no reply it can use
                comes back (no relay at that unit id, --silent, a dropped
                reply, one with a bad CRC) the gateway answers exception 0x0B,
                target failed to respond, after --gateway-timeout-ms. A
                broadcast (unit id 0) gets no answer, a frame of another
                protocol is ignored, and a length out of 2..254 closes the
                connection. --garbage puts its random bytes before the MBAP
                reply, --truncate hands on the PDU cut short (the length field
                telling), and a frame nobody asked for comes with the
                transaction id of the reply before it.
--log and --timing show the RTU frames the gateway puts on the line and gets
back (with their CRC, without the MBAP header); the gateway's own exception
replies end with " [gateway]" in the timing log.

Registers: 50..60 live values that wander a little each second, 66 status
word, 67..71 the relay's clock (month, day, hour, minute, second; taken from
local time at start and ticking; a write of the second starts a new second),
78 operating minutes, 80..123 setpoints, configuration and masks (96, 97,
107), 128..195 four event records of 17 registers (month, day, hour, minute,
second, status, then eleven values). Writable: 67..71 (clock; month 1..12,
day 1..31, hour 0..23, minute 0..59, second 0..59, else exception 3) and
80..123 (stored and echoed; register 80 is stored and, unless
--address-change says otherwise, the relay keeps answering to its --address).
Writes elsewhere get exception 2, writes refused with --refuse-writes
exception 4.

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
  --address N, --slave N
                       slave address, 1..247 (default 1); given more than once,
                       a relay at each address on the one line, each with its
                       own registers (register 80 holding its address) and
                       clock, answering only requests for its address; the
                       presets apply to all, --dump shows the first
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
                       registers are not changed by it. A request before it
                       begins drops it; one while it goes out collides: the
                       rest of the frame is spoilt, the request unanswered
  --unasked-gap-ms MS  the frame nobody asked for starts MS after the last byte
                       of the reply, 0..60000 (default 2)
  --silent             never answer
  --no-echo            answer reads but no write (a write is not carried out)
  --clamp VALUE        a write above VALUE stores VALUE instead and the echo
                       carries VALUE (same register, other value)
  --refuse-writes REG[,REG...]
                       a write to any of these registers (0..255, decimal or
                       0x hex) is answered with exception 4, device failure
                       (function 0x86), and leaves the register as it was;
                       may be repeated
  --address-change MODE what a write of register 80 (the relay's own address,
                       1..247 and no other relay's) does: keep (default) stores
                       it and keeps answering to --address, as a relay that
                       takes it on restart; after-echo echoes from the old
                       address, then answers to the new one; at-once answers
                       to the new one at once, its echo included
  --gone-after SECONDS after that time close the pty as a pulled adapter would,
                       remove the link and exit 0 (with --tcp or --modbus-tcp:
                       close the connection and the listening port, and exit 0)
  --lines N            serve N lines (1..128) from one process, each with the
                       relays of --address on its own pty or TCP port (a
                       given --tcp/--modbus-tcp PORT counts up, a --link PATH
                       gets .1, .2, ...); the endpoints come one per line, in
                       order; --log and --timing take every line's frames
  --trip-after SECONDS every relay trips on overload after that time: its
                       event records move one place on (the fourth is lost),
                       the first holds the moment by its clock, status 0x0208
                       (overload, motor off) and the present values, and its
                       status word reads 0x0208; SIGUSR1 makes every relay
                       trip so at once, each time it comes
  --seed N             random start for the fault choices and the wandering
                       values (default: from the time); RATEs are 0..1
  --freeze             values do not wander, the clock and operating minutes
                       stand still
  --motor-start SECONDS  the motor stands switched off, and is started that
                       many seconds after the start-up: the currents rise to
                       about 6 times rated, fall back within 3 s, then
                       "start finished"; every relay of the line plays it
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
  --tcp PORT           serve as a device server's raw TCP port on 127.0.0.1
                       (see above); PORT 0 takes a free one
  --modbus-tcp PORT    serve as a Modbus TCP gateway on 127.0.0.1 (see above);
                       PORT 0 takes a free one
  --gateway-timeout-ms MS
                       how long the gateway waits for a relay's reply before it
                       answers exception 0x0B, 0..60000 (default 200)
  --gateway-path-unavailable
                       the gateway answers every request with exception 0x0A,
                       gateway path unavailable; nothing reaches a relay
  --dump               print REG=VALUE for all 256 registers and exit
  --version            print the version and exit
  --help               this text
)";

const char* const kExitStatus = R"(
Exit status: 0 after SIGINT/SIGTERM or --gone-after, 1 if the pty, link, TCP
port or a log cannot be set up, 2 for a bad command line.
)";

} // namespace

const char* UsageText()
{
    // The other master's and the noise's options stand with the rest, before the exit status.
    static const std::string text = std::string(kHead) + kTalkerUsage + kExitStatus;
    return text.c_str();
}

} // namespace relaysim
