// Report files of the event records: their bytes, the "TXT" folder rule, the
// error texts, and that a failed report leaves the earlier one as it was.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QScopeGuard>
#include <QTemporaryDir>

#include <cerrno>
#include <fcntl.h>
#include <memory>
#include <ostream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "report/ReportFile.h"
#include "settings/AtomicFile.h"

// Readable failures: texts as UTF-8, file bytes with the non-ASCII ones in hex.
void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

void PrintTo(const QByteArray& bytes, std::ostream* os)
{
    *os << '"';
    for (char c : bytes) {
        const auto b = uint8_t(c);
        if (b >= 0x20 && b < 0x7F)
            *os << c;
        else
            *os << "\\x" << "0123456789ABCDEF"[b >> 4] << "0123456789ABCDEF"[b & 0xF];
    }
    *os << '"';
}

namespace {
template <size_t N>
QByteArray Bytes(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

// Record 1 as the tab shows it after a reply, in Windows-1251.
const QByteArray kFilledRecord1 = Bytes(
    "\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "1\r\n"  // ПРОТОКОЛ №1
    "\r\n"
    "\xC4\xE0\xF2\xE0: 05.01.2026   \xC2\xF0\xE5\xEC\xFF: 14:27:05\r\n"  // Дата: 05.01.2026   Время: 14:27:05
    "\xD1\xF2\xE0\xF2\xF3\xF1\xED\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0              :  00000010 00001000\r\n"  // Статусный регистр
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB \xC0                     :  57%\r\n"  // Ток фазы А (Cyrillic)
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB B                     :  61%\r\n"  // Ток фазы B (Latin)
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB C                     :  59%\r\n"  // Ток фазы C (Latin)
    "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xF1\xEE\xEF\xF0\xEE\xF2\xE8\xE2\xEB\xE5\xED\xE8\xFF \xE8\xE7\xEE\xEB\xFF\xF6\xE8\xE8:  1250kOm\r\n"  // Значение сопротивления изоляции
    "\xD3\xF0\xEE\xE2\xE5\xED\xFC \xED\xE5\xF1\xE8\xEC\xEC\xE5\xF2\xF0\xE8\xE8 \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7  :  3%\r\n"  // Уровень несимметрии токов фаз
    "\xCF\xF3\xEB\xFC\xF1\xE0\xF6\xE8\xFF \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7            :  2%\r\n"  // Пульсация токов фаз
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1               :  45%\r\n"  // Тепловой импульс
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1 \xEF\xF3\xF1\xEA\xE0         :  12%\r\n"  // Тепловой импульс пуска
    "\xCD\xE0\xEF\xF0\xFF\xE6\xE5\xED\xE8\xE5 \xEF\xE8\xF2\xE0\xED\xE8\xFF             :  380B\r\n"  // Напряжение питания (Latin B)
    "\xCF\xF3\xF1\xEA\xEE\xE2\xEE\xE9 \xF2\xEE\xEA                   :  412%\r\n");  // Пусковой ток

// A record tab that has never been filled: labels and units only.
const QByteArray kEmptyRecord1 = Bytes(
    "\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "1\r\n"
    "\r\n"
    "\xC4\xE0\xF2\xE0:    \xC2\xF0\xE5\xEC\xFF: \r\n"  // "Дата: " + three blanks + "Время: "
    "\xD1\xF2\xE0\xF2\xF3\xF1\xED\xFB\xE9 \xF0\xE5\xE3\xE8\xF1\xF2\xF0              :  \r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB \xC0                     :  %\r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB B                     :  %\r\n"
    "\xD2\xEE\xEA \xF4\xE0\xE7\xFB C                     :  %\r\n"
    "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5 \xF1\xEE\xEF\xF0\xEE\xF2\xE8\xE2\xEB\xE5\xED\xE8\xFF \xE8\xE7\xEE\xEB\xFF\xF6\xE8\xE8:  kOm\r\n"
    "\xD3\xF0\xEE\xE2\xE5\xED\xFC \xED\xE5\xF1\xE8\xEC\xEC\xE5\xF2\xF0\xE8\xE8 \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7  :  %\r\n"
    "\xCF\xF3\xEB\xFC\xF1\xE0\xF6\xE8\xFF \xF2\xEE\xEA\xEE\xE2 \xF4\xE0\xE7            :  %\r\n"
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1               :  %\r\n"
    "\xD2\xE5\xEF\xEB\xEE\xE2\xEE\xE9 \xE8\xEC\xEF\xF3\xEB\xFC\xF1 \xEF\xF3\xF1\xEA\xE0         :  %\r\n"
    "\xCD\xE0\xEF\xF0\xFF\xE6\xE5\xED\xE8\xE5 \xEF\xE8\xF2\xE0\xED\xE8\xFF             :  B\r\n"
    "\xCF\xF3\xF1\xEA\xEE\xE2\xEE\xE9 \xF2\xEE\xEA                   :  %\r\n");

constexpr int kLineCount = 14;
constexpr int kStatusLine = 3;  // zero-based
constexpr int kLabelLength = 34;

RecordReportTexts FilledTexts()
{
    RecordReportTexts t;
    t.date = QStringLiteral("05.01.2026");
    t.time = QStringLiteral("14:27:05");
    t.status = QStringLiteral("00000010 00001000");
    const char* values[kReportValueCount] = {"57", "61", "59", "1250", "3", "2", "45", "12", "380", "412"};
    for (int i = 0; i < kReportValueCount; ++i)
        t.values[i] = QString::fromLatin1(values[i]);
    return t;
}

QList<QByteArray> FileLines(const QByteArray& bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();  // after the last line's end
    for (QByteArray& line : lines) {
        EXPECT_TRUE(line.endsWith('\r'));
        line.chop(1);
    }
    return lines;
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return "<missing>";
    return file.readAll();
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Each test runs in a scratch directory of its own and gets the process's
// working directory back afterwards: the reports move it into "TXT".
class ReportFiles : public ::testing::Test {
protected:
    void SetUp() override
    {
        home_ = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(home_, 0);
        ASSERT_TRUE(scratch_.isValid());
        root_ = QDir(scratch_.path()).canonicalPath();
        ASSERT_TRUE(QDir::setCurrent(root_));
    }
    void TearDown() override
    {
        SetWriteFaultHook({});
        EXPECT_EQ(::fchdir(home_), 0);
        ::close(home_);
    }
    QString At(const QString& relative) const { return root_ + QLatin1Char('/') + relative; }
    QStringList Entries(const QString& relative) const
    {
        return QDir(At(relative)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }
    // The report that a failure must leave alone, in root/TXT.
    void WriteEarlierReport()
    {
        ASSERT_TRUE(WriteRecordReport(1, FilledTexts()).ok);
        ASSERT_EQ(ReadFile(At("TXT/Protokol1.txt")), kFilledRecord1);
    }
    void ExpectEarlierReportKept()
    {
        EXPECT_EQ(ReadFile(At("TXT/Protokol1.txt")), kFilledRecord1);
        EXPECT_EQ(Entries("TXT"), QStringList{"Protokol1.txt"}) << "no half-written file beside it";
    }

    QTemporaryDir scratch_;
    QString root_;
    int home_ = -1;
};

// A small tmpfs of the test's own, where the machine allows mounting one.
// Detached lazily, so a working directory inside it does not hold it.
class ScratchTmpfs {
public:
    ScratchTmpfs(const QString& dir, const char* options) : path_(QFile::encodeName(dir))
    {
        mounted_ = ::mount("tmpfs", path_.constData(), "tmpfs", 0, options) == 0;
    }
    ~ScratchTmpfs()
    {
        if (mounted_)
            ::umount2(path_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }
    bool MakeReadOnly()
    {
        return ::mount("tmpfs", path_.constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }

private:
    QByteArray path_;
    bool mounted_ = false;
};
}

TEST(ReportText, FilledRecordByteForByte)
{
    EXPECT_EQ(ReportFileBytes(1, FilledTexts()), kFilledRecord1);
}

TEST(ReportText, NeverFilledTabGivesLabelsAndUnits)
{
    EXPECT_EQ(ReportFileBytes(1, RecordReportTexts{}), kEmptyRecord1);
}

TEST(ReportText, RecordThreeHeaderAndFileName)
{
    EXPECT_EQ(ReportFileName(3), QStringLiteral("Protokol3.txt"));
    const QList<QByteArray> lines = FileLines(ReportFileBytes(3, FilledTexts()));
    ASSERT_EQ(lines.size(), kLineCount);
    EXPECT_EQ(lines[0], Bytes("\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "3"));
    // Everything below the header is the same as for record 1.
    EXPECT_EQ(lines.mid(1), FileLines(kFilledRecord1).mid(1));
}

TEST(ReportText, StatusOfAllOnesMakesAFiftyOneCharacterLine)
{
    RecordReportTexts t = FilledTexts();
    t.status = QStringLiteral("11111111 11111111");
    const QList<QByteArray> lines = FileLines(ReportFileBytes(2, t));
    ASSERT_EQ(lines.size(), kLineCount);
    EXPECT_EQ(lines[kStatusLine].size(), 51);
    EXPECT_TRUE(lines[kStatusLine].endsWith("11111111 11111111"));
}

TEST(ReportText, LabelsHaveTheColonInColumn32AndValuesAreNotCut)
{
    RecordReportTexts t;
    t.status = QStringLiteral("x");
    const QString longValue = QStringLiteral("1234567890123456789012345678901234567890");
    for (QString& v : t.values)
        v = longValue;
    const QStringList lines = ReportLines(1, t);
    ASSERT_EQ(lines.size(), kLineCount);
    for (int i = kStatusLine; i < kLineCount; ++i) {
        SCOPED_TRACE(lines[i].toStdString());
        EXPECT_EQ(lines[i].indexOf(QLatin1Char(':')), 31);
        EXPECT_EQ(lines[i].mid(32, 2), QStringLiteral("  "));
        if (i > kStatusLine) {
            EXPECT_EQ(lines[i].mid(kLabelLength, longValue.size()), longValue);
        }
    }
    EXPECT_EQ(lines[kStatusLine].size(), kLabelLength + 1);
}

TEST(ReportText, LatinLettersWhereTheyLookCyrillic)
{
    const QList<QByteArray> lines = FileLines(ReportFileBytes(1, RecordReportTexts{}));
    constexpr int kPhaseLetter = 9;  // "Ток фазы X"
    EXPECT_EQ(uint8_t(lines[4][kPhaseLetter]), 0xC0);  // Cyrillic А
    EXPECT_EQ(lines[5][kPhaseLetter], 'B');
    EXPECT_EQ(lines[6][kPhaseLetter], 'C');
    EXPECT_TRUE(lines[7].endsWith(":  kOm"));
    EXPECT_TRUE(lines[12].endsWith(":  B"));
}

TEST(ReportErrors, TextsForOperatingSystemErrors)
{
    EXPECT_EQ(ReportErrorText(ENOENT), "File not found");
    EXPECT_EQ(ReportErrorText(ENAMETOOLONG), "Invalid filename");
    EXPECT_EQ(ReportErrorText(EINVAL), "Invalid filename");
    EXPECT_EQ(ReportErrorText(EMFILE), "Too many open files");
    EXPECT_EQ(ReportErrorText(ENFILE), "Too many open files");
    EXPECT_EQ(ReportErrorText(EACCES), "File access denied");
    EXPECT_EQ(ReportErrorText(EPERM), "File access denied");
    EXPECT_EQ(ReportErrorText(EROFS), "File access denied");
    EXPECT_EQ(ReportErrorText(ENOSPC), "Disk full");
    EXPECT_EQ(ReportErrorText(EDQUOT), "Disk full");
    EXPECT_EQ(ReportErrorText(EIO), QStringLiteral("I/O error %1").arg(EIO));
    EXPECT_EQ(ReportErrorText(EISDIR), QStringLiteral("I/O error %1").arg(EISDIR));
}

TEST_F(ReportFiles, FirstReportMakesTxtAndLaterOnesStayThere)
{
    ASSERT_TRUE(WriteRecordReport(1, FilledTexts()).ok);
    EXPECT_EQ(QDir::currentPath(), At("TXT"));
    EXPECT_EQ(ReadFile(At("TXT/Protokol1.txt")), kFilledRecord1);

    const ReportOutcome second = WriteRecordReport(2, RecordReportTexts{});
    EXPECT_TRUE(second.ok) << second.message.toStdString();
    EXPECT_EQ(QDir::currentPath(), At("TXT"));
    EXPECT_FALSE(QFileInfo::exists(At("TXT/TXT")));
    EXPECT_EQ(Entries("TXT"), (QStringList{"Protokol1.txt", "Protokol2.txt"}));
    EXPECT_EQ(Entries(""), QStringList{"TXT"});
}

TEST_F(ReportFiles, PathHoldingTxtWritesInPlaceWithoutMakingAFolder)
{
    ASSERT_TRUE(QDir(root_).mkdir("TXTDATA"));
    ASSERT_TRUE(QDir::setCurrent(At("TXTDATA")));
    ASSERT_TRUE(WriteRecordReport(4, FilledTexts()).ok);
    EXPECT_EQ(QDir::currentPath(), At("TXTDATA"));
    EXPECT_EQ(Entries("TXTDATA"), QStringList{"Protokol4.txt"});
}

TEST_F(ReportFiles, PathHoldingTxtStillEntersAnExistingTxtFolder)
{
    ASSERT_TRUE(QDir(root_).mkpath("TXTDATA/TXT"));
    ASSERT_TRUE(QDir::setCurrent(At("TXTDATA")));
    ASSERT_TRUE(WriteRecordReport(1, FilledTexts()).ok);
    EXPECT_EQ(QDir::currentPath(), At("TXTDATA/TXT"));
    EXPECT_EQ(ReadFile(At("TXTDATA/TXT/Protokol1.txt")), kFilledRecord1);
}

TEST_F(ReportFiles, LowerCaseTxtInThePathDoesNotCount)
{
    ASSERT_TRUE(QDir(root_).mkdir("txtdata"));
    ASSERT_TRUE(QDir::setCurrent(At("txtdata")));
    ASSERT_TRUE(WriteRecordReport(1, FilledTexts()).ok);
    EXPECT_EQ(QDir::currentPath(), At("txtdata/TXT"));
}

TEST_F(ReportFiles, TxtThatIsAFileLeavesTheReportInTheWorkingDirectory)
{
    ASSERT_TRUE(WriteFile(At("TXT"), "not a folder"));
    ASSERT_TRUE(WriteRecordReport(1, FilledTexts()).ok);
    EXPECT_EQ(QDir::currentPath(), root_);
    EXPECT_EQ(ReadFile(At("Protokol1.txt")), kFilledRecord1);
}

TEST_F(ReportFiles, NewReportReplacesTheWholeOldOne)
{
    WriteEarlierReport();
    ASSERT_TRUE(WriteRecordReport(1, RecordReportTexts{}).ok);
    EXPECT_EQ(ReadFile(At("TXT/Protokol1.txt")), kEmptyRecord1);
    EXPECT_EQ(Entries("TXT"), QStringList{"Protokol1.txt"});
}

TEST_F(ReportFiles, ReplacedReportKeepsItsPermissions)
{
    WriteEarlierReport();
    constexpr mode_t kUserSet = 0640;
    ASSERT_EQ(::chmod("Protokol1.txt", kUserSet), 0);
    ASSERT_TRUE(WriteRecordReport(1, RecordReportTexts{}).ok);
    struct stat st {};
    ASSERT_EQ(::stat("Protokol1.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, kUserSet);
}

TEST_F(ReportFiles, RemovedWorkingDirectoryIsFileNotFound)
{
    ASSERT_TRUE(QDir(root_).mkdir("gone"));
    ASSERT_TRUE(QDir::setCurrent(At("gone")));
    ASSERT_EQ(::rmdir(QFile::encodeName(At("gone")).constData()), 0);
    const ReportOutcome outcome = WriteRecordReport(1, FilledTexts());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "File not found");
}

TEST_F(ReportFiles, ReportNameTakenByAFolderIsAnIoError)
{
    ASSERT_TRUE(QDir(root_).mkpath("TXT/Protokol2.txt"));
    const ReportOutcome outcome = WriteRecordReport(2, FilledTexts());
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, QStringLiteral("I/O error %1").arg(EISDIR));
    EXPECT_TRUE(QFileInfo(At("TXT/Protokol2.txt")).isDir());
}

TEST_F(ReportFiles, ReadOnlyFolderOnARealFileSystem)
{
    // Without the right to bypass permissions a mode does it; with it (root)
    // only a read-only mount does.
    ASSERT_TRUE(QDir(root_).mkdir("TXT"));
    ASSERT_EQ(::chmod("TXT", 0555), 0);
    const bool modeBinds = !WriteFile(At("TXT/probe"), "x");
    ::chmod("TXT", 0755);
    ::unlink("TXT/probe");

    std::unique_ptr<ScratchTmpfs> mount;
    if (!modeBinds) {
        mount = std::make_unique<ScratchTmpfs>(At("TXT"), "size=64k");
        if (!mount->mounted())
            GTEST_SKIP() << "permissions do not bind and no tmpfs can be mounted; "
                            "FaultHookAtAnyStepKeepsTheEarlierReport covers it";
    }
    WriteEarlierReport();
    const QByteArray folder = QFile::encodeName(At("TXT"));
    // Writable again at the end, so the scratch directory can be removed.
    const auto writable = qScopeGuard([&] { ::chmod(folder.constData(), 0755); });
    if (modeBinds)
        ASSERT_EQ(::chmod(folder.constData(), 0555), 0);
    else
        ASSERT_TRUE(mount->MakeReadOnly());

    const ReportOutcome outcome = WriteRecordReport(1, RecordReportTexts{});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "File access denied");
    ExpectEarlierReportKept();
}

TEST_F(ReportFiles, FullDiskOnASmallTmpfs)
{
    ASSERT_TRUE(QDir(root_).mkdir("TXT"));
    ScratchTmpfs mount(At("TXT"), "size=16k");
    if (!mount.mounted())
        GTEST_SKIP() << "no tmpfs can be mounted here; FullDiskPartWayByFaultHook covers it";
    WriteEarlierReport();

    // A filler takes every free block; the earlier report keeps its own.
    const int filler = ::open("filler", O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(filler, 0);
    const QByteArray block(4096, 'x');
    while (::write(filler, block.constData(), size_t(block.size())) > 0) {
    }
    const int fillError = errno;
    ::close(filler);
    ASSERT_EQ(fillError, ENOSPC);

    const ReportOutcome outcome = WriteRecordReport(1, RecordReportTexts{});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Disk full");
    ::unlink("filler");
    ExpectEarlierReportKept();
}

TEST_F(ReportFiles, FullDiskPartWayByFaultHook)
{
    WriteEarlierReport();
    constexpr int kLinesBeforeFull = 5;
    int writes = 0;
    SetWriteFaultHook([&](WriteStep step) {
        return step == WriteStep::Write && ++writes > kLinesBeforeFull ? ENOSPC : 0;
    });
    const ReportOutcome outcome = WriteRecordReport(1, RecordReportTexts{});
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Disk full");
    EXPECT_EQ(writes, kLinesBeforeFull + 1);
    ExpectEarlierReportKept();
}

TEST_F(ReportFiles, FaultHookAtAnyStepKeepsTheEarlierReport)
{
    WriteEarlierReport();
    const struct {
        WriteStep step;
        int error;
        const char* message;
    } cases[] = {
        {WriteStep::Probe, EACCES, "File access denied"},
        {WriteStep::Create, EROFS, "File access denied"},
        {WriteStep::Create, EMFILE, "Too many open files"},
        {WriteStep::Write, EIO, "I/O error 5"},
        {WriteStep::Sync, EDQUOT, "Disk full"},
        {WriteStep::Close, EIO, "I/O error 5"},
        {WriteStep::Rename, EPERM, "File access denied"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.step));
        SetWriteFaultHook([&](WriteStep step) { return step == c.step ? c.error : 0; });
        const ReportOutcome outcome = WriteRecordReport(1, RecordReportTexts{});
        EXPECT_FALSE(outcome.ok);
        EXPECT_EQ(outcome.message, c.message);
        ExpectEarlierReportKept();
    }
    // The caller carries on: the next report goes through.
    SetWriteFaultHook({});
    EXPECT_TRUE(WriteRecordReport(1, RecordReportTexts{}).ok);
    EXPECT_EQ(ReadFile(At("TXT/Protokol1.txt")), kEmptyRecord1);
}
