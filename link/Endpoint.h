// The network endpoints a relay line may be reached at, besides a serial
// device: "tcp://HOST:PORT", a serial device server's raw TCP port that
// passes RTU frames through unchanged, and "modbus-tcp://HOST[:PORT]", a
// Modbus TCP gateway in front of the relay's line (port 502 unless given).
// HOST is a name, an IPv4 address or an IPv6 address in brackets.
#pragma once

#include <QString>

#include <optional>

enum class LineScheme {
    RtuOverTcp,   // tcp://
    ModbusTcp,    // modbus-tcp://
};

struct Endpoint {
    LineScheme scheme = LineScheme::RtuOverTcp;
    QString host;      // without the brackets of an IPv6 address
    int port = 0;

    // The endpoint written out again, with the port always given.
    QString Text() const;
};

inline constexpr int kModbusTcpPort = 502;

// Whether `text` is written as a network endpoint at all (its scheme), well
// formed or not: a device path never is.
bool NamesEndpoint(const QString& text);

// The endpoint `text` names, or nothing with the reason in *error.
std::optional<Endpoint> ParseEndpoint(const QString& text, QString* error = nullptr);
