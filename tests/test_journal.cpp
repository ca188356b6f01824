// The journal of writes: its lines read back as written; the file appended
// to, owner-only, rotated at its size with the older files kept and read
// oldest first; a full disk leaves no half line; and the companion's writes
// journalled with their outcomes, printed by `journal [--csv]`, and a
// journal that cannot be written told once while the writes go on.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

#include "settings/Journal.h"
#include "settings/JournalRecorder.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"

namespace {

JournalEntry Sample(int reg, Outcome outcome)
{
    JournalEntry e;
    e.time = QStringLiteral("2026-12-08T07:02:53.388+03:00");
    e.program = QStringLiteral("zashchita");
    e.device = QStringLiteral("/dev/ttyUSB0");
    e.address = 7;
    e.reg = reg;
    WrittenRegisterName(reg, e.name, e.caption);
    e.before = 650;
    e.value = 600;
    e.outcome = outcome;
    e.exceptionCode = outcome == Outcome::Refused ? 4 : 0;
    e.stored = outcome == Outcome::Altered ? 500 : 0;
    e.tries = 3;
    return e;
}

mode_t Mode(const QString& path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 0777;
}

struct CliRun {
    int exitCode = -1;
    QString out, err;
};

CliRun RunCli(const QString& dataHome, const QStringList& args)
{
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(ZASHCHITA_CLI_PATH), args);
    CliRun run;
    if (!cli.waitForFinished(120000))
        return run;
    run.exitCode = cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
    run.out = QString::fromUtf8(cli.readAllStandardOutput());
    run.err = QString::fromUtf8(cli.readAllStandardError());
    return run;
}

}  // namespace

TEST(Journal, LinesReadBackAsWrittenAndNamesComeFromTheRegister)
{
    for (const Outcome outcome :
         {Outcome::Echoed, Outcome::Refused, Outcome::Altered, Outcome::NoAnswer}) {
        JournalEntry e = Sample(81, outcome);
        const QByteArray line = JournalLine(e);
        EXPECT_TRUE(line.endsWith('\n'));
        EXPECT_EQ(line.count('\n'), 1);
        JournalEntry back;
        ASSERT_TRUE(ParseJournalLine(line, back)) << line.constData();
        EXPECT_EQ(JournalLine(back), line);
    }
    JournalEntry e = Sample(82, Outcome::Refused);
    e.before.reset();
    e.caption = QStringLiteral("a \"quoted\" caption\nwith a line break");
    JournalEntry back;
    ASSERT_TRUE(ParseJournalLine(JournalLine(e), back));
    EXPECT_FALSE(back.before.has_value());
    EXPECT_EQ(back.caption, e.caption);
    EXPECT_EQ(OutcomeText(back), QStringLiteral("refused: exception 4"));
    EXPECT_EQ(OutcomeText(Sample(81, Outcome::Altered)), QStringLiteral("the relay stored 500"));
    EXPECT_EQ(OutcomeText(Sample(81, Outcome::NoAnswer)), QStringLiteral("no answer after 3 tries"));

    for (const QByteArray& junk : {QByteArray("{"), QByteArray("[]"), QByteArray("{\"time\": \"x\"}"),
                                  QByteArray(JournalLine(e)).replace("\"refused\"", "\"maybe\""),
                                  QByteArray(JournalLine(e)).replace("\"value\": 600", "\"value\": 70000")})
        EXPECT_FALSE(ParseJournalLine(junk, back)) << junk.constData();

    QString name, caption;
    WrittenRegisterName(80, name, caption);
    EXPECT_EQ(name, QStringLiteral("NSE1"));
    EXPECT_EQ(caption, QStringLiteral("Адрес подчиненного устройства"));
    WrittenRegisterName(107, name, caption);
    EXPECT_EQ(name, QStringLiteral("EditMask2"));
    WrittenRegisterName(71, name, caption);
    EXPECT_EQ(name, QStringLiteral("clock.second"));
    WrittenRegisterName(200, name, caption);
    EXPECT_TRUE(name.isEmpty() && caption.isEmpty());
}

TEST(Journal, PathFollowsXdgDataHome)
{
    qputenv("XDG_DATA_HOME", "/srv/data");
    EXPECT_EQ(JournalPath(), QStringLiteral("/srv/data/zashchita/journal.jsonl"));
    qputenv("XDG_DATA_HOME", "relative/data");
    EXPECT_EQ(JournalPath(), QDir::homePath() + QStringLiteral("/.local/share/zashchita/journal.jsonl"));
    qunsetenv("XDG_DATA_HOME");
    EXPECT_EQ(JournalPath(), QDir::homePath() + QStringLiteral("/.local/share/zashchita/journal.jsonl"));
}

TEST(Journal, AppendsOwnerOnlyRotatesAtItsSizeAndReadsOldestFirst)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("data/zashchita/journal.jsonl"));
    // Lines of one size (values of five digits) fill files of a few lines each.
    constexpr qint64 kRotateBytes = 1000;
    const auto lineOf = [](int i) {
        JournalEntry e = Sample(82, Outcome::Echoed);
        e.value = uint16_t(10000 + i);
        return JournalLine(e);
    };
    const int perFile = int(kRotateBytes / lineOf(0).size());
    const int total = perFile * (kJournalKeptFiles + 1) + 2;
    QString reason;
    for (int i = 0; i < total; ++i)
        ASSERT_TRUE(AppendJournalLine(path, lineOf(i), reason, kRotateBytes)) << reason.toStdString();
    EXPECT_EQ(Mode(path), 0600u);
    EXPECT_EQ(Mode(dir.filePath(QStringLiteral("data/zashchita"))), 0700u);
    for (int n = 1; n <= kJournalKeptFiles; ++n)
        EXPECT_EQ(QFileInfo(path + QStringLiteral(".%1").arg(n)).size(), perFile * lineOf(0).size());
    EXPECT_FALSE(QFileInfo::exists(path + QStringLiteral(".%1").arg(kJournalKeptFiles + 1)));
    const JournalRead read = ReadJournal(path);
    EXPECT_EQ(read.unreadable, 0);
    // The oldest file was dropped whole; the rest are read in order.
    ASSERT_EQ(int(read.entries.size()), perFile * kJournalKeptFiles + 2);
    for (size_t i = 0; i < read.entries.size(); ++i)
        EXPECT_EQ(read.entries[i].value, 10000 + perFile + int(i));
}

TEST(Journal, AFullDiskLeavesNoHalfLineAndAFolderInTheWayIsNamed)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("zashchita/journal.jsonl"));
    QString reason;
    const QByteArray line = JournalLine(Sample(81, Outcome::Echoed));
    ASSERT_TRUE(AppendJournalLine(path, line, reason));
    // A file size limit stands in for a full disk: the second line does not fit.
    rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = old;
    limit.rlim_cur = rlim_t(line.size() + line.size() / 2);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    const bool appended = AppendJournalLine(path, line, reason);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(appended);
    EXPECT_EQ(reason, QStringLiteral("File too large"));
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), line);

    // A file where the folder should be: refused with the system's reason, root or not.
    EXPECT_FALSE(AppendJournalLine(path + QStringLiteral("/inside.jsonl"), line, reason));
    EXPECT_EQ(reason, QStringLiteral("Not a directory"));
}

// The companion journals each write it makes with its outcome; journal
// prints them oldest first, as lines or CSV.
TEST(Journal, TheCompanionsWritesAreJournalledAndPrinted)
{
    QTemporaryDir dir;
    const QString log = dir.filePath(QStringLiteral("frames.log"));
    // The refusal is followed by the refused write's exact echo: it changes nothing.
    RelaySim sim({"--no-pace", "--freeze", "--refuse-writes", "83", "--echo-after-refusal", "5", "--log", log.toStdString()});
    const QString port = QString::fromStdString(sim.path());
    const std::map<int, int> regs = RelaySim::dumpRegisters();
    const QString file = dir.filePath(QStringLiteral("relay.json"));
    const QString home = dir.filePath(QStringLiteral("home"));
    ASSERT_EQ(RunCli(home, {"--port", port, "settings", "save", file}).exitCode, 0);
    QFile json(file);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    QByteArray text = json.readAll();
    json.close();
    for (const auto& [reg, value] : {std::pair{81, 601}, std::pair{82, 602}, std::pair{83, 603}}) {
        const QByteArray from = "\"register\": " + QByteArray::number(reg) + ", \"value\": " + QByteArray::number(regs.at(reg));
        ASSERT_TRUE(text.contains(from));
        text.replace(from, "\"register\": " + QByteArray::number(reg) + ", \"value\": " + QByteArray::number(value));
    }
    ASSERT_TRUE(json.open(QIODevice::WriteOnly | QIODevice::Truncate));
    json.write(text);
    json.close();

    const CliRun load = RunCli(home, {"--port", port, "settings", "load", "--yes", file});
    EXPECT_EQ(load.exitCode, 1) << load.err.toStdString();
    const std::vector<JournalEntry> entries = ReadJournal(home + QStringLiteral("/zashchita/journal.jsonl")).entries;
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].reg, 81);
    EXPECT_EQ(entries[0].outcome, Outcome::Echoed);
    EXPECT_EQ(entries[1].reg, 82);
    EXPECT_EQ(entries[2].reg, 83);
    EXPECT_EQ(entries[2].outcome, Outcome::Refused);
    EXPECT_EQ(entries[2].exceptionCode, 4);
    const std::vector<Frame> writes = Writes(LoggedFrames(log));
    EXPECT_EQ(std::count_if(writes.begin(), writes.end(), [](const Frame& w) { return w[3] == 83; }), 1) << "refused, not sent again";
    for (const JournalEntry& e : entries) {
        EXPECT_EQ(e.program, QStringLiteral("zashchita-cli"));
        EXPECT_EQ(e.device, port);
        EXPECT_EQ(e.address, 1);
        EXPECT_EQ(e.before, std::optional<uint16_t>(regs.at(e.reg)));
        EXPECT_TRUE(QDateTime::fromString(e.time, Qt::ISODateWithMs).isValid()) << e.time.toStdString();
    }

    const CliRun lines = RunCli(home, {"journal"});
    EXPECT_EQ(lines.exitCode, 0);
    const QStringList out = lines.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(out.size(), 3);
    EXPECT_TRUE(out[0].endsWith(QStringLiteral("address 1 SE2 (81) Ток МТЗ (отсечка): %1 -> 601: echoed")
                                    .arg(regs.at(81)))) << out[0].toStdString();
    EXPECT_TRUE(out[2].endsWith(QStringLiteral(": refused: exception 4"))) << out[2].toStdString();
    const CliRun csv = RunCli(home, {"journal", "--csv"});
    EXPECT_EQ(csv.exitCode, 0);
    const QStringList rows = csv.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), 4);
    EXPECT_EQ(rows[0], QStringLiteral("time,program,device,address,register,name,caption,before,value,outcome,"
                                      "exception,stored,tries"));
    EXPECT_TRUE(rows[3].endsWith(QStringLiteral(",83,SE4,Уровень срабатывания изоляции,%1,603,refused,4,,1")
                                     .arg(regs.at(83)))) << rows[3].toStdString();
    EXPECT_EQ(RunCli(home, {"journal", "--port", port}).exitCode, 2);

    // A journal that cannot be written: the writes are made all the same, it is
    // told once, and the status says it (a file not written is 1).
    QByteArray again = text;
    again.replace("\"value\": 601", "\"value\": 611").replace("\"value\": 602", "\"value\": 612");
    again.replace("\"register\": 83, \"value\": 603", "\"register\": 83, \"value\": " + QByteArray::number(regs.at(83)));
    const QString file2 = dir.filePath(QStringLiteral("again.json"));
    QFile out2(file2);
    ASSERT_TRUE(out2.open(QIODevice::WriteOnly));
    out2.write(again);
    out2.close();
    const QString blocked = dir.filePath(QStringLiteral("blocked"));
    QFile blocker(blocked + QStringLiteral("/zashchita"));
    ASSERT_TRUE(QDir().mkpath(blocked));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const size_t writesBefore = Writes(LoggedFrames(log)).size();
    const CliRun unjournalled = RunCli(blocked, {"--port", port, "settings", "load", "--yes", file2});
    EXPECT_EQ(unjournalled.exitCode, 1) << unjournalled.err.toStdString();
    EXPECT_EQ(Writes(LoggedFrames(log)).size(), writesBefore + 2);
    EXPECT_EQ(unjournalled.err.count(QStringLiteral("cannot write the journal")), 1) << unjournalled.err.toStdString();
    EXPECT_TRUE(unjournalled.err.contains(QStringLiteral("Not a directory; the writes to the relay go on without it")));
}

// The recorder on a session's writeEnded: an altered write journals, and
// remembers as the register's value, what the relay stored; after an
// unconfirmed one the value before is unknown; a journal that cannot be
// written is told once, and the writes after it are journalled again.
TEST(Journal, TheRecorderKeepsWhatTheRelayHoldsAndGoesOnAfterAFailure)
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("data"));
    const QString path = folder + QStringLiteral("/journal.jsonl");
    RelaySession session;
    JournalRecorder recorder(session, QStringLiteral("zashchita-cli"), path);
    int failures = 0;
    QObject::connect(&recorder, &JournalRecorder::journalFailed, [&] { ++failures; });
    const auto write = [&](Outcome how, uint16_t value, uint16_t stored = 0) {
        WriteResult r;
        r.reg = 81;
        r.value = value;
        r.how = how;
        r.stored = stored;
        r.tries = 1;
        emit session.writeEnded(r);
    };
    RegisterValues read;
    read.block = {81, 1};
    read.values = {650};
    emit session.blockRead(read);

    QFile blocker(folder);   // the journal's folder is a file: nothing can be written
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    write(Outcome::Echoed, 600);
    write(Outcome::Altered, 700, 500);
    EXPECT_EQ(failures, 1);
    ASSERT_TRUE(blocker.remove());
    write(Outcome::Unconfirmed, 610);
    write(Outcome::Echoed, 620);
    write(Outcome::Refused, 630);   // the relay kept what it held
    write(Outcome::Echoed, 640);

    const std::vector<JournalEntry> entries = ReadJournal(path).entries;
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[3].before, std::optional<uint16_t>(620));
    EXPECT_EQ(entries[0].outcome, Outcome::Unconfirmed);
    EXPECT_EQ(entries[0].before, std::optional<uint16_t>(500));   // stored, not the 700 asked for
    EXPECT_EQ(entries[1].outcome, Outcome::Echoed);
    EXPECT_FALSE(entries[1].before.has_value());   // either value may have been there
    EXPECT_EQ(failures, 1);
}
