#include "support/ReceiveFuzz.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>

#include "link/PollCycle.h"

namespace {

[[noreturn]] void Broken(const char* what)
{
    std::fprintf(stderr, "receive path property broken: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(cond)          \
    do {                          \
        if (!(cond))              \
            Broken(#cond);        \
    } while (0)

class Line : public ILinePort {
public:
    std::deque<uint8_t> incoming;
    uint8_t lastRequest[kRequestLength] = {};
    int written = 0;

    bool IsOpen() const override { return true; }
    void WriteByte(uint8_t b) override { lastRequest[written++ % kRequestLength] = b; }
    bool ReadByte(uint8_t& b) override
    {
        if (incoming.empty())
            return false;
        b = incoming.front();
        incoming.pop_front();
        return true;
    }
    int BytesWaiting() override { return int(incoming.size()); }
};

bool CrcHolds(const uint8_t* frame, int length)
{
    const uint16_t crc = ModbusCrc16(frame, size_t(length - 2));
    return frame[length - 2] == uint8_t(crc) && frame[length - 1] == uint8_t(crc >> 8);
}

class CheckingClient : public PollClient {
public:
    CheckingClient(LinkState& s, Line& line) : s_(s), line_(line) {}
    size_t selected = 0;
    int slave = 1;

    void BuildRequest() override
    {
        const FuzzRequest& r = FuzzRequests()[selected];
        if (r.function == kFunctionRead)
            FillReadRequest(s_.TxFrame, slave, r.reg, r.operand);
        else
            FillWriteRequest(s_.TxFrame, slave, r.reg, r.operand);
    }
    void HandleReadReply(const SentRequest& sent) override
    {
        FUZZ_CHECK(sent.valid && !sent.IsWrite());
        FUZZ_CHECK(std::memcmp(sent.frame, line_.lastRequest, kRequestLength) == 0);
        const int n = 2 * sent.Operand();
        FUZZ_CHECK(s_.RxCount >= n + 5);
        FUZZ_CHECK(s_.RxBuffer[0] == sent.Slave() && s_.RxBuffer[1] == kFunctionRead && s_.RxBuffer[2] == n);
        FUZZ_CHECK(CrcHolds(s_.RxBuffer, n + 5));
    }
    void HandleWriteReply(const SentRequest& sent, ReplyVerdict verdict) override
    {
        FUZZ_CHECK(sent.valid && sent.IsWrite());
        FUZZ_CHECK(std::memcmp(sent.frame, line_.lastRequest, kRequestLength) == 0);
        switch (verdict) {
        case ReplyVerdict::WriteEcho:
            FUZZ_CHECK(std::memcmp(s_.RxBuffer, sent.frame, kRequestLength) == 0);
            break;
        case ReplyVerdict::WriteAltered:
            FUZZ_CHECK(std::memcmp(s_.RxBuffer, sent.frame, 4) == 0 && CrcHolds(s_.RxBuffer, kRequestLength));
            break;
        case ReplyVerdict::Refused:
            FUZZ_CHECK(s_.RxBuffer[0] == sent.Slave() && s_.RxBuffer[1] == (kFunctionWrite | kExceptionBit));
            FUZZ_CHECK(CrcHolds(s_.RxBuffer, 5));
            break;
        default:
            Broken("a write ended by a reply that is neither echo, altered echo nor refusal");
        }
    }
    void CloseDue() override {}
    void LinkLookChanged(bool) override {}

private:
    LinkState& s_;
    Line& line_;
};

// The relay's right answer to the request in flight.
std::vector<uint8_t> RightAnswer(const SentRequest& sent)
{
    std::vector<uint8_t> reply;
    if (sent.IsWrite()) {
        reply.assign(sent.frame, sent.frame + kRequestLength);
        return reply;
    }
    reply = {sent.Slave(), kFunctionRead, uint8_t(2 * sent.Operand())};
    for (int i = 0; i < sent.Operand(); ++i) {
        reply.push_back(uint8_t(i));
        reply.push_back(uint8_t(i * 7));
    }
    const uint16_t crc = ModbusCrc16(reply.data(), reply.size());
    reply.push_back(uint8_t(crc));
    reply.push_back(uint8_t(crc >> 8));
    return reply;
}

}  // namespace

const std::vector<FuzzRequest>& FuzzRequests()
{
    static const std::vector<FuzzRequest> requests = {
        {3, 50, 29}, {3, 80, 44}, {3, 50, 11}, {3, 128, 17}, {3, 145, 17}, {3, 162, 17}, {3, 179, 17},
        {3, 96, 12}, {6, 67, 12}, {6, 71, 59}, {6, 108, 4250}, {6, 80, 1}, {6, 96, 0x8001}, {6, 107, 0xFFFF},
    };
    return requests;
}

void FuzzReceive(const uint8_t* data, size_t size)
{
    if (size < 2)
        return;
    LinkState s;
    Line line;
    CheckingClient client(s, line);
    PollCycle cycle(s, client);
    cycle.SetLine(&line);
    client.selected = data[0] % FuzzRequests().size();
    client.slave = 1 + data[1] % 247;
    s.SlaveAddress = client.slave;
    s.ReadyToSend = 1;
    size_t at = 2;
    auto deliver = [&](const uint8_t* bytes, size_t count) {
        line.incoming.insert(line.incoming.end(), bytes, bytes + count);
        cycle.Receive(line.BytesWaiting());
        FUZZ_CHECK(s.RxCount <= kRxBufferSize);
    };
    while (at < size) {
        const uint8_t op = data[at++];
        const size_t arg = op & 0x3F;
        switch (op >> 6) {
        case 0: {   // arbitrary bytes from the input
            const size_t count = std::min(arg + 1, size - at);
            deliver(data + at, count);
            at += count;
            break;
        }
        case 1:     // poll ticks
            for (size_t i = 0; i <= arg; ++i)
                cycle.Tick();
            break;
        case 2: {   // the right answer, cut at a point
            const std::vector<uint8_t> answer = RightAnswer(s.Sent);
            const size_t cut = arg % (answer.size() + 1);
            deliver(answer.data(), cut);
            if (at < size && data[at] & 1)
                deliver(answer.data() + cut, answer.size() - cut);
            ++at;
            break;
        }
        case 3:     // the user switches to another exchange
            client.selected = arg % FuzzRequests().size();
            break;
        }
    }
}
