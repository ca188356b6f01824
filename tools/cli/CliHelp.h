// The options the command line knows, and the help made from them: of the
// whole program, or of one command (zashchita-cli monitor --help).
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

#include "CliOptions.h"

// The commands an option belongs to, as a set of bits.
enum CommandSet : unsigned {
    kForSave = 1u << 0,
    kForDiff = 1u << 1,
    kForLoad = 1u << 2,
    kForRecords = 1u << 3,
    kForMonitor = 1u << 4,
    kForScan = 1u << 5,
    kForJournal = 1u << 6,   // reads no relay: none of the line's options
    kForSettings = kForSave | kForDiff | kForLoad,
    kForOneRelay = kForSettings | kForRecords | kForMonitor,   // the commands that talk to one address
    kForEvery = kForOneRelay | kForScan,
};

unsigned CommandBit(CliCommand command);
// "records and monitor", "settings load"; "settings" for all three of them.
QString CommandNames(unsigned commands);

struct OptionSpec {
    QStringList names;   // the long name first, then a one-letter one if any
    QString valueName;   // empty for a switch
    QString help;        // one sentence, without the commands it belongs to
    unsigned commands = kForEvery;
};

// Every option but help and version, in the order the help lists them.
const std::vector<OptionSpec>& CommandLineOptions();

// The help of the command the words name ("settings", "settings load",
// "monitor"), or of the whole program when they name none.
QString HelpText(const QStringList& words);
QString VersionText();
