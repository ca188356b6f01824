#include "link/Endpoint.h"

#include <QRegularExpression>

namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 65535;
const QLatin1String kTcpScheme("tcp://");
const QLatin1String kModbusTcpScheme("modbus-tcp://");

void SetError(QString* error, const QString& text)
{
    if (error)
        *error = text;
}

}  // namespace

QString Endpoint::Text() const
{
    const QString shownHost = host.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(host) : host;
    return QStringLiteral("%1%2:%3")
        .arg(scheme == LineScheme::ModbusTcp ? kModbusTcpScheme : kTcpScheme, shownHost)
        .arg(port);
}

bool NamesEndpoint(const QString& text)
{
    return text.startsWith(kTcpScheme, Qt::CaseInsensitive) || text.startsWith(kModbusTcpScheme, Qt::CaseInsensitive);
}

std::optional<Endpoint> ParseEndpoint(const QString& text, QString* error)
{
    Endpoint endpoint;
    QString rest;
    if (text.startsWith(kTcpScheme, Qt::CaseInsensitive)) {
        endpoint.scheme = LineScheme::RtuOverTcp;
        rest = text.mid(kTcpScheme.size());
    } else if (text.startsWith(kModbusTcpScheme, Qt::CaseInsensitive)) {
        endpoint.scheme = LineScheme::ModbusTcp;
        rest = text.mid(kModbusTcpScheme.size());
    } else {
        SetError(error, QStringLiteral("\"%1\" is neither tcp://HOST:PORT nor modbus-tcp://HOST[:PORT]").arg(text));
        return std::nullopt;
    }

    // HOST, [IPv6] or HOST:PORT, [IPv6]:PORT; nothing after the port.
    static const QRegularExpression form(
        QStringLiteral("^(?:\\[([0-9A-Fa-f:.]+)\\]|([A-Za-z0-9._-]+))(?::([0-9]{1,5}))?$"));
    const QRegularExpressionMatch match = form.match(rest);
    if (!match.hasMatch()) {
        SetError(error, QStringLiteral("\"%1\": the host must be a name, an IPv4 address or an IPv6 address "
                                       "in brackets, followed by :PORT").arg(text));
        return std::nullopt;
    }
    endpoint.host = match.captured(1).isEmpty() ? match.captured(2) : match.captured(1);
    const QString port = match.captured(3);
    if (port.isEmpty()) {
        if (endpoint.scheme == LineScheme::RtuOverTcp) {
            // A device server has no port of its own: each of its serial ports listens on one.
            SetError(error, QStringLiteral("\"%1\" needs its port: the device server's TCP port of the relays' "
                                           "line, e.g. %1:4001").arg(text));
            return std::nullopt;
        }
        endpoint.port = kModbusTcpPort;
        return endpoint;
    }
    endpoint.port = port.toInt();
    if (endpoint.port < kLowestPort || endpoint.port > kHighestPort) {
        SetError(error, QStringLiteral("\"%1\": the port must be %2 to %3").arg(text).arg(kLowestPort).arg(kHighestPort));
        return std::nullopt;
    }
    return endpoint;
}
