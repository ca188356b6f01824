#include "CliOptions.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QRegularExpression>

#include <map>

#include "CliHelp.h"
#include "link/Endpoint.h"

namespace {

constexpr int kMinTimeoutMs = 10;
constexpr int kMaxTimeoutMs = 60000;
constexpr int kMaxRetries = 10;
constexpr int kMaxSeconds = 7 * 24 * 3600;
constexpr int kMaxIntervalMs = 3600 * 1000;
// The COM names the window maps to a device.
constexpr int kFirstComPort = 1;
constexpr int kLastComPort = 96;

// The parser's options by long name, made from the table of options.
struct Parser {
    QCommandLineParser parser;
    std::map<QString, QCommandLineOption> options;
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")}};
    // Qt's parser would list the toolkit's own options here; it is the
    // program's help, as --help is.
    QCommandLineOption helpAll{QStringLiteral("help-all")};
    QCommandLineOption version{{QStringLiteral("v"), QStringLiteral("version")}};

    Parser()
    {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        for (const OptionSpec& declared : CommandLineOptions()) {
            QCommandLineOption option(declared.names);
            if (!declared.valueName.isEmpty())
                option.setValueName(declared.valueName);
            options.emplace(declared.names.constFirst(), option);
            parser.addOption(option);
        }
        parser.addOptions({help, helpAll, version});
    }
    bool IsSet(const char* name) const { return parser.isSet(Option(name)); }
    QString Value(const char* name) const { return parser.value(Option(name)); }
    const QCommandLineOption& Option(const char* name) const { return options.at(QString::fromLatin1(name)); }
};

// The value of option `name` as a whole number from lo to hi; `out` is left
// as it is when the option is not given.
bool ReadInt(const Parser& p, const char* name, int lo, int hi, int& out, QString& error)
{
    if (!p.IsSet(name))
        return true;
    bool ok = false;
    const int value = p.Value(name).toInt(&ok, 10);
    if (!ok || value < lo || value > hi) {
        error = QStringLiteral("--%1 takes a whole number from %2 to %3, not \"%4\"")
                    .arg(QLatin1String(name)).arg(lo).arg(hi).arg(p.Value(name));
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
    static const std::map<QString, CliCommand> plain{{QStringLiteral("records"), CliCommand::Records},
                                                     {QStringLiteral("monitor"), CliCommand::Monitor},
                                                     {QStringLiteral("scan"), CliCommand::Scan},
                                                     {QStringLiteral("journal"), CliCommand::Journal}};
    if (const auto found = plain.find(first); found != plain.end()) {
        if (words.size() != 1) {
            error = QStringLiteral("%1 takes no arguments: \"%2\"").arg(first, words[1]);
            return false;
        }
        options.command = found->second;
        if (options.command == CliCommand::Scan) {
            // Its own defaults; --timeout and --retries still set them.
            options.timeoutMs = kScanTimeoutMs;
            options.retries = kScanRetries;
        }
        return true;
    }
    error = first.isEmpty() ? QStringLiteral("no command given")
                            : QStringLiteral("unknown command \"%1\"").arg(first);
    return false;
}

// Options that belong to some commands are refused with any other.
bool CheckOptionsFitCommand(const Parser& p, CliCommand command, QString& error)
{
    for (const OptionSpec& declared : CommandLineOptions()) {
        if ((declared.commands & CommandBit(command)) || !p.parser.isSet(declared.names.constFirst()))
            continue;
        error = QStringLiteral("--%1 belongs to %2 only").arg(declared.names.constFirst(), CommandNames(declared.commands));
        return false;
    }
    return true;
}

bool ReadFormat(const Parser& p, OutputFormat& format, QString& error)
{
    static const std::map<QString, OutputFormat> names{{QStringLiteral("text"), OutputFormat::Text},
                                                       {QStringLiteral("csv"), OutputFormat::Csv},
                                                       {QStringLiteral("jsonl"), OutputFormat::Jsonl}};
    if (p.IsSet("format")) {
        const auto found = names.find(p.Value("format"));
        if (found == names.end()) {
            error = QStringLiteral("--format takes text, csv or jsonl, not \"%1\"").arg(p.Value("format"));
            return false;
        }
        format = found->second;
    }
    if (p.IsSet("csv")) {
        if (p.IsSet("format") && format != OutputFormat::Csv) {
            error = QStringLiteral("--csv is --format csv; it cannot go with --format %1").arg(p.Value("format"));
            return false;
        }
        format = OutputFormat::Csv;
    }
    return true;
}

// A path, a COM name the window maps (COM1 to COM96 in any case; other COM
// names would open COM1's device), or a network endpoint written in full.
bool ReadPort(const Parser& p, QString& port, QString& error)
{
    if (!p.IsSet("port"))
        return true;
    port = p.Value("port");
    if (port.isEmpty()) {
        error = QStringLiteral("--port needs a device path or COMn");
        return false;
    }
    if (QString reason; NamesEndpoint(port) && !ParseEndpoint(port, &reason)) {
        error = QStringLiteral("--port: %1").arg(reason);
        return false;
    }
    static const QRegularExpression comName(QStringLiteral("^COM([0-9]+)$"), QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = comName.match(port);
    if (!match.hasMatch())
        return true;
    const QString digits = match.captured(1);
    const int number = digits.toInt();
    if (digits.startsWith(QLatin1Char('0')) || number < kFirstComPort || number > kLastComPort) {
        error = QStringLiteral("--port takes a device path or COM%1 to COM%2, not \"%3\"")
                    .arg(kFirstComPort).arg(kLastComPort).arg(port);
        return false;
    }
    return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(const QStringList& arguments)
{
    ParsedCommandLine parsed;
    Parser p;
    if (!p.parser.parse(arguments)) {
        parsed.text = p.parser.errorText();
        return parsed;
    }
    if (p.parser.isSet(p.version)) {
        parsed.outcome = ParsedCommandLine::Outcome::Help;
        parsed.text = VersionText();
        return parsed;
    }
    if (p.parser.isSet(p.help) || p.parser.isSet(p.helpAll)) {
        parsed.outcome = ParsedCommandLine::Outcome::Help;
        parsed.text = HelpText(p.parser.positionalArguments());
        return parsed;
    }

    CliOptions& options = parsed.options;
    QString& error = parsed.text;
    if (!ReadCommand(p.parser.positionalArguments(), options, error)
        || !CheckOptionsFitCommand(p, options.command, error)
        || !ReadInt(p, "address", kFirstRelayAddress, kLastRelayAddress, options.address, error)
        || !ReadInt(p, "timeout", kMinTimeoutMs, kMaxTimeoutMs, options.timeoutMs, error)
        || !ReadInt(p, "retries", 0, kMaxRetries, options.retries, error)
        || !ReadInt(p, "seconds", 1, kMaxSeconds, options.seconds, error)
        || !ReadInt(p, "interval", 0, kMaxIntervalMs, options.intervalMs, error)
        || !ReadInt(p, "from", kFirstRelayAddress, kLastBusAddress, options.scanFrom, error)
        || !ReadInt(p, "to", kFirstRelayAddress, kLastBusAddress, options.scanTo, error)
        || !ReadFormat(p, options.format, error)
        || !ReadPort(p, options.port, error))
        return parsed;
    if (options.scanFrom > options.scanTo) {
        error = QStringLiteral("--from %1 lies beyond --to %2").arg(options.scanFrom).arg(options.scanTo);
        return parsed;
    }
    options.portGiven = p.IsSet("port");
    if (p.IsSet("line-timing")) {
        options.lineTiming = p.Value("line-timing");
        if (options.lineTiming != QLatin1String("on") && options.lineTiming != QLatin1String("off")
            && options.lineTiming != QLatin1String("auto")) {
            error = QStringLiteral("--line-timing takes on, off or auto, not \"%1\"").arg(options.lineTiming);
            return parsed;
        }
    }
    // A watching station's scripts: a command that writes is no command here.
    const QString readOnlyVariable = qEnvironmentVariable("ZASHCHITA_READ_ONLY").trimmed().toLower();
    options.readOnly = p.IsSet("read-only") || readOnlyVariable == QLatin1String("1")
        || readOnlyVariable == QLatin1String("yes") || readOnlyVariable == QLatin1String("true");
    if (options.readOnly && options.command == CliCommand::SettingsLoad) {
        error = QStringLiteral("settings load writes to the relay, and this is read-only (--read-only or "
                               "ZASHCHITA_READ_ONLY); use settings diff to compare");
        return parsed;
    }
    options.trace = p.IsSet("trace");
    options.yes = p.IsSet("yes");
    options.includeAddress = p.IsSet("include-address");
    parsed.outcome = ParsedCommandLine::Outcome::Run;
    return parsed;
}
