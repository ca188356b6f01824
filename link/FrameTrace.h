// The frame trace: every request and reply on the line in hex, with a
// monotonic time in milliseconds and what became of it. Off by default and
// free when off; turned on with QT_LOGGING_RULES="zashchita.link.debug=true".
#pragma once

#include <QLoggingCategory>
#include <cstdint>

#include "link/LinkState.h"

Q_DECLARE_LOGGING_CATEGORY(lcLink)

// "01 03 00 32" for those four bytes.
QByteArray HexBytes(const uint8_t* bytes, int count);

void TraceRequest(const uint8_t* frame, int count);
void TraceReply(const uint8_t* frame, int count, ReplyVerdict verdict);
void TraceTimeOut(const SentRequest& sent);
// Bytes of an unfinished reply thrown away by the next request.
void TraceDropped(const uint8_t* bytes, int count);
// Bytes that came while no request awaited an answer: noise, never decoded.
void TraceUnasked(const uint8_t* bytes, int count);
// Bytes that came while our request was still on the wire, and a frame
// complete sooner than the wire allows: noise, never decoded.
void TraceCollided(const uint8_t* bytes, int count);
void TraceEarly(const uint8_t* frame, int count);
// Another master's frame was seen on the line.
void TraceOtherMaster();
// Bytes as they went out on or came in from a network line whose framing
// differs from the link's (a Modbus TCP gateway's MBAP frames), with what
// became of them.
void TraceWireOut(const uint8_t* bytes, int count);
void TraceWireIn(const uint8_t* bytes, int count, const char* outcome);
