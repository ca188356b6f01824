#include "CliHelp.h"

#include <algorithm>

#include "ZashchitaVersion.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RegisterCatalog.h"

namespace {

constexpr int kLineWidth = 79;
constexpr int kOptionColumn = 24;   // where an option's description starts

struct CommandHelp {
    QString words;       // "settings load"
    unsigned bit;
    QString usage;       // after "zashchita-cli [OPTIONS] "
    QString summary;     // one line in the list of commands
    QString description;
    QString exitCodes;
};

const std::vector<CommandHelp>& Commands()
{
    static const std::vector<CommandHelp> commands{
        {QStringLiteral("settings save"), kForSave, QStringLiteral("settings save FILE"),
         QStringLiteral("read the relay's settings and masks into FILE (FILE ending in .ini: INI, - : JSON "
                        "on standard output, else JSON)"),
         QStringLiteral("Reads the relay's settings block (registers %1 to %2) and writes its %3 settings, the "
                        "three protection masks among them, into FILE, each by its control name and caption, with register, value and "
                        "unit: as INI when FILE ends in .ini, else as JSON; FILE - writes JSON to standard output. "
                        "The file holds what the relay holds, so it always loads back. It is written whole or not "
                        "at all: an earlier file at FILE stays as it was until the new one is complete. It is "
                        "created readable by its owner only. A FILE that cannot be written is refused before the "
                        "relay is read.")
             .arg(kSettingsBlock.first)
             .arg(kSettingsBlock.first + kSettingsBlock.count - 1)
             .arg(SettingSpecs().size()),
         QStringLiteral("0 saved; 1 the port or the relay failed, or FILE could not be written (an earlier file "
                        "stays as it was); 2 bad usage, or FILE cannot be written, found before anything was "
                        "sent.")},
        {QStringLiteral("settings diff"), kForDiff, QStringLiteral("settings diff FILE"),
         QStringLiteral("print each setting the relay holds otherwise than FILE"),
         QStringLiteral("Prints one line for each setting of FILE that the relay holds otherwise, with both values "
                        "and units, and on standard error how many differ. What settings load keeps as the relay "
                        "holds it (mask bits without a box in the window) is no difference. FILE is checked whole "
                        "before the port is opened. FILE is read as JSON when its first character that is no "
                        "blank is {, else as INI, whatever its name (relay.ini.bak, relay_ini.txt); a file that "
                        "fails to parse is told which format was assumed."),
         QStringLiteral("0 the relay holds FILE's settings; 1 they differ; 2 trouble: bad usage, a bad file, or "
                        "the port or the relay failed (as diff and cmp do).")},
        {QStringLiteral("settings load"), kForLoad, QStringLiteral("settings load FILE"),
         QStringLiteral("print the writes that would make the relay hold FILE's settings; with --yes make them, "
                        "one register at a time, each confirmed by the relay's echo, then read them back"),
         QStringLiteral("Checks FILE whole first (syntax, names, registers, types; JSON or INI by its content, as "
                        "for diff), then reads the relay and "
                        "prints the writes that would make it hold FILE's settings. A value the load would write "
                        "must lie in the setting's range (what the window can write): one outside refuses the "
                        "load, and each is named; one the relay holds already is left alone. With --yes makes the "
                        "writes: only the settings that differ, one function-6 write each in register order, each "
                        "confirmed by the relay's exact echo; stops at the first refusal, missing echo or other "
                        "value stored; then reads the block back and names every setting that does not hold "
                        "FILE's value. Mask bits the window gives the user no box for stay as the relay holds "
                        "them. The relay's own address (register 80) is written only with --include-address, "
                        "last, and only while no device answers at the new address; the relay is then read "
                        "back at its new address. A relay that takes the new address at once, echoing from "
                        "there or not at all, is confirmed by its register 80 read at the new address. When the "
                        "port goes away, or SIGINT, SIGTERM or SIGHUP arrives, the writes end with the one in flight "
                        "(given up after 0.6 s, or at once on a second signal: then sent but not confirmed), and "
                        "every setting is named as written, refused, altered, sent but not confirmed (the relay "
                        "may hold it) or not sent; every write that left the PC is in the journal."),
         QStringLiteral("0 done, nothing to do, or (without --yes) the writes printed; 1 the port or the relay "
                        "failed: no answer, a refusal, another value stored, a setting that does not hold, the "
                        "port gone; or the writes were made but the journal of writes could not be written; 2 "
                        "bad usage, a bad file or a value out of range, with nothing written; 130, 143 or 129 "
                        "stopped by SIGINT, SIGTERM or SIGHUP.")},
        {QStringLiteral("records"), kForRecords, QStringLiteral("records"),
         QStringLiteral("print the four event records"),
         QStringLiteral("Prints the four event records: the moment (the relay keeps no year: the PC's, or the "
                        "year before when that would be in the future), the status word with the names of the "
                        "bits set, and the values with units. A moment that is no date (30 February, hour 24, "
                        "an empty record) is flagged, not shown as a date. CSV and JSON lines hold the relay's "
                        "own month, day, hour, minute and second as well."),
         QStringLiteral("0 done; 1 the port or the relay failed, or the output could not be written; 2 bad "
                        "usage.")},
        {QStringLiteral("monitor"), kForMonitor,
         QStringLiteral("monitor"),
         QStringLiteral("poll the current parameters, one line per poll"),
         QStringLiteral("Polls the current parameters every --interval ms and prints one line per poll with the "
                        "PC's time in ISO 8601 with its UTC offset, until --seconds have passed or SIGINT, "
                        "SIGTERM or SIGHUP arrives (a poll under way is then given up). A poll that fails gets a line too, with its reason, so that a gap shows "
                        "in the log."),
         QStringLiteral("0 at least one reply came; 1 none came, the port went away, or the output could not be "
                        "written; 2 bad usage.")},
        {QStringLiteral("scan"), kForScan, QStringLiteral("scan [--from N] [--to N]"),
         QStringLiteral("find the relays on the line: ask every address for the relay's own address register"),
         QStringLiteral("Asks each address from --from to --to, once each with a short time-out (default 100 ms; "
                        "--timeout and --retries change it), for register 80, the relay's own address, shows its "
                        "progress on standard error, and prints every address that answered with the value of "
                        "its register 80 as it is found; a device that answers with an exception is listed too, "
                        "with the exception. Nothing is written."),
         QStringLiteral("0 some device answered; 1 none answered, the port failed, or the output could not be "
                        "written; 2 bad usage.")},
        {QStringLiteral("journal"), kForJournal, QStringLiteral("journal [--format FORMAT]"),
         QStringLiteral("print the journal of every write the window and this program made to a relay"),
         QStringLiteral("Prints the journal of writes, oldest first: for every register write that the window or "
                        "this program made, the PC's time in ISO 8601 with its UTC offset, the program, the "
                        "device, the relay's address, the register with its setting's name and caption, the value "
                        "before (as last read; ? when it was not), the value asked for and how the relay answered "
                        "(echoed, refused with its exception, stored another value, no answer). The journal is "
                        "$XDG_DATA_HOME/zashchita/journal.jsonl (~/.local/share/zashchita/journal.jsonl when "
                        "XDG_DATA_HOME is not set), one JSON object per line, with up to three older files beside "
                        "it (.1 the newest); --format jsonl prints the journal's own lines. The files are read one line "
                        "at a time, whatever their size. The port is not opened: the line's options are refused."),
         QStringLiteral("0 done, also for an empty journal; 1 the journal could not be read (its folder a file, "
                        "say), or the output could not be written; 2 bad usage.")},
    };
    return commands;
}

const char* const kDescription =
    "Backs up, compares and restores the settings of a 0.4 kV motor-protection relay, "
    "reads its event records and live values, and finds the relays on a line, over a "
    "serial line (Modbus RTU, 9600 8N1, functions 3 and 6).";

const char* const kPortMapping =
    "COMn (COM1 to COM96) opens $ZASHCHITA_COMn when set, else /dev/ttyUSB<n-1> when present, "
    "else /dev/ttyACM<n-1> when present, else /dev/ttyS<n-1>.";

const char* const kExitCodes =
    "Exit codes: 0 done; 1 the port or the relay failed, or a file (the journal of writes too) or the output "
    "could not be written (a reader that went away, as | head does, ends the command quietly with 1); 2 bad "
    "usage or a "
    "bad file, with nothing written. settings diff: 0 the relay holds the file's settings, 1 they differ, "
    "2 trouble. SIGINT, SIGTERM and SIGHUP end a command at once with 130, 143 or 129 (a settings load "
    "after the write in flight; monitor with its own codes).";

// `text` broken into lines of at most kLineWidth, the first after `first`,
// the others after `indent` blanks.
QString Wrapped(const QString& text, const QString& first, int indent)
{
    QStringList lines;
    QString line = first;
    bool empty = true;   // nothing of `text` on the line yet
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!empty && line.size() + 1 + word.size() > kLineWidth) {
            lines << line;
            line = QString(indent, QLatin1Char(' '));
            empty = true;
        }
        if (!empty)
            line += QLatin1Char(' ');
        line += word;
        empty = false;
    }
    lines << line;
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString Paragraph(const QString& text)
{
    return Wrapped(text, QString(), 0);
}

}  // namespace

QString CommandNames(unsigned commands)
{
    QStringList names;
    bool settingsNamed = false;
    for (const CommandHelp& c : Commands()) {
        if (!(commands & c.bit))
            continue;
        // All three settings commands are "settings".
        if ((c.bit & kForSettings) && (commands & kForSettings) == kForSettings) {
            if (!settingsNamed)
                names << QStringLiteral("settings");
            settingsNamed = true;
            continue;
        }
        names << c.words;
    }
    if (names.size() < 2)
        return names.join(QString());
    return names.mid(0, names.size() - 1).join(QStringLiteral(", ")) + QStringLiteral(" and ") + names.last();
}

namespace {

// "records and monitor: the same as --format csv."
QString Owned(const OptionSpec& o)
{
    return CommandNames(o.commands) + QStringLiteral(": ") + o.help.left(1).toLower() + o.help.mid(1);
}

QString OptionLine(const QStringList& names, const QString& valueName, const QString& help)
{
    QStringList spelled;
    for (const QString& name : names)
        spelled << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
    // The one-letter form first, as usual.
    std::reverse(spelled.begin(), spelled.end());
    QString head = QStringLiteral("  ") + spelled.join(QStringLiteral(", "));
    if (!valueName.isEmpty())
        head += QStringLiteral(" <%1>").arg(valueName);
    head = head.size() < kOptionColumn ? head.leftJustified(kOptionColumn)
                                       : head + QLatin1Char('\n') + QString(kOptionColumn, QLatin1Char(' '));
    return Wrapped(help, head, kOptionColumn);
}

// The line's options, unless `commands` are only such as open no line.
QString CommonOptions(unsigned commands = kForEvery)
{
    const bool line = commands & kForEvery;
    QString text = line ? QStringLiteral("Options of the line (every command but journal), and help:\n")
                        : QStringLiteral("Other options:\n");
    for (const OptionSpec& o : CommandLineOptions())
        if (o.commands == kForEvery && line)
            text += OptionLine(o.names, o.valueName, o.help);
    text += OptionLine({QStringLiteral("help"), QStringLiteral("h")}, QString(),
                       QStringLiteral("Print this help; after a command, that command's help."));
    text += OptionLine({QStringLiteral("version"), QStringLiteral("v")}, QString(),
                       QStringLiteral("Print the program's version."));
    return text;
}

QString ProgramHelp()
{
    QString text = QStringLiteral("Usage: zashchita-cli [OPTIONS] COMMAND [FILE]\n"
                                  "       zashchita-cli COMMAND --help\n\n");
    text += Paragraph(QString::fromLatin1(kDescription)) + QLatin1Char('\n');
    text += QStringLiteral("Commands:\n");
    for (const CommandHelp& c : Commands())
        text += Wrapped(c.summary,
                        (QStringLiteral("  ") + c.words + ((c.bit & kForSettings) ? QStringLiteral(" FILE") : QString()))
                            .leftJustified(kOptionColumn),
                        kOptionColumn);
    text += QLatin1Char('\n') + CommonOptions() + QLatin1Char('\n');
    text += QStringLiteral("Options of one command:\n");
    for (const OptionSpec& o : CommandLineOptions())
        if (o.commands != kForEvery)
            text += OptionLine(o.names, o.valueName, Owned(o));
    text += QLatin1Char('\n') + Paragraph(QString::fromLatin1(kPortMapping));
    text += QLatin1Char('\n') + Paragraph(QString::fromLatin1(kExitCodes));
    return text;
}

QString HelpOf(const std::vector<const CommandHelp*>& commands)
{
    QString text;
    unsigned bits = 0;
    for (const CommandHelp* c : commands) {
        text += text.isEmpty() ? QStringLiteral("Usage: ") : QStringLiteral("       ");
        text += QStringLiteral("zashchita-cli [OPTIONS] ") + c->usage + QLatin1Char('\n');
        bits |= c->bit;
    }
    for (const CommandHelp* c : commands) {
        text += QLatin1Char('\n');
        text += commands.size() > 1 ? Wrapped(c->description, c->words + QStringLiteral(": "), 0)
                                    : Paragraph(c->description);
    }
    QString own;
    for (const OptionSpec& o : CommandLineOptions())
        if (o.commands != kForEvery && (o.commands & bits))
            own += OptionLine(o.names, o.valueName,
                              commands.size() > 1 && o.commands != bits ? Owned(o)
                                                                        : o.help);
    if (!own.isEmpty())
        text += QStringLiteral("\nOptions of the command:\n") + own;
    text += QLatin1Char('\n') + CommonOptions(bits);
    if (bits & kForEvery)
        text += QLatin1Char('\n') + Paragraph(QString::fromLatin1(kPortMapping));
    for (const CommandHelp* c : commands)
        text += QLatin1Char('\n') + Wrapped(c->exitCodes, commands.size() > 1
                                                              ? QStringLiteral("Exit codes of %1: ").arg(c->words)
                                                              : QStringLiteral("Exit codes: "),
                                            0);
    return text;
}

}  // namespace

unsigned CommandBit(CliCommand command)
{
    switch (command) {
    case CliCommand::SettingsSave: return kForSave;
    case CliCommand::SettingsDiff: return kForDiff;
    case CliCommand::SettingsLoad: return kForLoad;
    case CliCommand::Records: return kForRecords;
    case CliCommand::Monitor: return kForMonitor;
    case CliCommand::Scan: return kForScan;
    case CliCommand::Journal: return kForJournal;
    }
    return 0;
}

const std::vector<OptionSpec>& CommandLineOptions()
{
    static const std::vector<OptionSpec> options{
        {{QStringLiteral("port")}, QStringLiteral("PATH|COMn|ENDPOINT"),
         QStringLiteral("The serial device: a path, or COM1 to COM96 as the window maps them (default COM1); "
                        "or a serial device server, tcp://HOST:PORT (RTU passed through), or a Modbus TCP "
                        "gateway, modbus-tcp://HOST[:PORT] (port 502 by default).")},
        {{QStringLiteral("address")}, QStringLiteral("N"),
         QStringLiteral("The relay's slave address, 1 to 246 (default 1): what its own address setting "
                        "(register 80) can hold."),
         kForOneRelay},
        {{QStringLiteral("timeout")}, QStringLiteral("MS"),
         QStringLiteral("How long to wait for one reply, in ms, 10 to 60000 (default 500); a network line "
                        "waits 100 ms more.")},
        {{QStringLiteral("retries")}, QStringLiteral("N"),
         QStringLiteral("How often a request left unanswered or answered with a spoilt frame is sent again, 0 to "
                        "10 (default 2).")},
        {{QStringLiteral("line-timing")}, QStringLiteral("on|off|auto"),
         QStringLiteral("Whether an answer must be one the wire allows (no sooner than the request and the "
                        "answer take at 9600 8N1): auto (default) by the device, on for a serial adapter and "
                        "tcp://, off for a pseudo-terminal and modbus-tcp://.")},
        {{QStringLiteral("trace")}, QString(),
         QStringLiteral("Print every frame on the line in hex on standard error, as the window's frame trace "
                        "does.")},
        {{QStringLiteral("read-only")}, QString(),
         QStringLiteral("Never write to the relay: a command that writes (settings load) is refused as a usage "
                        "error. ZASHCHITA_READ_ONLY=1 does the same.")},
        {{QStringLiteral("yes")}, QString(), QStringLiteral("Make the writes; without it they are only printed."),
         kForLoad},
        {{QStringLiteral("include-address")}, QString(),
         QStringLiteral("load: also write the relay's own address (register 80), last. diff: also count it as a "
                        "difference; without it a diff names a differing address but does not count it, as a "
                        "load leaves it."),
         kForLoad | kForDiff},
        {{QStringLiteral("format")}, QStringLiteral("FORMAT"),
         QStringLiteral("text (default); csv, with a header line; or jsonl, one JSON object per line."),
         kForRecords | kForMonitor | kForScan | kForJournal},
        {{QStringLiteral("csv")}, QString(), QStringLiteral("The same as --format csv."),
         kForRecords | kForMonitor | kForScan | kForJournal},
        {{QStringLiteral("archive")}, QStringLiteral("FILE"),
         QStringLiteral("Print the event records zashchita-exporter archived in FILE (its records.jsonl), each "
                        "with its line, relay, address and when it was read, instead of reading the relay."),
         kForRecords},
        {{QStringLiteral("interval")}, QStringLiteral("MS"),
         QStringLiteral("Start a poll every MS ms, 0 to 3600000; 0 polls as fast as the relay answers "
                        "(default 100)."),
         kForMonitor},
        {{QStringLiteral("seconds")}, QStringLiteral("N"),
         QStringLiteral("Stop after N seconds (default: run until interrupted)."), kForMonitor},
        {{QStringLiteral("from")}, QStringLiteral("N"), QStringLiteral("The first address asked, 1 to 247 (default 1); 247 finds other devices "
                                                                 "only, as no relay can be set to it."),
         kForScan},
        {{QStringLiteral("to")}, QStringLiteral("N"), QStringLiteral("The last address asked, 1 to 247 (default 247)."),
         kForScan},
    };
    return options;
}

QString HelpText(const QStringList& words)
{
    std::vector<const CommandHelp*> named;
    const QString first = words.value(0);
    const QString two = words.mid(0, 2).join(QLatin1Char(' '));
    for (const CommandHelp& c : Commands())
        if (c.words == two || c.words == first)
            named.push_back(&c);
    if (named.empty() && first == QLatin1String("settings"))
        for (const CommandHelp& c : Commands())
            if (c.bit & kForSettings)
                named.push_back(&c);
    return named.empty() ? ProgramHelp() : HelpOf(named);
}

QString VersionText()
{
    return QStringLiteral("zashchita-cli %1\n").arg(QLatin1String(ZASHCHITA_VERSION));
}
