// The program's command line: --help, --version and --port PATH.
//
// Nothing given on it changes the window. --port only says which device COM1
// opens, with the same effect as setting ZASHCHITA_COM1 (and taking precedence
// over a value already in the environment).
#pragma once

#include <QString>

class QCommandLineParser;

// Whether the arguments only ask for the help or the version text; main()
// then answers them without a window system (on a console, over ssh).
bool AsksForTextOnly(int argc, const char* const* argv);

// Adds -h/--help, -v/--version and --port to the parser, with the program's
// description.
void SetUpCommandLine(QCommandLineParser& parser);

// Carries out what a parsed command line asks for. False, with a message for
// the user in *error, when a value cannot be used.
bool ApplyCommandLine(const QCommandLineParser& parser, QString* error);
