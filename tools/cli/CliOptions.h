// The command line: a command (settings save|diff|load FILE, records,
// monitor) and the options of the line and of each command.
#pragma once

#include <QString>
#include <QStringList>

enum class CliCommand { SettingsSave, SettingsDiff, SettingsLoad, Records, Monitor, Journal };

// How records and monitor print: lines for a person, CSV with a header line,
// or one JSON object per line.
enum class OutputFormat { Text, Csv, Jsonl };

constexpr int kDefaultIntervalMs = 100;

struct CliOptions {
    CliCommand command = CliCommand::Records;
    QString file;                       // settings commands; "-" is standard output for save
    QString port = QStringLiteral("COM1");
    int address = 1;                    // the slave address the requests go to
    int timeoutMs = 500;                // wait for one reply
    int retries = 2;                    // a request unanswered or spoilt is sent again this often
    bool trace = false;
    bool yes = false;                   // settings load: really write
    bool includeAddress = false;        // settings load: also the relay's own address
    OutputFormat format = OutputFormat::Text;   // records, monitor
    int intervalMs = kDefaultIntervalMs;        // monitor: from the start of one poll to the next
    int seconds = 0;                    // monitor: 0 runs until interrupted
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
