// What a BoundedServer's connection speaks. The server hands the protocol
// the bytes received and not yet consumed; the protocol says whether they
// hold a whole request, and what to send for it. One protocol object per
// connection, used on the server's thread alone.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

struct Reply {
    std::string head;                          // sent first
    std::shared_ptr<const std::string> body;   // then this, shared between replies; may be null
    bool close = false;                        // close the connection once sent
};

// Asks the server to hand the connection's bytes to its protocol again
// (after Verdict::Wait). Callable from any thread while the server object
// exists; for a connection closed meanwhile it does nothing.
using Waker = std::function<void()>;

class ConnectionProtocol {
public:
    virtual ~ConnectionProtocol() = default;

    enum class Verdict {
        More,    // the request is not whole yet: read on
        Reply,   // send `reply`, having consumed `consumed` bytes
        Wait,    // work goes on elsewhere: read nothing until the waker is called
        Close,   // close without a word
    };
    struct Step {
        Verdict verdict = Verdict::More;
        size_t consumed = 0;
        ::Reply reply;
    };

    // `received` holds at most ServerLimits::maxRequestBytes; a protocol that
    // still says More when it is full gets the connection closed.
    virtual Step Take(std::string_view received) = 0;
};

using ProtocolFactory = std::function<std::unique_ptr<ConnectionProtocol>(Waker)>;
