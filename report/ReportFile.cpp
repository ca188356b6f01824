#include "report/ReportFile.h"

#include "settings/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <limits>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr const char* kFolder = "TXT";
// Qt gives the working directory with "/" separators on every platform.
const QString kFolderInPath = QStringLiteral("/TXT");
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
constexpr mode_t kNewFolderMode = 0777;

// The process id in the name of a report temporary, or nothing when the
// name is not one of ours.
std::optional<qint64> TemporaryWriter(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^Protokol[1-4]\\.txt\\.([1-9][0-9]{0,9})\\.tmp$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    bool ok = false;
    const qint64 pid = match.captured(1).toLongLong(&ok);
    if (!ok || pid > std::numeric_limits<pid_t>::max())
        return std::nullopt;
    return pid;
}

// Whether the process that wrote a temporary may still be writing it: one
// that is alive and not this one. A process of another user counts as alive.
bool WriterAlive(qint64 pid)
{
    if (pid == qint64(::getpid()))
        return false;   // this process writes one report at a time
    return ::kill(pid_t(pid), 0) == 0 || errno != ESRCH;
}

}  // namespace

QString ReportErrorText(int osError)
{
    switch (osError) {
    case ENOENT:
        return QStringLiteral("File not found");
    case ENAMETOOLONG:
    case EINVAL:
        return QStringLiteral("Invalid filename");
    case EMFILE:
    case ENFILE:
        return QStringLiteral("Too many open files");
    case EACCES:
    case EPERM:
    case EROFS:
        return QStringLiteral("File access denied");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("Disk full");
    default:
        return QStringLiteral("I/O error %1").arg(osError);
    }
}

void EnterReportFolder()
{
    if (!QDir::currentPath().contains(kFolderInPath))
        ::mkdir(kFolder, kNewFolderMode);  // it may be there already
    // On failure the report goes into the working directory itself.
    [[maybe_unused]] const int entered = ::chdir(kFolder);
}

ReportOutcome WriteReportFile(const QString& name, const QByteArray& bytes)
{
    AtomicWrite how;
    how.temporarySuffix = '.' + QByteArray::number(qint64(::getpid())) + ".tmp";
    how.newFileMode = kNewFileMode;
    how.keepEarlierMode = true;
    how.lineByLine = true;
    if (const std::optional<AtomicWriteFailure> failure = ReplaceFile(name, bytes, how))
        return {false, ReportErrorText(failure->error)};
    return {};
}

ReportOutcome WriteRecordReport(int record, const RecordReportTexts& texts)
{
    const QByteArray bytes = ReportFileBytes(record, texts);
    if (bytes.isEmpty())
        return {false, QStringLiteral("No Windows-1251 encoder in this Qt build")};
    EnterReportFolder();
    RemoveStaleTemporaries();
    return WriteReportFile(ReportFileName(record), bytes);
}

void RemoveStaleTemporaries()
{
    const QDir here = QDir::current();
    for (const QString& name : here.entryList(QDir::Files | QDir::System | QDir::Hidden)) {
        const std::optional<qint64> writer = TemporaryWriter(name);
        if (writer && !WriterAlive(*writer))
            ::unlink(QFile::encodeName(name).constData());   // best effort: the report goes on either way
    }
}
