#include "CliOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace {

constexpr int kMinAddress = 1;
constexpr int kMaxAddress = 247;
constexpr int kMinTimeoutMs = 10;
constexpr int kMaxTimeoutMs = 60000;
constexpr int kMaxRetries = 10;
constexpr int kMaxSeconds = 7 * 24 * 3600;

const char* const kDescription =
    "Backs up, compares and restores the settings of a 0.4 kV motor-protection relay,\n"
    "and reads its event records and live values, over a serial line (Modbus RTU,\n"
    "9600 8N1, functions 3 and 6).\n"
    "\n"
    "Commands:\n"
    "  settings save FILE   read the relay's settings and masks into FILE\n"
    "                       (FILE ending in .ini: INI, otherwise JSON)\n"
    "  settings diff FILE   print each setting the relay holds otherwise than FILE\n"
    "  settings load FILE   print the writes that would make the relay hold FILE's\n"
    "                       settings; with --yes make them, one register at a time,\n"
    "                       each confirmed by the relay's echo, then read them back\n"
    "  records              print the four event records\n"
    "  monitor              poll the current parameters, one line per reply\n"
    "\n"
    "The relay's own address (register 80) is written only with --include-address.\n"
    "COMn opens $ZASHCHITA_COMn when set, else /dev/ttyUSB<n-1>, else /dev/ttyS<n-1>.\n"
    "\n"
    "Exit codes: 0 done; 1 the port or the relay failed (no answer, a refusal,\n"
    "another value stored, a setting that does not hold); 2 bad usage or a bad\n"
    "file, with nothing written.";

struct Options {
    QCommandLineOption port{QStringLiteral("port"),
                            QStringLiteral("The serial device: a path, or COM1 to COM96 as the window maps "
                                           "them (default COM1)."),
                            QStringLiteral("PATH|COMn"), QStringLiteral("COM1")};
    QCommandLineOption address{QStringLiteral("address"),
                               QStringLiteral("The relay's slave address, 1 to 247 (default 1)."),
                               QStringLiteral("N"), QStringLiteral("1")};
    QCommandLineOption timeout{QStringLiteral("timeout"),
                               QStringLiteral("How long to wait for one reply, in ms (default 500)."),
                               QStringLiteral("MS"), QStringLiteral("500")};
    QCommandLineOption retries{QStringLiteral("retries"),
                               QStringLiteral("How often a request left unanswered or answered with a "
                                              "spoilt frame is sent again (default 2)."),
                               QStringLiteral("N"), QStringLiteral("2")};
    QCommandLineOption trace{QStringLiteral("trace"),
                             QStringLiteral("Print every frame on the line in hex on stderr, as the window's "
                                            "frame trace does.")};
    QCommandLineOption yes{QStringLiteral("yes"), QStringLiteral("settings load: make the writes.")};
    QCommandLineOption includeAddress{QStringLiteral("include-address"),
                                      QStringLiteral("settings load: also write the relay's own address "
                                                     "(register 80), last.")};
    QCommandLineOption csv{QStringLiteral("csv"), QStringLiteral("records, monitor: print CSV.")};
    QCommandLineOption seconds{QStringLiteral("seconds"),
                               QStringLiteral("monitor: stop after N seconds (default: run until "
                                              "interrupted)."),
                               QStringLiteral("N")};
};

bool ReadInt(const QCommandLineParser& parser, const QCommandLineOption& option, int lo, int hi, int& out,
             QString& error)
{
    const QString name = option.names().constFirst();
    bool ok = false;
    const int value = parser.value(option).toInt(&ok, 10);
    if (!ok || value < lo || value > hi) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                    .arg(name).arg(lo).arg(hi).arg(parser.value(option));
        return false;
    }
    out = value;
    return true;
}

// The command and its file from the positional arguments.
bool ReadCommand(const QStringList& words, CliOptions& options, QString& error)
{
    const QString first = words.value(0);
    if (first == QLatin1String("settings")) {
        static const QStringList verbs{QStringLiteral("save"), QStringLiteral("diff"), QStringLiteral("load")};
        const QString verb = words.value(1);
        if (!verbs.contains(verb)) {
            error = QStringLiteral("settings takes save, diff or load, then a FILE");
            return false;
        }
        if (words.size() != 3 || words[2].isEmpty()) {
            error = QStringLiteral("settings %1 takes one FILE").arg(verb);
            return false;
        }
        options.command = verb == QLatin1String("save")   ? CliCommand::SettingsSave
                          : verb == QLatin1String("diff") ? CliCommand::SettingsDiff
                                                          : CliCommand::SettingsLoad;
        options.file = words[2];
        return true;
    }
    if (first == QLatin1String("records") || first == QLatin1String("monitor")) {
        if (words.size() != 1) {
            error = QStringLiteral("%1 takes no arguments: \"%2\"").arg(first, words[1]);
            return false;
        }
        options.command = first == QLatin1String("records") ? CliCommand::Records : CliCommand::Monitor;
        return true;
    }
    error = first.isEmpty() ? QStringLiteral("no command given")
                            : QStringLiteral("unknown command \"%1\"").arg(first);
    return false;
}

// Options that belong to one command are refused with any other.
bool CheckOptionsFitCommand(const QCommandLineParser& parser, const Options& o, const CliOptions& options,
                            QString& error)
{
    struct Belonging {
        const QCommandLineOption* option;
        bool fits;
        const char* owner;
    };
    const CliCommand c = options.command;
    const Belonging belongings[] = {
        {&o.yes, c == CliCommand::SettingsLoad, "settings load"},
        {&o.includeAddress, c == CliCommand::SettingsLoad, "settings load"},
        {&o.csv, c == CliCommand::Records || c == CliCommand::Monitor, "records and monitor"},
        {&o.seconds, c == CliCommand::Monitor, "monitor"},
    };
    for (const Belonging& b : belongings) {
        if (parser.isSet(*b.option) && !b.fits) {
            error = QStringLiteral("--%1 belongs to %2 only")
                        .arg(b.option->names().constFirst(), QString::fromLatin1(b.owner));
            return false;
        }
    }
    return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments)
{
    ParsedCommandLine parsed;
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help = parser.addHelpOption();
    Options o;
    for (const QCommandLineOption* option :
         {&o.port, &o.address, &o.timeout, &o.retries, &o.trace, &o.yes, &o.includeAddress, &o.csv, &o.seconds})
        parser.addOption(*option);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("settings save|diff|load FILE, records or monitor."),
                                 QStringLiteral("<command> [FILE]"));

    if (!parser.parse(arguments)) {
        parsed.text = parser.errorText();
        return parsed;
    }
    if (parser.isSet(help)) {
        parsed.outcome = ParsedCommandLine::Outcome::Help;
        parsed.text = parser.helpText();
        return parsed;
    }

    CliOptions& options = parsed.options;
    QString& error = parsed.text;
    if (!ReadCommand(parser.positionalArguments(), options, error)
        || !CheckOptionsFitCommand(parser, o, options, error)
        || !ReadInt(parser, o.address, kMinAddress, kMaxAddress, options.address, error)
        || !ReadInt(parser, o.timeout, kMinTimeoutMs, kMaxTimeoutMs, options.timeoutMs, error)
        || !ReadInt(parser, o.retries, 0, kMaxRetries, options.retries, error))
        return parsed;
    if (parser.isSet(o.seconds) && !ReadInt(parser, o.seconds, 1, kMaxSeconds, options.seconds, error))
        return parsed;
    options.port = parser.value(o.port);
    if (options.port.isEmpty()) {
        error = QStringLiteral("--port needs a device path or COMn");
        return parsed;
    }
    options.trace = parser.isSet(o.trace);
    options.yes = parser.isSet(o.yes);
    options.includeAddress = parser.isSet(o.includeAddress);
    options.csv = parser.isSet(o.csv);
    parsed.outcome = ParsedCommandLine::Outcome::Run;
    return parsed;
}
