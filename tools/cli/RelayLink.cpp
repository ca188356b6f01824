#include "RelayLink.h"

#include "Console.h"

#include "serial/ComPort.h"
#include "serial/PortMessages.h"
#include "settings/AtomicFile.h"

namespace {

// The companion has no screen to keep still: it looks at the line every
// millisecond, so a request follows the silence after a reply closely.
constexpr int kTickMs = 1;

SessionOptions OptionsFor(const LinkSettings& settings)
{
    SessionOptions options;
    options.tickMs = kTickMs;
    options.replyTimeoutTicks = RelayLink::TicksFor(settings.timeoutMs);
    options.tries = settings.retries + 1;
    options.lineTiming = settings.lineTiming;
    return options;
}

// The system's reason in English, or the port's own words without an OS code.
QString Reason(int osError, const QString& otherReason)
{
    if (NotASerialDevice(osError))
        return QStringLiteral("not a serial device");
    if (osError > 0)
        return SystemReason(osError);
    return otherReason.isEmpty() ? QStringLiteral("unknown reason") : otherReason;
}

QString TriesText(int tries, int timeoutMs)
{
    return QStringLiteral("%1 %2 of %3 ms").arg(tries).arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"))
        .arg(timeoutMs);
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

int RelayLink::TicksFor(int ms)
{
    return (ms + kTickMs - 1) / kTickMs;
}

RelayLink::RelayLink(const LinkSettings& settings) : settings_(settings), session_(OptionsFor(settings))
{
    session_.State().SlaveAddress = settings.address;
    QObject::connect(&session_, &RelaySession::lineLost, &session_, [this](int osError, const QString& reason) {
        lost_ = true;
        lossText_ = QStringLiteral("the port went away: %1").arg(Reason(osError, reason));
        loop_.quit();
    });
    // Said once, as the session tells it once: values may be someone else's.
    QObject::connect(&session_, &RelaySession::otherMasterSeen, &session_, [] {
        Report(QStringLiteral("another master is on the line: values read may come from its traffic"));
    });
}

RelayLink::~RelayLink() = default;

bool RelayLink::Open(QString& failure)
{
    int osError = -1;
    QString otherReason;
    try {
        session_.Open(settings_.port);
        return true;
    } catch (const EComPort& e) {
        osError = e.OsErrorCode;
        // Used where the system gave no error number: the port's text, or
        // the reason a network line gives (a host name unknown).
        otherReason = QString::fromUtf8(e.what());
    } catch (const std::exception& e) {
        otherReason = QString::fromLocal8Bit(e.what());
    }
    const QString device = session_.DevicePath();
    QString named = device.isEmpty() ? settings_.port : device;
    if (!device.isEmpty() && device != settings_.port)
        named += QStringLiteral(" (%1)").arg(settings_.port);
    failure = QStringLiteral("cannot open the port %1: %2").arg(named, Reason(osError, otherReason));
    if (const QString group = AccessGroup(device, osError); !group.isEmpty())
        failure += QStringLiteral("; members of the group \"%1\" may open it (add yourself with "
                                  "\"sudo usermod -aG %1 $USER\" and log in again)").arg(group);
    return false;
}

void RelayLink::Abandon()
{
    if (abandoned_)
        return;
    abandoned_ = true;
    // Closing drops the question under way; nothing more goes out.
    session_.Close();
    loop_.quit();
}

void RelayLink::WaitFor(const bool& ended)
{
    while (!ended && !lost_ && !abandoned_)
        loop_.exec();
}

QString RelayLink::NoReplyText(const QString& what, const QString& question, int address, int tries,
                               int timeoutMs) const
{
    return QStringLiteral("%1 from the relay at address %2 on %3 (9600 8N1) to %4 after %5: check the relay's "
                          "address, the A/B wiring and the line's termination")
        .arg(what).arg(address).arg(DevicePath(), question, TriesText(tries, timeoutMs));
}

BlockRead RelayLink::Read(const RegisterBlock& block, const AskOptions& ask)
{
    BlockRead read;
    read.block = block;
    if (lost_ || abandoned_) {
        read.lineLost = lost_;
        read.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
        return read;
    }
    const int address = ask.address > 0 ? ask.address : Address();
    const int timeoutMs = ask.timeoutTicks > 0 ? ask.timeoutTicks * kTickMs : settings_.timeoutMs;
    const QString registers = block.count == 1
        ? QStringLiteral("register %1").arg(block.first)
        : QStringLiteral("registers %1 to %2").arg(block.first).arg(block.first + block.count - 1);
    bool ended = false;
    QObject scope;
    // The session asks nothing else for the companion, and a late reply to a
    // question given up is noise to it: what comes is this question's end.
    QObject::connect(&session_, &RelaySession::blockRead, &scope, [&](const RegisterValues& reply) {
        read.ok = true;
        read.values = reply.values;
        ended = true;
        loop_.quit();
    });
    QObject::connect(&session_, &RelaySession::readFailed, &scope, [&](const ReadFailure& f) {
        ended = true;
        loop_.quit();
        if (f.why == ExchangeFailure::Refused) {
            read.refused = true;
            read.exceptionCode = f.exceptionCode;
            read.failure = QStringLiteral("the relay at address %1 refused to read %2: exception %3")
                               .arg(address).arg(registers, ExceptionText(f.exceptionCode));
            return;
        }
        read.spoiltSeen = f.spoiltSeen;
        read.failure = NoReplyText(f.spoiltSeen ? QStringLiteral("no sound reply") : QStringLiteral("no reply"),
                                   QStringLiteral("a read of %1").arg(registers), address, f.tries, timeoutMs);
    });
    session_.AskRead(block, ask);
    WaitFor(ended);
    if (!ended) {
        read.lineLost = lost_;
        read.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
    }
    return read;
}

RegisterWrite RelayLink::Write(int reg, uint16_t value, const AskOptions& ask)
{
    RegisterWrite write;
    if (lost_ || abandoned_) {
        write.outcome = lost_ ? WriteOutcome::LineLost : WriteOutcome::Abandoned;
        write.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
        return write;
    }
    const int address = ask.address > 0 ? ask.address : Address();
    const int timeoutMs = ask.timeoutTicks > 0 ? ask.timeoutTicks * kTickMs : settings_.timeoutMs;
    bool ended = false;
    QObject scope;
    QObject::connect(&session_, &RelaySession::requestSent, &scope, [&](const SentRequest&) {
        if (session_.Asking())
            write.sent = true;
    });
    QObject::connect(&session_, &RelaySession::writeEnded, &scope, [&](const WriteResult& r) {
        ended = true;
        loop_.quit();
        switch (r.how) {
        case WriteHow::Echoed: write.outcome = WriteOutcome::Confirmed; break;
        case WriteHow::Altered: write.outcome = WriteOutcome::Altered; write.stored = r.stored; break;
        case WriteHow::Refused: write.outcome = WriteOutcome::Refused; write.exceptionCode = r.exceptionCode; break;
        case WriteHow::NoAnswer:
            write.outcome = WriteOutcome::NoEcho;
            write.failure = NoReplyText(QStringLiteral("no echo"),
                                        QStringLiteral("the write of %1 to register %2").arg(value).arg(reg),
                                        address, r.tries, timeoutMs);
            break;
        }
    });
    // Writing the same value again is harmless, so an echo lost on the line
    // is asked for again like a lost read.
    session_.AskWrite(reg, value, ask);
    WaitFor(ended);
    if (!ended) {
        write.outcome = lost_ ? WriteOutcome::LineLost : WriteOutcome::Abandoned;
        write.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
    }
    return write;
}
