// The program's command line: --help, --version, --port PATH and --read-only.
//
// Nothing given on it changes the window. --port only says which device COM1
// opens, as ZASHCHITA_COM1 would (and taking precedence over it); the window
// is handed the device, the environment is left as the user set it.
#pragma once

#include <QString>
#include <QStringList>

class QCommandLineParser;

// Exit codes of the window program, as the command-line companion has them.
constexpr int kExitNoDisplay = 1;   // no window system to show the window on
constexpr int kExitBadUsage = 2;    // an unknown option, a stray argument, an unusable value

// Whether the arguments only ask for the help or the version text; main()
// then answers them without a window system (on a console, over ssh).
bool AsksForTextOnly(int argc, const char* const* argv);

// Adds -h/--help, -v/--version and --port to the parser, with the program's
// description. The window system's own options (-platform, -style, ...) are
// known to it as well, unlisted, so the command line can be checked before
// the window system starts; the application object takes them out later.
void SetUpCommandLine(QCommandLineParser& parser);

// Parses `arguments` (the program's name first). False, with a message for
// the user in *error, for an unknown option, an option without its value or
// an argument that is no option at all.
bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, QString* error);

// What a parsed command line asks for: in *com1Path the device COM1 opens
// (empty when --port was not given), a relative path taken from the present
// working directory. False, with a message for the user in *error, when a
// value cannot be used.
bool ApplyCommandLine(const QCommandLineParser& parser, QString* com1Path, QString* error);

// Whether the window is to be a watching station that cannot write:
// --read-only, or ZASHCHITA_READ_ONLY set to 1, yes or true (the menu
// entry's way, where no option can be given).
bool AsksReadOnly(const QCommandLineParser& parser);

// Makes every relative $ZASHCHITA_COMn absolute against the present working
// directory. Run at start-up: a report changes the working directory into
// its "TXT" folder, and the port must still open the same device after that.
void AnchorDevicePaths();
