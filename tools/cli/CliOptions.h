// The command line: a command (settings save|diff|load FILE, records,
// monitor, scan) and the options of the line and of each command.
#pragma once

#include <QString>
#include <QStringList>

enum class CliCommand { SettingsSave, SettingsDiff, SettingsLoad, Records, Monitor, Scan, Journal };

// How records, monitor and scan print: lines for a person, CSV with a header line,
// or one JSON object per line.
enum class OutputFormat { Text, Csv, Jsonl };

constexpr int kDefaultIntervalMs = 100;
// scan asks each address once and waits briefly: a relay answers one
// register within a few tens of milliseconds.
constexpr int kScanTimeoutMs = 100;
constexpr int kScanRetries = 0;
constexpr int kFirstRelayAddress = 1;
// The relay's own address setting (register 80) holds 1 to 246, so no relay
// answers at 247; scan still asks up to 247, the last address Modbus gives a
// device, for whatever else shares the line.
constexpr int kLastRelayAddress = 246;
constexpr int kLastBusAddress = 247;

struct CliOptions {
    CliCommand command = CliCommand::Records;
    QString file;                       // settings commands; "-" is standard output for save
    QString port = QStringLiteral("COM1");
    bool portGiven = false;             // --port was on the command line
    int address = 1;                    // the slave address the requests go to (not scan)
    int timeoutMs = 500;                // wait for one reply
    int retries = 2;                    // a request unanswered or spoilt is sent again this often
    bool trace = false;
    QString lineTiming = QStringLiteral("auto");   // on, off or auto (by the device's kind)
    bool yes = false;                   // settings load: really write
    bool readOnly = false;              // --read-only or ZASHCHITA_READ_ONLY=1: no command may write
    bool includeAddress = false;        // settings load: also the relay's own address
    OutputFormat format = OutputFormat::Text;   // records, monitor, scan
    int intervalMs = kDefaultIntervalMs;        // monitor: from the start of one poll to the next
    int seconds = 0;                    // monitor: 0 runs until interrupted
    int scanFrom = kFirstRelayAddress;  // scan: the addresses asked, from and to
    int scanTo = kLastBusAddress;
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, BadUsage };
    Outcome outcome = Outcome::BadUsage;
    CliOptions options;
    // Help: what to print on stdout before ending with 0 (the help asked
    // for, or the version); BadUsage: what is wrong with the command line.
    QString text;
};

// `arguments` as QCoreApplication::arguments() gives them, program first.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);
