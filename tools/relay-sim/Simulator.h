// The relays behind their transport: receives requests, answers them at the
// pace of a 9600 8N1 line, injects the faults it was asked for; as a Modbus
// TCP gateway also speaks MBAP and answers for a relay that stays silent.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "FrameLog.h"
#include "LineQueue.h"
#include "GatewayFrames.h"
#include "Options.h"
#include "OtherTalker.h"
#include "Protocol.h"
#include "RegisterBank.h"
#include "Relays.h"
#include "Transport.h"

namespace relaysim {

class Simulator : private TransportEvents {
public:
    Simulator(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks);
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    // Opens the transport and the logs, prints the endpoint. Returns the
    // exit status to end with on failure, 0 on success.
    int setUp();

    // Serves requests until a stop signal or --gone-after. Returns the exit status.
    int run();

private:
    void received(const uint8_t* data, size_t count, int64_t nowNs) override;
    void peerChanged() override;

    // A request frame off an RTU line (the pty, a device server's raw port).
    void onFrame(const Frame& frame);
    // A request through the Modbus TCP gateway.
    void onMbap(const MbapFrame& request);

    // When the relay may begin its answer to `request` on the line.
    int64_t replyStartNs(const Frame& request, int64_t nowNs) const;
    void queueGatewayException(const MbapFrame& request, uint8_t code, int64_t atNs);
    void queueUnasked(const Bytes& frame, Bytes wire, bool whole);
    int64_t nextDeadline() const;
    void shutDown();

    Options options_;
    Relays relays_;
    int tripsDone_ = 0;   // SIGUSR1s acted on
    FrameLog log_;
    std::unique_ptr<Transport> transport_;
    LineQueue queue_;
    OtherTalker talker_;
    FrameAssembler assembler_;
    MbapAssembler mbap_;
    int64_t goneNs_ = -1;
};

} // namespace relaysim
