#include "app/CommandLine.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>

#include "link/Endpoint.h"

namespace {

const QString kPortOption = QStringLiteral("port");
const QString kReadOnlyOption = QStringLiteral("read-only");
constexpr int kLastPortNumber = 96;   // COM1 to COM96 have a variable each
constexpr const char* kPortVariable = "ZASHCHITA_COM%1";

// The window system's options that take a value, and those that do not,
// as Qt's application object reads them (with one dash or two).
const char* const kQtValueOptions[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "name", "style",
    "stylesheet", "qmljsdebugger",
};
const char* const kQtFlagOptions[] = {"reverse", "widgetcount", "nograb", "dograb", "sync", "testability"};

// `path` taken from the present working directory when it is relative.
// Not canonical: a /dev/serial/by-id link stays the link. A network
// endpoint is no path and stays as it is.
QString Anchored(const QString& path)
{
    if (NamesEndpoint(path) || QDir::isAbsolutePath(path))
        return path;
    return QDir::current().absoluteFilePath(path);
}

}  // namespace

bool AsksForTextOnly(int argc, const char* const* argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    // A bad command line is answered as text as well, without a window system.
    if (!parser.parse(arguments) || !parser.positionalArguments().isEmpty())
        return false;
    return parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all"))
        || parser.isSet(QStringLiteral("version"));
}

void SetUpCommandLine(QCommandLineParser& parser)
{
    parser.setApplicationDescription(QStringLiteral(
        "Operates a 0.4 kV motor-protection relay over a serial line (Modbus RTU, 9600 8N1).\n"
        "COM1 to COM4 open $ZASHCHITA_COM1 to $ZASHCHITA_COM4 when set; see zashchita(1)."));
    // The window system's options come with one dash (-platform offscreen).
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(QCommandLineOption(
        kPortOption,
        QStringLiteral("The device COM1 opens, the same as setting ZASHCHITA_COM1 "
                       "(e.g. /dev/ttyUSB0 or a /dev/serial/by-id/ link), or a network endpoint: "
                       "tcp://HOST:PORT (a serial device server's raw TCP port) or "
                       "modbus-tcp://HOST[:502] (a Modbus TCP gateway)."),
        QStringLiteral("PATH")));
    parser.addOption(QCommandLineOption(
        kReadOnlyOption,
        QStringLiteral("Watch only: no setting, mask or clock can be written and no settings file loaded "
                       "(also when ZASHCHITA_READ_ONLY=1).")));
    for (const char* name : kQtValueOptions) {
        QCommandLineOption option(QString::fromLatin1(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char* name : kQtFlagOptions) {
        QCommandLineOption option(QString::fromLatin1(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

bool ParseCommandLine(QCommandLineParser& parser, const QStringList& arguments, QString* error)
{
    if (!parser.parse(arguments)) {
        if (error)
            *error = parser.errorText();
        return false;
    }
    if (const QStringList stray = parser.positionalArguments(); !stray.isEmpty()) {
        if (error)
            *error = QStringLiteral("unexpected argument \"%1\"").arg(stray.first());
        return false;
    }
    return true;
}

bool ApplyCommandLine(const QCommandLineParser& parser, QString* com1Path, QString* error)
{
    if (parser.isSet(kPortOption)) {
        const QString path = parser.value(kPortOption);
        if (path.isEmpty()) {
            if (error)
                *error = QStringLiteral("--port needs a device path");
            return false;
        }
        if (QString reason; NamesEndpoint(path) && !ParseEndpoint(path, &reason)) {
            if (error)
                *error = QStringLiteral("--port: %1").arg(reason);
            return false;
        }
        if (com1Path)
            *com1Path = Anchored(path);
    }
    return true;
}

bool AsksReadOnly(const QCommandLineParser& parser)
{
    const QString value = qEnvironmentVariable("ZASHCHITA_READ_ONLY").trimmed().toLower();
    return parser.isSet(kReadOnlyOption) || value == QLatin1String("1") || value == QLatin1String("yes")
        || value == QLatin1String("true");
}

void AnchorDevicePaths()
{
    for (int n = 1; n <= kLastPortNumber; ++n) {
        const QByteArray name = QString::fromLatin1(kPortVariable).arg(n).toLatin1();
        const QByteArray value = qgetenv(name.constData());
        if (value.isEmpty())
            continue;
        const QString path = QFile::decodeName(value);
        if (Anchored(path) != path)
            qputenv(name.constData(), QFile::encodeName(Anchored(path)));
    }
}
