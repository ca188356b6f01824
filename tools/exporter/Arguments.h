// The exporter's command line, read by a small table of flags: each row
// names a flag and what it does; the reader walks the arguments in order.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

struct FlagRow {
    QStringList names;          // "--help", "-h"
    bool takesValue = false;    // the next argument, which may not be empty
    // Does the flag's work; an exit status ends the reading there (--help).
    std::function<std::optional<int>(const QString& value)> apply;
};

// Walks `args` (args[0] is the program) through `table`. Returns the exit
// status a row ended with, 2 with `*error` for a flag unknown or without its
// value, or nothing when every argument was taken.
std::optional<int> ReadFlags(const QStringList& args, const std::vector<FlagRow>& table, QString* error);

struct ExporterArguments {
    QString config;
    QString listen;
    QString stateDir;
    QString webConfig;          // TLS and basic authentication; empty: plain HTTP, open
    QString modbusListen;       // the Modbus TCP server's HOST:PORT; empty: as the configuration says
    bool check = false;
};

struct ArgumentsReading {
    std::optional<int> status;   // end with this status; none: go on with `args`
    QString out;                 // for stdout (--help, --version)
    QString error;               // for the log: what is wrong with the command line
    ExporterArguments args;
};

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// The exporter's flags; a state folder not given is $STATE_DIRECTORY's
// first, else the default.
ArgumentsReading ReadExporterArguments(const QStringList& args);
