// Starting the window program: a device named by a relative path keeps
// opening after a report has moved the working directory into "TXT"; the
// program without a display, and with a bad command line, ends with one line
// and the companion's exit codes.
#include <gtest/gtest.h>

#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>

#include "app/CommandLine.h"
#include "support/RelaySim.h"
#include "support/WindowDriver.h"

namespace {

struct KeepWorkingDirectory {
    QString saved = QDir::currentPath();
    ~KeepWorkingDirectory() { QDir::setCurrent(saved); }
};

// ZASHCHITA_COM1 as the test sets it, put back afterwards.
struct KeepCom1 {
    QByteArray saved = qgetenv("ZASHCHITA_COM1");
    bool was = qEnvironmentVariableIsSet("ZASHCHITA_COM1");
    ~KeepCom1()
    {
        if (was)
            qputenv("ZASHCHITA_COM1", saved);
        else
            qunsetenv("ZASHCHITA_COM1");
    }
};

}  // namespace

// The device as "dev/relay" under the directory the program started in: it
// opens again after the first report, and --port takes a relative path the
// same way.
TEST(StartUp, RelativeDevicePathStillOpensAfterAReport)
{
    KeepWorkingDirectory keep;
    KeepCom1 keepCom1;
    QTemporaryDir work;
    RelaySim sim({"--no-pace", "--freeze"});
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("dev")));
    ASSERT_TRUE(QFile::link(QString::fromStdString(sim.path()), work.filePath(QStringLiteral("dev/relay"))));
    ASSERT_TRUE(QDir::setCurrent(work.path()));

    qputenv("ZASHCHITA_COM1", "dev/relay");
    AnchorDevicePaths();
    EXPECT_EQ(qgetenv("ZASHCHITA_COM1"), QFile::encodeName(work.filePath(QStringLiteral("dev/relay"))));

    MessageCatcher boxes;
    {
        TForm1 form;
        WindowDriver ui{form};
        form.show();
        ASSERT_TRUE(ui.Open());
        ui.SelectPage(3);
        ui.Click("ButtonP1");
        ASSERT_TRUE(QFile::exists(work.filePath(QStringLiteral("TXT/Protokol1.txt"))));
        ASSERT_TRUE(QDir::currentPath().endsWith(QStringLiteral("/TXT")));
        ASSERT_TRUE(ui.Close());
        EXPECT_TRUE(ui.Open()) << "the device did not open again";
        EXPECT_TRUE(boxes.shown.empty());
        ui.Close();
    }

    QCommandLineParser parser;
    SetUpCommandLine(parser);
    QString error;
    ASSERT_TRUE(ParseCommandLine(parser, {QStringLiteral("zashchita"), QStringLiteral("--port"), QStringLiteral("../dev/relay")},
                                 &error));
    QString path;
    ASSERT_TRUE(ApplyCommandLine(parser, &path, &error));
    EXPECT_TRUE(QFile::exists(path));
    EXPECT_TRUE(QDir::isAbsolutePath(path));
}

namespace {

struct ProgramRun {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::CrashExit;
    QStringList errLines;
};

// Runs the window program with `args`, without any display unless `display`.
ProgramRun RunProgram(const QStringList& args, bool display = false)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    if (display)
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ZASHCHITA_PATH), args);
    ProgramRun run;
    if (!program.waitForFinished(30000)) {
        program.kill();
        program.waitForFinished();
        return run;
    }
    run.exitCode = program.exitCode();
    run.status = program.exitStatus();
    run.errLines = QString::fromUtf8(program.readAllStandardError()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    return run;
}

}  // namespace

TEST(StartUp, WithoutADisplayOneLineNamesTheCompanionAndExitsOne)
{
    const ProgramRun run = RunProgram({});
    ASSERT_EQ(run.status, QProcess::NormalExit) << "aborted";
    EXPECT_EQ(run.exitCode, kExitNoDisplay);
    ASSERT_EQ(run.errLines.size(), 1) << run.errLines.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(run.errLines[0].contains(QStringLiteral("no display"))) << run.errLines[0].toStdString();
    EXPECT_TRUE(run.errLines[0].contains(QStringLiteral("zashchita-cli"))) << run.errLines[0].toStdString();
}

// A bad command line exits 2 with a display or without, before any window.
TEST(StartUp, BadCommandLineExitsTwo)
{
    const QList<QStringList> bad = {
        {QStringLiteral("--bogus")},
        {QStringLiteral("stray")},
        {QStringLiteral("--port"), QStringLiteral("/dev/ttyUSB0"), QStringLiteral("extra")},
        {QStringLiteral("--port=")},
        {QStringLiteral("--port")},
    };
    for (const QStringList& args : bad) {
        for (bool display : {false, true}) {
            const ProgramRun run = RunProgram(args, display);
            EXPECT_EQ(run.status, QProcess::NormalExit) << args.join(' ').toStdString();
            EXPECT_EQ(run.exitCode, kExitBadUsage) << args.join(' ').toStdString() << " display " << display;
            EXPECT_FALSE(run.errLines.isEmpty());
        }
    }
    // The window system's own options are no stray arguments.
    QCommandLineParser parser;
    SetUpCommandLine(parser);
    QString error;
    EXPECT_TRUE(ParseCommandLine(parser,
                                 {QStringLiteral("zashchita"), QStringLiteral("-platform"), QStringLiteral("offscreen"),
                                  QStringLiteral("-style=fusion"), QStringLiteral("--port"), QStringLiteral("/dev/x")},
                                 &error))
        << error.toStdString();
    EXPECT_EQ(parser.value(QStringLiteral("port")), QStringLiteral("/dev/x"));
}
