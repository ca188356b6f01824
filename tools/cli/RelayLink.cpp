#include "RelayLink.h"

#include <QEventLoop>

#include "serial/ComPort.h"
#include "serial/PortMessages.h"

namespace {

// The companion has no screen to keep still: it looks at the line every
// millisecond, so a request follows the silence after a reply closely.
constexpr int kTickMs = 1;

SessionOptions OptionsFor(const LinkSettings& settings)
{
    SessionOptions options;
    options.tickMs = kTickMs;
    options.replyTimeoutTicks = settings.timeoutMs / kTickMs;
    options.tries = settings.retries + 1;
    return options;
}

}  // namespace

QString ExceptionText(int code)
{
    switch (code) {
    case 1: return QStringLiteral("1 (illegal function)");
    case 2: return QStringLiteral("2 (illegal data address)");
    case 3: return QStringLiteral("3 (illegal data value)");
    case 4: return QStringLiteral("4 (device failure)");
    default: return QString::number(code);
    }
}

RelayLink::RelayLink(const LinkSettings& settings) : settings_(settings), session_(OptionsFor(settings))
{
    session_.State().SlaveAddress = settings.address;
    QObject::connect(&session_, &RelaySession::lineLost, &session_, [this](int osError, const QString&) {
        lost_ = true;
        lostError_ = osError;
    });
}

RelayLink::~RelayLink() = default;

bool RelayLink::Open(QString& failure)
{
    try {
        session_.Open(settings_.port);
    } catch (const EComPort& e) {
        // what(): the port's message, or the reason a network line gives
        // where the system has no error number (a host name unknown).
        failure = QStringLiteral("cannot open the port\n%1")
                      .arg(PortFailureDetail(session_.DevicePath(), e.OsErrorCode, QString::fromUtf8(e.what())));
        return false;
    }
    return true;
}

void RelayLink::WaitForAnswer()
{
    QEventLoop loop;
    const QMetaObject::Connection stops[] = {
        QObject::connect(&session_, &RelaySession::blockRead, &loop, &QEventLoop::quit),
        QObject::connect(&session_, &RelaySession::readFailed, &loop, &QEventLoop::quit),
        QObject::connect(&session_, &RelaySession::writeEnded, &loop, &QEventLoop::quit),
        QObject::connect(&session_, &RelaySession::lineLost, &loop, &QEventLoop::quit),
    };
    if (!lost_ && session_.Asking())
        loop.exec();
    for (const QMetaObject::Connection& c : stops)
        QObject::disconnect(c);
    if (lost_)
        throw EComPort(ceRead, lostError_);
}

BlockRead RelayLink::Read(const RegisterBlock& block)
{
    BlockRead read;
    read.block = block;
    QObject scope;
    QObject::connect(&session_, &RelaySession::blockRead, &scope, [&](const RegisterValues& reply) {
        read.ok = true;
        read.values = reply.values;
    });
    QObject::connect(&session_, &RelaySession::readFailed, &scope, [&](const ReadFailure& f) {
        const QString registers = QStringLiteral("registers %1 to %2").arg(block.first).arg(block.first + block.count - 1);
        if (f.why == ExchangeFailure::Refused) {
            read.failure = QStringLiteral("the relay at address %1 refused to read %2: exception %3")
                               .arg(Address()).arg(registers, ExceptionText(f.exceptionCode));
            return;
        }
        read.failure = QStringLiteral("%1 from the relay at address %2 on %3 (9600 8N1) to a read of %4 "
                                      "after %5 tries of %6 ms: check the relay's address, the A/B wiring "
                                      "and the line's termination")
                           .arg(f.spoiltSeen ? QStringLiteral("no sound reply") : QStringLiteral("no reply"))
                           .arg(Address()).arg(DevicePath(), registers).arg(f.tries).arg(settings_.timeoutMs);
    });
    session_.AskRead(block);
    WaitForAnswer();
    return read;
}

RegisterWrite RelayLink::Write(int reg, uint16_t value)
{
    RegisterWrite write;
    QObject scope;
    QObject::connect(&session_, &RelaySession::writeEnded, &scope, [&](const WriteResult& r) {
        switch (r.how) {
        case WriteHow::Echoed: write.outcome = WriteOutcome::Confirmed; break;
        case WriteHow::Altered: write.outcome = WriteOutcome::Altered; write.stored = r.stored; break;
        case WriteHow::Refused: write.outcome = WriteOutcome::Refused; write.exceptionCode = r.exceptionCode; break;
        case WriteHow::NoAnswer: write.outcome = WriteOutcome::NoEcho; break;
        }
    });
    // Writing the same value again is harmless, so an echo lost on the line
    // is asked for again like a lost read.
    session_.AskWrite(reg, value);
    WaitForAnswer();
    return write;
}
