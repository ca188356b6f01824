// The bounds a BoundedServer keeps for every connection, and the reasons it
// closes one, counted apart.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

struct ServerLimits {
    // Connections held at once. One more arriving closes the connection that
    // has gone longest without an answer sent (and is not sending one); when
    // every one is sending, the newcomer is closed.
    int maxConnections = 128;
    // A connection with no request begun, from its opening or its last answer.
    std::chrono::milliseconds idle{20000};
    // A request, from its first byte to its last (and while its answer is
    // made elsewhere); a TLS handshake, from the opening.
    std::chrono::milliseconds request{10000};
    // An answer, from its first byte to its last taken by the peer.
    std::chrono::milliseconds answer{30000};
    // Bytes held for one request; the protocol answers (or closes) before.
    size_t maxRequestBytes = 16384;
    // Added to the server thread's nice value: a server that must yield the
    // processor to the program's other work runs niced.
    int niceness = 0;
};

enum class CloseReason {
    Peer,      // the peer closed or reset it
    Done,      // the protocol ended it (an answer said so, or it made no sense)
    Idle,      // no request within ServerLimits::idle
    Slow,      // a request or handshake not whole within ServerLimits::request
    Stalled,   // an answer not taken within ServerLimits::answer
    Limit,     // closed to make room for a newer one, or no room for it
    Tls,       // the TLS handshake failed
    Error,     // the socket failed
    Count
};
const char* CloseReasonName(CloseReason reason);

// Counted on the server's thread, read from any.
struct ServerStats {
    std::atomic<int64_t> open{0};
    std::atomic<uint64_t> accepted{0};
    std::array<std::atomic<uint64_t>, size_t(CloseReason::Count)> closed{};
};
