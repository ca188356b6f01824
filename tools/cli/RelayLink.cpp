#include "RelayLink.h"

#include "link/AddressProbe.h"

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
    options.lineTiming = LineTimingFromEnvironment(settings.lineTiming);
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
    session_.SetSlaveAddress(settings.address);
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

Answer RelayLink::Await(const Question& question)
{
    SessionReply* reply = session_.Ask(question);
    std::optional<Answer> answer;
    QObject::connect(reply, &SessionReply::finished, &session_, [&](const Answer& a) {
        answer = a;
        loop_.quit();
    });
    // Close() and the line's loss finish the reply too: it always ends.
    while (!answer)
        loop_.exec();
    return *answer;
}

QString RelayLink::NoReplyText(const QString& what, const QString& question, int address, int tries,
                               int timeoutMs) const
{
    return QStringLiteral("%1 from the relay at address %2 on %3 (9600 8N1) to %4 after %5: check the relay's "
                          "address, the A/B wiring and the line's termination")
        .arg(what).arg(address).arg(DevicePath(), question, TriesText(tries, timeoutMs));
}

QString RelayLink::ForeignReadText(const RegisterBlock& block) const
{
    return QStringLiteral("registers %1 to %2 were read on %3 while another master was on the line (its frames "
                          "seen within the last %4 s): they may be its traffic, not the relay's, and are not used; "
                          "try again once the line is quiet")
        .arg(block.first).arg(block.first + block.count - 1).arg(DevicePath())
        .arg(session_.Options().otherMasterHoldMs / 1000);
}

QString RelayLink::EarlyRepliesText(const QString& question, int address, int tries) const
{
    return QStringLiteral("every reply from %1 to %2 at address %3 (%4 %5) came sooner than a 9600 baud wire can carry "
                          "it and was rejected by the line-timing rule: if this line is no 9600 wire (a network "
                          "device or a converter that answers at once), run with --line-timing off")
        .arg(DevicePath(), question).arg(address).arg(tries).arg(tries == 1 ? QStringLiteral("try") : QStringLiteral("tries"));
}

QString RelayLink::BusyLineText(const QString& question, int address, const Answer& a, int timeoutMs) const
{
    return QStringLiteral("no reply from the relay at address %1 on %2 (9600 8N1) to %3: the line never fell silent "
                          "long enough to send it (%4 of %5 spent waiting): another device keeps talking on the "
                          "line, or it is flooded with noise")
        .arg(address).arg(DevicePath(), question).arg(a.busyTries).arg(TriesText(a.tries + a.busyTries, timeoutMs));
}

Question RelayLink::QuestionOf(Question q, const AskOptions& ask)
{
    q.tries = ask.tries;
    q.timeoutTicks = ask.timeoutTicks;
    q.probe = ask.probe;
    return q;
}

BlockRead RelayLink::Read(const RegisterBlock& block, const AskOptions& ask)
{
    if (lost_ || abandoned_) {
        BlockRead read;
        read.block = block;
        read.lineLost = lost_;
        read.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
        return read;
    }
    const Answer a = Await(QuestionOf(Question::Read(block, ask.address), ask));
    return ReadOf(a, block, ask.timeoutTicks > 0 ? ask.timeoutTicks * kTickMs : settings_.timeoutMs);
}

BlockRead RelayLink::Probe(int address, const RegisterBlock& block)
{
    if (lost_ || abandoned_)
        return Read(block);
    AddressProbe probe(session_);
    std::optional<Answer> answer;
    QObject::connect(&probe, &AddressProbe::finished, &session_, [&](const Answer& a, bool found) {
        answer = a;
        if (!found && a.outcome != Outcome::Aborted) {
            // Answered once only: whatever came was no device of that address.
            answer->outcome = Outcome::NoAnswer;
        }
        loop_.quit();
    });
    probe.Start(address, block, 0);
    while (!answer)
        loop_.exec();
    return ReadOf(*answer, block, settings_.timeoutMs);
}

BlockRead RelayLink::ReadOf(const Answer& a, const RegisterBlock& block, int timeoutMs)
{
    BlockRead read;
    read.block = block;
    const int address = a.question.address;
    const QString registers = block.count == 1
        ? QStringLiteral("register %1").arg(block.first)
        : QStringLiteral("registers %1 to %2").arg(block.first).arg(block.first + block.count - 1);
    switch (a.outcome) {
    case Outcome::Values:
        read.ok = true;
        read.values = a.values;
        read.foreign = a.foreign;
        break;
    case Outcome::Refused:
        read.refused = true;
        read.exceptionCode = a.exceptionCode;
        read.failure = QStringLiteral("the relay at address %1 refused to read %2: exception %3")
                           .arg(address).arg(registers, ExceptionText(a.exceptionCode));
        break;
    case Outcome::NoAnswer:
        read.spoiltSeen = a.spoiltSeen;
        if (a.busyTries > 0) {
            read.failure = BusyLineText(QStringLiteral("a read of %1").arg(registers), address, a, timeoutMs);
            break;
        }
        if (a.earlyTries > 0 && a.earlyTries == a.tries) {
            read.failure = EarlyRepliesText(QStringLiteral("a read of %1").arg(registers), address, a.tries);
            break;
        }
        read.failure = NoReplyText(a.spoiltSeen ? QStringLiteral("no sound reply") : QStringLiteral("no reply"),
                                   QStringLiteral("a read of %1").arg(registers), address, a.tries, timeoutMs);
        break;
    default:
        // Closed by Abandon() or by the line's loss.
        read.lineLost = lost_;
        read.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
        break;
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
    // Writing the same value again is harmless, so an echo lost on the line
    // is asked for again like a lost read.
    const Answer a = Await(QuestionOf(Question::Write(reg, value, ask.address), ask));
    const int timeoutMs = ask.timeoutTicks > 0 ? ask.timeoutTicks * kTickMs : settings_.timeoutMs;
    write.sent = a.LeftThePc();
    switch (a.outcome) {
    case Outcome::Echoed: write.outcome = WriteOutcome::Confirmed; break;
    case Outcome::Altered: write.outcome = WriteOutcome::Altered; write.stored = a.stored; break;
    case Outcome::Refused: write.outcome = WriteOutcome::Refused; write.exceptionCode = a.exceptionCode; break;
    default:
        if (lost_ || abandoned_) {
            write.outcome = lost_ ? WriteOutcome::LineLost : WriteOutcome::Abandoned;
            write.failure = lost_ ? lossText_ : QStringLiteral("abandoned");
            break;
        }
        write.outcome = WriteOutcome::NoEcho;
        if (a.busyTries > 0) {
            write.failure = BusyLineText(QStringLiteral("the write of %1 to register %2").arg(value).arg(reg),
                                         a.question.address, a, timeoutMs);
            break;
        }
        write.failure = NoReplyText(QStringLiteral("no echo"),
                                    QStringLiteral("the write of %1 to register %2").arg(value).arg(reg),
                                    a.question.address, a.tries, timeoutMs);
        break;
    }
    return write;
}
