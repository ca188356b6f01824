#include "Relays.h"

#include "LineTime.h"
#include "Trip.h"

#include <algorithm>
#include <ctime>
#include <utility>

namespace relaysim {

namespace {

// An accepted function 6 write of register `r`: the reply is its echo.
bool IsAcceptedWrite(const Bytes& request, const Bytes& reply, int r)
{
    return request.size() == 8 && request[1] == 6 && ((request[2] << 8) | request[3]) == r && reply.size() == 8
        && reply[1] == 6;
}

} // namespace

Bytes Response::onLine() const
{
    Bytes bytes = reply;
    if (crcSpoiled && bytes.size() >= 2) {
        bytes[bytes.size() - 2] ^= 0xFF;
        bytes[bytes.size() - 1] ^= 0xFF;
    }
    if (cutTo > 0 && cutTo < bytes.size())
        bytes.resize(cutTo);
    bytes.insert(bytes.begin(), junk.begin(), junk.end());
    return bytes;
}

Relays::Relays(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks)
    : options_(options)
    , faultRng_(rngStart)
    , wanderRng_(rngStart ^ 0xA5A5'5A5A'C3C3'3C3Cull)
{
    writeRules_.clamp = options.clamp;
    for (int r : options.refusedWrites)
        writeRules_.refused.set(size_t(r));
    const std::vector<int> addresses = options.relayAddresses();
    for (size_t i = 0; i < banks.size() && i < addresses.size(); ++i)
        relays_.push_back(Relay{uint8_t(addresses[i]), std::move(banks[i])});
}

void Relays::start(int64_t nowNs)
{
    if (options_.tripAfterS)
        tripNs_ = nowNs + int64_t(*options_.tripAfterS * 1e9);
    if (options_.motorStartS)
        for (Relay& relay : relays_)
            relay.motorStart.schedule(nowNs + int64_t(*options_.motorStartS * 1e9));
    if (options_.freeze)
        return;
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    for (Relay& relay : relays_)
        relay.nextTickNs = nowNs + (kSecondNs - real.tv_nsec);
}

bool Relays::has(uint8_t address) const
{
    return std::any_of(relays_.begin(), relays_.end(), [address](const Relay& r) { return r.address == address; });
}

void Relays::tick(int64_t nowNs)
{
    if (tripNs_ >= 0 && nowNs >= tripNs_) {
        tripNs_ = -1;
        tripAll();
    }
    for (Relay& relay : relays_) {
        if (relay.nextTickNs < 0)
            continue;
        while (nowNs >= relay.nextTickNs) {
            relay.bank.tickSecond();
            relay.bank.wander(wanderRng_);
            relay.nextTickNs += kSecondNs;
        }
    }
}

void Relays::tripAll()
{
    for (Relay& relay : relays_)
        RecordTrip(relay.bank);
}

int64_t Relays::nextTickNs() const
{
    int64_t next = tripNs_;
    for (const Relay& relay : relays_)
        if (relay.nextTickNs >= 0 && (next < 0 || relay.nextTickNs < next))
            next = relay.nextTickNs;
    return next;
}

void Relays::changeAddress(Relay& relay, Bytes& echo)
{
    const int to = (echo[4] << 8) | echo[5];
    // An address no master could reach, or another relay's, is stored only.
    constexpr int kLastAddress = 247;
    if (options_.addressChange == AddressChange::Keep || to < 1 || to > kLastAddress || to == relay.address
        || has(uint8_t(to)))
        return;
    relay.address = uint8_t(to);
    if (options_.addressChange == AddressChange::AtOnce) {
        echo.resize(echo.size() - 2);
        echo[0] = uint8_t(to);
        AppendCrc(echo);
    }
}

Response Relays::respond(const Bytes& request, int64_t nowNs)
{
    Response response;
    const auto relay = std::find_if(relays_.begin(), relays_.end(),
                                    [&request](const Relay& r) { return r.address == request[0]; });
    if (relay == relays_.end() || options_.silent)
        return response;
    if (options_.noEcho && request.size() > 1 && request[1] == 6)
        return response;   // heard, not carried out, not answered

    tick(nowNs); // a request sees the clock as it is when it arrives
    relay->motorStart.apply(relay->bank, nowNs);
    Bytes reply;
    if (faultRng_.chance(options_.exceptionRate)) {
        reply = ExceptionReply(request[0], request[1], exc::DeviceFailure);
    } else {
        reply = Answer(request, relay->bank, writeRules_);
        // Setting the second starts it afresh, as on a clock chip: the clock
        // reads the written moment for a whole second.
        if (relay->nextTickNs >= 0 && IsAcceptedWrite(request, reply, reg::Second))
            relay->nextTickNs = nowNs + kSecondNs;
        if (IsAcceptedWrite(request, reply, reg::SlaveAddress))
            changeAddress(*relay, reply);
    }

    // The fault choices are drawn in this order whatever the transport, so a
    // --seed repeats the same faults.
    if (faultRng_.chance(options_.dropRate))
        return response;
    response.crcSpoiled = faultRng_.chance(options_.badCrcRate);
    if (faultRng_.chance(options_.truncateRate))
        response.cutTo = size_t(faultRng_.between(1, int(reply.size()) - 1));
    if (faultRng_.chance(options_.garbageRate)) {
        response.junk.resize(size_t(faultRng_.between(1, 4)));
        for (uint8_t& b : response.junk)
            b = uint8_t(faultRng_.next());
    }
    response.unasked = UnaskedFrameLike(reply);
    if (response.unasked.empty() || !faultRng_.chance(options_.unaskedRate))
        response.unasked.clear();
    response.reply = std::move(reply);
    return response;
}

} // namespace relaysim
