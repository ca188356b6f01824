#include "link/FrameTrace.h"

#include <QElapsedTimer>

Q_LOGGING_CATEGORY(lcLink, "zashchita.link", QtWarningMsg)

namespace {
// Milliseconds on the monotonic clock since the first traced line.
double Millis()
{
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    return double(clock.nsecsElapsed()) / 1e6;
}
}  // namespace

QByteArray HexBytes(const uint8_t* bytes, int count)
{
    return QByteArray(reinterpret_cast<const char*>(bytes), count).toHex(' ').toUpper();
}

void TraceRequest(const uint8_t* frame, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  -> %s", Millis(), HexBytes(frame, count).constData());
}

void TraceReply(const uint8_t* frame, int count, ReplyVerdict verdict)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <- %s  %s", Millis(), HexBytes(frame, count).constData(),
                VerdictName(verdict));
}

void TraceTimeOut(const SentRequest& sent)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  time-out: no reply to %s", Millis(),
                HexBytes(sent.frame, kRequestLength).constData());
}

void TraceDropped(const uint8_t* bytes, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <- %s  incomplete, dropped", Millis(), HexBytes(bytes, count).constData());
}

void TraceUnasked(const uint8_t* bytes, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <- %s  unasked, ignored", Millis(), HexBytes(bytes, count).constData());
}

void TraceCollided(const uint8_t* bytes, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <- %s  during our request, collided", Millis(), HexBytes(bytes, count).constData());
}

void TraceEarly(const uint8_t* frame, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <- %s  complete too early for the wire, noise", Millis(),
                HexBytes(frame, count).constData());
}

void TraceOtherMaster()
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  another master's frame on the line", Millis());
}

void TraceWireOut(const uint8_t* bytes, int count)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  => %s", Millis(), HexBytes(bytes, count).constData());
}

void TraceWireIn(const uint8_t* bytes, int count, const char* outcome)
{
    if (lcLink().isDebugEnabled())
        qCDebug(lcLink, "%10.1f ms  <= %s  %s", Millis(), HexBytes(bytes, count).constData(), outcome);
}
