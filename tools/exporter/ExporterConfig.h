// The exporter's configuration: the plant's lines, each with its relays, read
// from a YAML file. Every fault is named with the file, line and column it
// sits at; nothing is opened while reading.
#pragma once

#include <QString>
#include <QStringList>

#include <map>
#include <vector>

struct RelayConfig {
    QString name;                          // label "relay"
    int address = 0;                       // 1..246
    std::map<QString, QString> labels;     // extra labels of every metric of the relay
    int unit = 0;                          // its Modbus TCP unit id, 1..247; 0: not served
};

struct LineConfig {
    QString name;                          // label "line"
    QString port;                          // a device path, COMn, tcp://HOST:PORT or modbus-tcp://HOST[:PORT]
    int pollIntervalMs = 0;                // least time between two reads of a relay's current parameters
    int timeoutMs = 200;                   // the wait for one reply (the network allowance comes on top)
    std::vector<RelayConfig> relays;
};

struct ExporterConfig {
    std::vector<LineConfig> lines;
    // The Modbus TCP server: where it listens (empty: not at all), and how
    // old a block it serves may be (0: the default, from the line's round).
    QString modbusListen;
    int modbusCurrentMaxAgeMs = 0;    // the current parameters
    int modbusSettingsMaxAgeMs = 0;   // the settings block
    int modbusRecordsMaxAgeMs = 0;    // each event record
};

// Limits that keep the work of reading any file bounded.
inline constexpr qint64 kMaxConfigBytes = 1024 * 1024;
inline constexpr int kMaxLines = 256;
inline constexpr int kMaxRelaysPerLine = 246;

struct ConfigReading {
    ExporterConfig config;
    QStringList faults;   // "FILE:LINE:COLUMN: what", in the order of the file; empty: the file is sound
};

// Reads and checks the file at `path`.
ConfigReading ReadConfigFile(const QString& path);
// Reads and checks `text`, naming it `path` in the faults.
ConfigReading ReadConfigText(const QString& path, const std::string& text);
// What --check-config says of a sound file: "FILE: 2 line(s), 5 relay(s)".
QString ConfigSummary(const QString& path, const ExporterConfig& config);
