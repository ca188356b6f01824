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
};
