// The receive path under arbitrary input, for the fuzzer and for the replay
// of its corpus in the suite. The input picks a request the tool sends and
// then a stream of operations: arbitrary bytes delivered in pieces of any
// size, poll ticks, the right answer cut at any point, and switches of the
// exchange at any moment. After every step it checks properties, not just
// the absence of a crash:
//   - nothing is handed to a decoder unless it answers the request sent
//     (slave, function, byte count, CRC);
//   - a write is confirmed only by its exact echo, and ended otherwise only
//     by a sound exception or echo of the same register from the same slave;
//   - RxCount never passes the end of RxBuffer.
// A broken property aborts with a message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct FuzzRequest {
    uint8_t function;   // 3 or 6
    uint16_t reg;
    uint16_t operand;   // register count, or the value written
};

// Every request the tool sends, one row per read block and one write per
// kind of register written.
const std::vector<FuzzRequest>& FuzzRequests();

void FuzzReceive(const uint8_t* data, size_t size);
