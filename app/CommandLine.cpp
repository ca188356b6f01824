#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QFile>

#include <cstring>

namespace {

const QString kPortOption = QStringLiteral("port");

}  // namespace

bool AsksForTextOnly(int argc, const char* const* argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--") == 0)
            return false;
        if (std::strcmp(arg, "--port") == 0) {   // its value is a path, whatever it looks like
            ++i;
            continue;
        }
        for (const char* text : {"-h", "--help", "-?", "--help-all", "-v", "--version"})
            if (std::strcmp(arg, text) == 0)
                return true;
    }
    return false;
}

void SetUpCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Operates a 0.4 kV motor-protection relay over a serial line (Modbus RTU, 9600 8N1).\n"
        "COM1 to COM4 open $ZASHCHITA_COM1 to $ZASHCHITA_COM4 when set; see zashchita(1)."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        kPortOption,
        QStringLiteral("The device COM1 opens, the same as setting ZASHCHITA_COM1 "
                       "(e.g. /dev/ttyUSB0 or a /dev/serial/by-id/ link)."),
        QStringLiteral("PATH")));
}

bool ApplyCommandLine(const QCommandLineParser& parser, QString* error)
{
    if (parser.isSet(kPortOption)) {
        const QString path = parser.value(kPortOption);
        if (path.isEmpty()) {
            if (error)
                *error = QStringLiteral("--port needs a device path");
            return false;
        }
        qputenv("ZASHCHITA_COM1", QFile::encodeName(path));
    }
    return true;
}
