#include "Simulator.h"

#include "LineTime.h"
#include "ProgramName.h"
#include "PtyLine.h"
#include "TcpTransport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <utility>

namespace relaysim {

namespace {

volatile sig_atomic_t g_stopSignal = 0;
// SIGUSR1s received: each makes every relay of every line trip once.
volatile sig_atomic_t g_tripSignals = 0;

void OnStopSignal(int signo)
{
    g_stopSignal = signo;
}

void OnTripSignal(int)
{
    g_tripSignals = g_tripSignals + 1;
}

timespec ToTimespec(int64_t ns)
{
    timespec ts{};
    ts.tv_sec = time_t(ns / kSecondNs);
    ts.tv_nsec = long(ns % kSecondNs);
    return ts;
}

int64_t MsToNs(double ms)
{
    return int64_t(ms * 1e6);
}

std::unique_ptr<Transport> MakeTransport(const Options& options)
{
    switch (options.serve) {
    case Serve::Tcp:
        return std::make_unique<TcpTransport>("tcp", options.tcpPort);
    case Serve::ModbusTcp:
        return std::make_unique<TcpTransport>("modbus-tcp", options.tcpPort);
    case Serve::Pty:
        break;
    }
    return std::make_unique<PtyLine>(options.linkPath);
}

} // namespace

Simulator::Simulator(const Options& options, uint64_t rngStart, std::vector<RegisterBank> banks)
    : options_(options)
    , relays_(options_, rngStart, std::move(banks))
    , transport_(MakeTransport(options_))
    , queue_(options_.pace, options_.pieceBytes, MsToNs(options_.unaskedGapMs))
    , talker_(options_.talker, options_.pace)
{
}

Simulator::~Simulator()
{
    shutDown();
}

int Simulator::setUp()
{
    if (const int status = transport_->open(); status != 0)
        return status;
    if (!log_.open(options_.logPath, options_.timingPath))
        return 1;

    // Stop signals are held back except while waiting in ppoll, so one that
    // arrives between two waits is never missed.
    struct sigaction sa{};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sa.sa_handler = OnTripSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGHUP);
    sigaddset(&stops, SIGUSR1);
    sigprocmask(SIG_BLOCK, &stops, nullptr);

    std::printf("%s\n", transport_->endpoint().c_str());
    std::fflush(stdout);

    const int64_t now = MonotonicNs();
    relays_.start(now);
    talker_.start(now);
    if (options_.goneAfterS)
        goneNs_ = now + int64_t(*options_.goneAfterS * 1e9);
    return 0;
}

void Simulator::shutDown()
{
    transport_->close();
    log_.close();
}

int Simulator::run()
{
    sigset_t waitMask;
    sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    sigdelset(&waitMask, SIGINT);
    sigdelset(&waitMask, SIGTERM);
    sigdelset(&waitMask, SIGHUP);
    sigdelset(&waitMask, SIGUSR1);

    std::vector<pollfd> fds;
    while (g_stopSignal == 0) {
        int64_t now = MonotonicNs();
        queue_.transmitDue(now, *transport_, log_);
        talker_.transmitDue(now, *transport_);
        if (const int trips = g_tripSignals; trips != tripsDone_) {
            tripsDone_ = trips;
            relays_.tripAll();
        }
        relays_.tick(now);
        if (goneNs_ >= 0 && now >= goneNs_) {
            shutDown();
            return 0;
        }
        if (auto frame = assembler_.idle(now))
            onFrame(*frame);

        fds.clear();
        transport_->watch(fds, now);
        const int64_t deadline = nextDeadline();
        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        if (deadline >= 0) {
            timeout = ToTimespec(std::max<int64_t>(0, deadline - now));
            timeoutPtr = &timeout;
        }
        const int ready = ppoll(fds.empty() ? nullptr : fds.data(), fds.size(), timeoutPtr, &waitMask);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "%s: ppoll: %s\n", kProgramName, std::strerror(errno));
            return 1;
        }
        transport_->serve(fds.data(), fds.size(), MonotonicNs(), *this);
    }
    shutDown();
    return 0;
}

int64_t Simulator::nextDeadline() const
{
    int64_t deadline = -1;
    auto consider = [&deadline](int64_t t) {
        if (t >= 0 && (deadline < 0 || t < deadline))
            deadline = t;
    };
    consider(queue_.nextDeadline());
    consider(talker_.nextDeadline());
    consider(relays_.nextTickNs());
    consider(goneNs_);
    consider(assembler_.nextIdleDeadline());
    consider(transport_->nextDeadline());
    return deadline;
}

void Simulator::received(const uint8_t* data, size_t count, int64_t nowNs)
{
    for (size_t i = 0; i < count; ++i) {
        if (options_.serve != Serve::ModbusTcp) {
            if (auto frame = assembler_.push(data[i], nowNs))
                onFrame(*frame);
            continue;
        }
        auto request = mbap_.push(data[i], nowNs);
        if (mbap_.broken()) {
            // A length no request can have: where the next one starts is
            // lost, and a gateway drops the connection.
            transport_->dropPeer();
            peerChanged();
            return;
        }
        if (request)
            onMbap(*request);
    }
}

void Simulator::peerChanged()
{
    queue_.clear();
    talker_.clear();
    assembler_.clear();
    mbap_.clear();
}

int64_t Simulator::replyStartNs(const Frame& request, int64_t nowNs) const
{
    if (!options_.pace)
        return nowNs;
    // On a real line the request's last bit arrives its own line time after
    // its first byte; the pty or the network delivers it at once, so wait
    // that out too.
    return std::max(request.lastNs, request.firstNs + LineTimeNs(int64_t(request.bytes.size())))
        + MsToNs(options_.turnaroundMs);
}

void Simulator::queueUnasked(const Bytes& frame, Bytes wire, bool whole)
{
    Outgoing o;
    o.wire = std::move(wire);
    o.logged = frame;
    o.lineBytes = frame.size();
    o.startNs = queue_.endNs(*queue_.last()) + MsToNs(options_.unaskedGapMs);
    o.whole = whole;
    o.unasked = true;
    o.tag = "unasked";
    queue_.push(std::move(o));
}

void Simulator::onFrame(const Frame& frame)
{
    log_.received(frame);
    const int64_t now = MonotonicNs();
    if (queue_.meetRequest())
        return;   // lost in a collision with a frame nobody asked for
    const Response response = relays_.respond(frame.bytes, now);
    if (response.reply.empty())
        return;
    Outgoing reply;
    reply.wire = response.onLine();
    reply.logged = reply.wire;
    reply.lineBytes = reply.wire.size();
    // One frame at a time on the line: a request that came while an earlier
    // reply (or the frame nobody asked for after it) was going out is
    // answered after it.
    reply.startNs = queue_.freeFrom(replyStartNs(frame, now));
    talker_.replyQueued(frame.bytes, response.reply, queue_.endNs(reply));
    queue_.push(std::move(reply));
    if (!response.unasked.empty())
        queueUnasked(response.unasked, response.unasked, false);
    queue_.transmitDue(now, *transport_, log_);
}

void Simulator::queueGatewayException(const MbapFrame& request, uint8_t code, int64_t atNs)
{
    Outgoing o;
    o.wire = MbapException(request, code);
    o.logged = RtuException(request, code);
    o.startNs = atNs;
    o.whole = true;
    o.tag = "gateway";
    queue_.push(std::move(o));
}

void Simulator::onMbap(const MbapFrame& request)
{
    if (request.protocol != 0)
        return; // not Modbus: a gateway passes nothing of it on
    const Bytes rtu = request.rtu();
    log_.received(Frame{rtu, request.firstNs, request.lastNs});
    const int64_t now = MonotonicNs();
    if (options_.gatewayPathUnavailable) {
        queueGatewayException(request, gatewayexc::PathUnavailable, queue_.freeFrom(now));
    } else if (request.unit != 0) { // a broadcast is answered by nobody, the gateway included
        // The gateway puts the request on the line once it has all of it.
        const Frame onLine{rtu, request.lastNs, request.lastNs};
        const Response response = relays_.respond(rtu, now);
        if (response.reply.empty() || response.crcSpoiled) {
            // Nothing the gateway can take comes back: it answers for the
            // relay when its time-out is over.
            const int64_t lineFrom = queue_.freeFrom(request.lastNs);
            queueGatewayException(request, gatewayexc::TargetFailedToRespond,
                                  lineFrom + MsToNs(options_.gatewayTimeoutMs));
        } else {
            Outgoing reply;
            reply.logged = response.onLine();
            reply.wire = response.junk; // line noise it hands on as it came
            // A reply broken off still ends, for the gateway, with two bytes
            // it takes for the CRC: its PDU comes out cut short.
            const Bytes cameBack = response.cutTo > 0
                ? Bytes(response.reply.begin(), response.reply.begin() + long(response.cutTo))
                : response.reply;
            const Bytes mbap = MbapReply(request, cameBack);
            reply.wire.insert(reply.wire.end(), mbap.begin(), mbap.end());
            reply.lineBytes = reply.logged.size();
            reply.startNs = queue_.freeFrom(replyStartNs(onLine, now));
            reply.whole = true;
            queue_.push(std::move(reply));
            if (!response.unasked.empty())
                queueUnasked(response.unasked, MbapReply(request, response.unasked), true);
        }
    }
    queue_.transmitDue(now, *transport_, log_);
}

} // namespace relaysim
