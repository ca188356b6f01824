// The command line: a command (settings save|diff|load FILE, records,
// monitor) and the options of the line and of each command.
#pragma once

#include <QString>
#include <QStringList>

enum class CliCommand { SettingsSave, SettingsDiff, SettingsLoad, Records, Monitor };

struct CliOptions {
    CliCommand command = CliCommand::Records;
    QString file;                       // settings commands
    QString port = QStringLiteral("COM1");
    int address = 1;                    // the slave address the requests go to
    int timeoutMs = 500;                // wait for one reply
    int retries = 2;                    // a request unanswered or spoilt is sent again this often
    bool trace = false;
    bool yes = false;                   // settings load: really write
    bool includeAddress = false;        // settings load: also the relay's own address
    bool csv = false;                   // records, monitor
    int seconds = 0;                    // monitor: 0 runs until interrupted
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, BadUsage };
    Outcome outcome = Outcome::BadUsage;
    CliOptions options;
    QString text;   // the help text, or what is wrong with the command line
};

// `arguments` as QCoreApplication::arguments() gives them, program first.
ParsedCommandLine ParseCommandLine(const QStringList& arguments);
