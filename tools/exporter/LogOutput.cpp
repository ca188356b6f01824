#include "LogOutput.h"

void LogOutput::OnLineState(const LineState& e)
{
    const QString& name = e.line.name;
    switch (e.kind) {
    case LineState::Kind::OpenFailed:
        if (openFailedTold_.insert(name).second)
            log_.Error(QStringLiteral("line \"%1\": cannot open %2: %3; trying again every %4 s")
                           .arg(name, e.line.port, e.reason).arg(e.retryMs / 1000));
        break;
    case LineState::Kind::Open:
        if (openFailedTold_.erase(name) > 0)
            log_.Info(QStringLiteral("line \"%1\": %2 open").arg(name, e.line.port));
        break;
    case LineState::Kind::Lost:
        log_.Warning(QStringLiteral("line \"%1\" lost: %2").arg(name, e.reason));
        break;
    }
}

void LogOutput::OnRelayLook(const RelayLook& e)
{
    const QString text = QStringLiteral("line \"%1\": relay %2 (address %3) %4")
                             .arg(e.relay.line, e.relay.relay)
                             .arg(e.relay.address)
                             .arg(e.answers ? QStringLiteral("answers") : QStringLiteral("does not answer"));
    log_.Write(e.answers ? LogLevel::Info : LogLevel::Warning, text);
}

void LogOutput::OnOutputError(const OutputError& e)
{
    log_.Error(e.what);
}
