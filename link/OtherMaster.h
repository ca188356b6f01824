// Another master on the line (a SCADA poller on the same RS-485 pair): found
// among the bytes that answered nothing of ours, as a well-formed request we
// did not send, or a well-formed reply to a request we did not send (one of
// another slave or function, or a second reply to a request of ours already
// answered). A late reply to a request of ours that went unanswered is the
// relay's own and says nothing of another master, until a later request of
// ours is answered.
#pragma once

#include <cstdint>

#include "link/LinkState.h"

class OtherMasterWatch {
public:
    // A request of ours went out; its answer was accepted.
    void Sent(const SentRequest& sent);
    void Answered();
    // Bytes that were no answer of ours, in the order they came. True when
    // they complete a frame of another master's traffic.
    bool Take(const uint8_t* bytes, int count);
    void Reset();

private:
    bool EndsForeignFrame();
    bool Ours(const uint8_t* frame, int length, bool requestShape) const;

    static constexpr int kRemembered = 4;
    struct Request {
        uint8_t frame[kRequestLength] = {};
        bool answered = false;
    };
    Request ours_[kRemembered];
    int oursCount_ = 0;
    int newest_ = -1;
    static constexpr int kWindow = 256;
    uint8_t window_[kWindow] = {};
    int windowCount_ = 0;
    // Where a read reply may begin in the window (address, function 3, an
    // even byte count) and where it would end: each is checked once, when
    // its last byte comes, so a byte costs the same whatever the window holds.
    struct ReplyStart {
        int start = 0;
        int end = 0;
    };
    static constexpr int kMostStarts = kWindow;
    ReplyStart starts_[kMostStarts];
    int startCount_ = 0;
};
