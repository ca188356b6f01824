// zashchita-cli run as a program, for its tests: the run with its exit code
// and output, and a relay simulator whose received frames are logged.
#pragma once

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "support/RelaySim.h"
#include "support/SimLog.h"

// Generous: the suite may run under sanitizers on a busy machine.
inline constexpr int kRunTimeoutMs = 120000;
inline constexpr int kLineTimeoutMs = 5000;
inline constexpr int kReplyTimeoutMs = 5000;

struct CliRun {
    int exitCode = -1;
    QString out;
    QString err;

    QStringList OutLines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// `childSetup` runs in the child before the program starts (limits, signals).
inline CliRun RunCli(const QStringList& args, const std::function<void()>& childSetup = {})
{
    QProcess process;
    if (childSetup)
        process.setChildProcessModifier(childSetup);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // No regional settings: dates as dd.MM.yyyy, times as HH:mm:ss.
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.remove(QStringLiteral("QT_LOGGING_RULES"));
    process.setProcessEnvironment(env);
    process.start(QStringLiteral(ZASHCHITA_CLI_PATH), args);
    CliRun run;
    if (!process.waitForStarted(kRunTimeoutMs) || !process.waitForFinished(kRunTimeoutMs)) {
        process.kill();
        process.waitForFinished(kRunTimeoutMs);
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromUtf8(process.readAllStandardOutput());
    run.err = QString::fromUtf8(process.readAllStandardError());
    return run;
}

// How the simulator answers: at once in one write, or at the line's pace
// after its turnaround (--turnaround-ms), as a relay does.
enum class SimPace { AtOnce, Line };

// A simulator whose received frames go to a log in a test directory.
struct LoggedSim {
    explicit LoggedSim(std::vector<std::string> args = {}, SimPace pace = SimPace::AtOnce)
    {
        log = dir.filePath(QStringLiteral("frames.log"));
        if (pace == SimPace::AtOnce)
            args.push_back("--no-pace");
        args.insert(args.end(), {"--freeze", "--log", log.toStdString()});
        sim = std::make_unique<RelaySim>(args);
    }
    QString Port() const { return QString::fromStdString(sim->path()); }
    QString File(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    // Every frame the simulator received, and the writes among them from the `from`th on.
    std::vector<Frame> Frames() const { return LoggedFrames(log); }
    std::vector<Frame> WriteFrames(size_t from = 0) const
    {
        const std::vector<Frame> all = Writes(Frames());
        return from < all.size() ? std::vector<Frame>(all.begin() + std::ptrdiff_t(from), all.end())
                                 : std::vector<Frame>{};
    }

    // Writes registers over the simulator's line directly, as another master would.
    void Set(const std::vector<std::pair<int, int>>& values) const
    {
        SimLine line(sim->path());
        ASSERT_TRUE(line.isOpen());
        for (const auto& [reg, value] : values) {
            const auto request = RelaySim::writeRequest(slave, uint16_t(reg), uint16_t(value));
            ASSERT_EQ(line.transact(request, request.size(), kLineTimeoutMs), request);
        }
    }
    int Get(int reg) const
    {
        SimLine line(sim->path());
        const auto reply = line.transact(RelaySim::readRequest(slave, uint16_t(reg), 1), 7, kLineTimeoutMs);
        return reply.size() == 7 ? reply[3] << 8 | reply[4] : -1;
    }

    QTemporaryDir dir;
    QString log;
    std::unique_ptr<RelaySim> sim;
    uint8_t slave = 1;   // the address Set and Get talk to
};

// A reply may be slow on a busy machine; a later --timeout wins.
inline QStringList Args(const LoggedSim& s, const QStringList& rest)
{
    return QStringList{QStringLiteral("--port"), s.Port(), QStringLiteral("--timeout"),
                       QString::number(kReplyTimeoutMs)} + rest;
}

// The first word of each line: the setting's name in diff output, the
// action then the name in load output.
inline QSet<QString> FirstWords(const QStringList& lines, int word = 0)
{
    QSet<QString> words;
    for (const QString& line : lines)
        words.insert(line.split(QLatin1Char(' ')).value(word));
    return words;
}

inline QStringList LinesStartingWith(const QStringList& lines, const QString& start)
{
    QStringList found;
    for (const QString& line : lines)
        if (line.startsWith(start))
            found << line;
    return found;
}

inline QString Replaced(const QString& path, const QString& from, const QString& to)
{
    QFile in(path);
    EXPECT_TRUE(in.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(in.readAll());
    EXPECT_TRUE(text.contains(from)) << from.toStdString();
    text.replace(from, to);
    static int edits = 0;
    const QString out = path + QStringLiteral(".edited%1.json").arg(++edits);
    QFile f(out);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.toUtf8());
    return out;
}

// The register a write frame writes.
inline int WrittenRegister(const Frame& write)
{
    return write[2] << 8 | write[3];
}

// A CSV line without quoted fields (the tests' data hold no commas).
inline QStringList CsvFields(const QString& line)
{
    return line.split(QLatin1Char(','));
}

// A CSV line read as RFC 4180 says: quoted fields may hold commas and "".
inline QStringList CsvQuotedFields(const QString& line)
{
    QStringList fields{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        if (quoted && c == QLatin1Char('"') && i + 1 < line.size() && line[i + 1] == QLatin1Char('"'))
            fields.last() += line[++i];
        else if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (c == QLatin1Char(',') && !quoted)
            fields << QString();
        else
            fields.last() += c;
    }
    return fields;
}

// A PC time as the logs give it: 2026-12-08T07:02:53.388+03:00, and a real
// moment (its offset agrees with the date and time).
inline bool IsIsoStamp(const QString& text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3}[+-]\\d\\d:\\d\\d$"));
    return form.match(text).hasMatch() && QDateTime::fromString(text, Qt::ISODateWithMs).isValid();
}

// Every line of a program's stderr is one of its messages.
inline void ExpectMessagesNamed(const QString& err)
{
    for (const QString& line : err.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        EXPECT_TRUE(line.startsWith(QStringLiteral("zashchita-cli: "))) << line.toStdString();
}

