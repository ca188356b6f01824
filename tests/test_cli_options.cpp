// zashchita-cli's command line without a line: commands and their options,
// the COM names it accepts, the help of the program and of each command, the
// version, and CSV.
#include <gtest/gtest.h>

#include <QRegularExpression>

#include "CliHelp.h"
#include "CliOptions.h"
#include "Console.h"

TEST(CommandLine, CommandsAndTheirOptions)
{
    const QString program = QStringLiteral("zashchita-cli");
    ParsedCommandLine p = ParseCommandLine({program, QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB0"),
                                            QStringLiteral("--address"), QStringLiteral("12"),
                                            QStringLiteral("settings"), QStringLiteral("load"), QStringLiteral("a.ini"),
                                            QStringLiteral("--yes"), QStringLiteral("--include-address")});
    ASSERT_EQ(p.outcome, ParsedCommandLine::Outcome::Run) << p.text.toStdString();
    EXPECT_EQ(p.options.command, CliCommand::SettingsLoad);
    EXPECT_EQ(p.options.file, QStringLiteral("a.ini"));
    EXPECT_EQ(p.options.port, QStringLiteral("/dev/ttyUSB0"));
    EXPECT_EQ(p.options.address, 12);
    EXPECT_TRUE(p.options.yes);
    EXPECT_TRUE(p.options.includeAddress);

    p = ParseCommandLine({program, QStringLiteral("monitor"), QStringLiteral("--csv"), QStringLiteral("--seconds"),
                          QStringLiteral("30")});
    ASSERT_EQ(p.outcome, ParsedCommandLine::Outcome::Run);
    EXPECT_EQ(p.options.command, CliCommand::Monitor);
    EXPECT_EQ(p.options.seconds, 30);
    EXPECT_EQ(p.options.port, QStringLiteral("COM1"));
    EXPECT_EQ(p.options.address, 1);

    EXPECT_EQ(ParseCommandLine({program, QStringLiteral("--help")}).outcome, ParsedCommandLine::Outcome::Help);

    // scan asks once and briefly unless told otherwise.
    p = ParseCommandLine({program, QStringLiteral("scan"), QStringLiteral("--to"), QStringLiteral("20")});
    ASSERT_EQ(p.outcome, ParsedCommandLine::Outcome::Run) << p.text.toStdString();
    EXPECT_EQ(p.options.command, CliCommand::Scan);
    EXPECT_EQ(p.options.scanFrom, 1);
    EXPECT_EQ(p.options.scanTo, 20);
    EXPECT_EQ(p.options.timeoutMs, kScanTimeoutMs);
    EXPECT_EQ(p.options.retries, 0);
    p = ParseCommandLine({program, QStringLiteral("--timeout"), QStringLiteral("40"), QStringLiteral("--retries"),
                          QStringLiteral("1"), QStringLiteral("scan")});
    EXPECT_EQ(p.options.timeoutMs, 40);
    EXPECT_EQ(p.options.retries, 1);

    p = ParseCommandLine({program, QStringLiteral("monitor"), QStringLiteral("--interval"), QStringLiteral("250"),
                          QStringLiteral("--format"), QStringLiteral("jsonl"), QStringLiteral("--port"),
                          QStringLiteral("com96")});
    ASSERT_EQ(p.outcome, ParsedCommandLine::Outcome::Run) << p.text.toStdString();
    EXPECT_EQ(p.options.intervalMs, 250);
    EXPECT_EQ(p.options.format, OutputFormat::Jsonl);
    EXPECT_EQ(p.options.port, QStringLiteral("com96"));
    p = ParseCommandLine({program, QStringLiteral("records"), QStringLiteral("--csv"), QStringLiteral("--format"),
                          QStringLiteral("csv")});
    ASSERT_EQ(p.outcome, ParsedCommandLine::Outcome::Run) << p.text.toStdString();
    EXPECT_EQ(p.options.format, OutputFormat::Csv);
    EXPECT_EQ(p.options.intervalMs, kDefaultIntervalMs);

    const struct {
        QStringList args;
        QString error;
    } bad[] = {
        {{}, QStringLiteral("no command given")},
        {{QStringLiteral("settings")}, QStringLiteral("settings takes save, diff or load")},
        {{QStringLiteral("settings"), QStringLiteral("save")}, QStringLiteral("settings save takes one FILE")},
        {{QStringLiteral("records"), QStringLiteral("x")}, QStringLiteral("records takes no arguments")},
        {{QStringLiteral("reboot")}, QStringLiteral("unknown command \"reboot\"")},
        {{QStringLiteral("--address"), QStringLiteral("0"), QStringLiteral("records")},
         QStringLiteral("--address takes a whole number from 1 to 246")},
        {{QStringLiteral("--address"), QStringLiteral("247"), QStringLiteral("records")},   // no relay can be set to it
         QStringLiteral("--address takes a whole number from 1 to 246")},
        {{QStringLiteral("--timeout"), QStringLiteral("soon"), QStringLiteral("records")}, QStringLiteral("--timeout")},
        {{QStringLiteral("--yes"), QStringLiteral("records")}, QStringLiteral("--yes belongs to settings load only")},
        {{QStringLiteral("--seconds"), QStringLiteral("5"), QStringLiteral("records")},
         QStringLiteral("--seconds belongs to monitor only")},
        {{QStringLiteral("--csv"), QStringLiteral("settings"), QStringLiteral("diff"), QStringLiteral("f")},
         QStringLiteral("--csv belongs to records, monitor, scan and journal only")},
        {{QStringLiteral("--address"), QStringLiteral("3"), QStringLiteral("scan")},
         QStringLiteral("--address belongs to settings, records and monitor only")},
        {{QStringLiteral("--from"), QStringLiteral("5"), QStringLiteral("records")},
         QStringLiteral("--from belongs to scan only")},
        {{QStringLiteral("--from"), QStringLiteral("9"), QStringLiteral("--to"), QStringLiteral("3"),
          QStringLiteral("scan")},
         QStringLiteral("--from 9 lies beyond --to 3")},
        {{QStringLiteral("--to"), QStringLiteral("248"), QStringLiteral("scan")},
         QStringLiteral("--to takes a whole number from 1 to 247")},
        {{QStringLiteral("scan"), QStringLiteral("7")}, QStringLiteral("scan takes no arguments")},
        {{QStringLiteral("--port"), QString(), QStringLiteral("records")}, QStringLiteral("--port needs")},
        {{QStringLiteral("--interval"), QStringLiteral("5"), QStringLiteral("records")},
         QStringLiteral("--interval belongs to monitor only")},
        {{QStringLiteral("--interval"), QStringLiteral("-1"), QStringLiteral("monitor")},
         QStringLiteral("--interval takes a whole number from 0 to 3600000")},
        {{QStringLiteral("--format"), QStringLiteral("xml"), QStringLiteral("monitor")},
         QStringLiteral("--format takes text, csv or jsonl, not \"xml\"")},
        {{QStringLiteral("--csv"), QStringLiteral("--format"), QStringLiteral("jsonl"), QStringLiteral("monitor")},
         QStringLiteral("--csv is --format csv; it cannot go with --format jsonl")},
        {{QStringLiteral("--format"), QStringLiteral("csv"), QStringLiteral("settings"), QStringLiteral("save"),
          QStringLiteral("f")},
         QStringLiteral("--format belongs to records, monitor, scan and journal only")},
    };
    for (const auto& b : bad) {
        p = ParseCommandLine(QStringList{program} + b.args);
        EXPECT_EQ(p.outcome, ParsedCommandLine::Outcome::BadUsage) << b.args.join(' ').toStdString();
        EXPECT_TRUE(p.text.contains(b.error)) << p.text.toStdString();
    }
}

// COM97 to COM99 would open COM1's device: only the names the window maps pass.
TEST(CommandLine, ComNamesBeyondTheMappedOnesAreRefused)
{
    for (const char* port : {"COM1", "COM96", "com7", "/dev/ttyUSB0", "./COM97"}) {
        const ParsedCommandLine p = ParseCommandLine(
            {QStringLiteral("zashchita-cli"), QStringLiteral("--port"), QLatin1String(port), QStringLiteral("records")});
        EXPECT_EQ(p.outcome, ParsedCommandLine::Outcome::Run) << port << ": " << p.text.toStdString();
    }
    for (const char* port : {"COM97", "COM99", "COM0", "COM01", "com100"}) {
        const ParsedCommandLine p = ParseCommandLine(
            {QStringLiteral("zashchita-cli"), QStringLiteral("--port"), QLatin1String(port), QStringLiteral("records")});
        EXPECT_EQ(p.outcome, ParsedCommandLine::Outcome::BadUsage) << port;
        EXPECT_EQ(p.text, QStringLiteral("--port takes a device path or COM1 to COM96, not \"%1\"").arg(QLatin1String(port)));
    }
}

TEST(CommandLine, HelpOfTheProgramAndOfEachCommandAndTheVersion)
{
    auto help = [](QStringList args) {
        const ParsedCommandLine p = ParseCommandLine(QStringList{QStringLiteral("zashchita-cli")} + args);
        EXPECT_EQ(p.outcome, ParsedCommandLine::Outcome::Help) << args.join(' ').toStdString();
        return p.text;
    };
    const QString all = help({QStringLiteral("--help")});
    for (const OptionSpec& o : CommandLineOptions())
        EXPECT_TRUE(all.contains(QStringLiteral("--") + o.names.constFirst())) << o.names.constFirst().toStdString();
    EXPECT_TRUE(all.contains(QStringLiteral("/dev/ttyACM<n-1>")));
    EXPECT_TRUE(QString(all).replace(QLatin1Char('\n'), QLatin1Char(' '))
                    .contains(QStringLiteral("settings diff: 0 the relay holds the file's settings, 1 they differ, 2 trouble")))
        << all.toStdString();
    // Only the program's own options: none of the toolkit's.
    EXPECT_EQ(help({QStringLiteral("--help-all")}), all);
    EXPECT_EQ(help({QStringLiteral("-h")}), all);

    const QString monitor = help({QStringLiteral("monitor"), QStringLiteral("--help")});
    EXPECT_TRUE(monitor.startsWith(QStringLiteral("Usage: zashchita-cli [OPTIONS] monitor\n")));
    EXPECT_TRUE(monitor.contains(QStringLiteral("--interval <MS>")));
    EXPECT_TRUE(monitor.contains(QStringLiteral("--port <PATH|COMn|ENDPOINT>")));
    EXPECT_FALSE(monitor.contains(QStringLiteral("--yes")));
    const QString diff = help({QStringLiteral("settings"), QStringLiteral("diff"), QStringLiteral("x.json"),
                               QStringLiteral("--help")});
    EXPECT_TRUE(diff.contains(QStringLiteral("Exit codes: 0 the relay holds FILE's settings; 1 they differ; 2")));
    EXPECT_TRUE(diff.contains(QStringLiteral("--include-address")));   // the address compared as a load writes it
    const QString settings = help({QStringLiteral("settings"), QStringLiteral("--help")});
    EXPECT_TRUE(settings.contains(QStringLiteral("settings load FILE")));
    EXPECT_TRUE(settings.contains(QStringLiteral("--include-address")));
    // Every line fits a terminal.
    for (const QString& text : {all, monitor, settings})
        for (const QString& line : text.split(QLatin1Char('\n')))
            EXPECT_LE(line.size(), 79) << line.toStdString();

    EXPECT_TRUE(QRegularExpression(QStringLiteral("^zashchita-cli \\d+\\.\\d+\n$"))
                    .match(help({QStringLiteral("--version")})).hasMatch());
    EXPECT_EQ(help({QStringLiteral("-v"), QStringLiteral("records")}), help({QStringLiteral("--version")}));
}

TEST(Csv, FieldsQuotedOnlyWhenTheyMustBe)
{
    EXPECT_EQ(CsvRecord({QStringLiteral("a"), QStringLiteral("b c"), QString()}), QStringLiteral("a,b c,"));
    EXPECT_EQ(CsvRecord({QStringLiteral("R=4.5 Ом, Ктт"), QStringLiteral("say \"hi\"")}),
              QStringLiteral("\"R=4.5 Ом, Ктт\",\"say \"\"hi\"\"\""));
}
