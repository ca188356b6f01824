#include "LogOutput.h"

namespace {

QString RelayText(const RelayRef& r)
{
    return QStringLiteral("line \"%1\": relay %2 (address %3)").arg(r.line, r.relay).arg(r.address);
}

}  // namespace

void LogOutput::OnLineState(const LineState& e)
{
    const QString& name = e.line.name;
    switch (e.kind) {
    case LineState::Kind::OpenFailed:
        if (linesDown_.insert(name).second)
            log_.Error(QStringLiteral("line \"%1\": cannot open %2: %3; trying again every %4 s")
                           .arg(name, e.line.port, e.reason).arg(e.retryMs / 1000));
        break;
    case LineState::Kind::Open:
        if (linesDown_.erase(name) > 0)
            log_.Info(QStringLiteral("line \"%1\": %2 open again").arg(name, e.line.port));
        break;
    case LineState::Kind::Lost:
        linesDown_.insert(name);
        log_.Warning(QStringLiteral("line \"%1\" lost: %2; trying again every %3 s").arg(name, e.reason).arg(e.retryMs / 1000));
        break;
    }
}

void LogOutput::OnBlockRead(const BlockRead& e)
{
    if (!refusing_.empty())
        refusing_.erase({e.relay.line, e.relay.address});
}

void LogOutput::OnReadFailed(const ReadFailed& e)
{
    if (e.why == ExchangeFailure::Refused && refusing_.insert({e.relay.line, e.relay.address}).second)
        log_.Warning(QStringLiteral("%1 refuses to be read (exception %2 for registers %3..%4)")
                         .arg(RelayText(e.relay)).arg(e.exceptionCode).arg(e.block.first)
                         .arg(e.block.first + e.block.count - 1));
}

void LogOutput::OnRelayLook(const RelayLook& e)
{
    const QString text = RelayText(e.relay) + (e.answers ? QStringLiteral(" answers") : QStringLiteral(" does not answer"));
    log_.Write(e.answers ? LogLevel::Info : LogLevel::Warning, text);
}

void LogOutput::OnRecordArchived(const RecordArchived& e)
{
    if (e.history)
        return;
    log_.Warning(QStringLiteral("%1 tripped: %2 (record %3, %4 by the relay's clock), %5")
                     .arg(RelayText(e.relay), e.cause).arg(e.slot).arg(RecordMomentText(e.registers),
                          e.written ? QStringLiteral("archived")
                                    : QStringLiteral("held in memory until the archive can be written")));
}

void LogOutput::OnArchiveBacklog(const ArchiveBacklog& e)
{
    if (e.unwritten == 0 && unwritten_ > 0)
        log_.Info(QStringLiteral("the archive takes records again: every record held is written"));
    unwritten_ = e.unwritten;
}

void LogOutput::OnOutputError(const OutputError& e)
{
    log_.Error(e.what);
}
