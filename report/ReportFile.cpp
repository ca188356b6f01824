#include "report/ReportFile.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <limits>
#include <optional>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr const char* kFolder = "TXT";
// Qt gives the working directory with "/" separators on every platform.
const QString kFolderInPath = QStringLiteral("/TXT");
constexpr mode_t kNewFileMode = 0666;  // narrowed by the umask
constexpr mode_t kNewFolderMode = 0777;
constexpr mode_t kPermissionBits = 07777;

ReportFaultHook& FaultHook()
{
    static ReportFaultHook hook;
    return hook;
}

int InjectedError(ReportStep step)
{
    return FaultHook() ? FaultHook()(step) : 0;
}

// A step's outcome: 0 or the error code, taken from errno at once.
int Failed(int result)
{
    return result < 0 ? errno : 0;
}

ReportOutcome Failure(int error)
{
    return {false, ReportErrorText(error)};
}

// Whether the old report may be replaced: a file that could not be opened
// for writing (read-only, a directory) keeps its report, as it did when the
// file was overwritten in place. Hands back the old file's permissions.
int ProbeOldReport(const QByteArray& path, mode_t* mode, bool* exists)
{
    *exists = false;
    if (int error = InjectedError(ReportStep::Probe))
        return error;
    // Non-blocking, so that a FIFO of that name fails instead of hanging.
    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? 0 : errno;
    struct stat st {};
    if (::fstat(fd, &st) == 0) {
        *exists = true;
        *mode = st.st_mode & kPermissionBits;
    }
    ::close(fd);
    return 0;
}

int CreateTemporary(const QByteArray& path, int* fd)
{
    if (int error = InjectedError(ReportStep::Create))
        return error;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC;
    *fd = ::open(path.constData(), flags, kNewFileMode);
    if (*fd < 0 && errno == EEXIST) {
        // Left over from a run that died mid-report.
        ::unlink(path.constData());
        *fd = ::open(path.constData(), flags, kNewFileMode);
    }
    return *fd < 0 ? errno : 0;
}

int WriteAll(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        if (int error = InjectedError(ReportStep::Write))
            return error;
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        data += n;
        size -= n;
    }
    return 0;
}

int WriteLines(int fd, const QByteArray& bytes)
{
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        if (int error = WriteAll(fd, bytes.constData() + start, end - start))
            return error;
        start = end;
    }
    return 0;
}

int SyncAndClose(int fd)
{
    int error = InjectedError(ReportStep::Sync);
    if (!error)
        error = Failed(::fsync(fd));
    // The descriptor is gone after close() even when it fails.
    const int closeError = InjectedError(ReportStep::Close);
    const int closeResult = Failed(::close(fd));
    if (!error)
        error = closeError ? closeError : closeResult;
    return error;
}

int PutInPlace(const QByteArray& from, const QByteArray& to)
{
    if (int error = InjectedError(ReportStep::Rename))
        return error;
    return Failed(::rename(from.constData(), to.constData()));
}

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

ReportFaultHook SetReportFaultHook(ReportFaultHook hook)
{
    ReportFaultHook old = std::move(FaultHook());
    FaultHook() = std::move(hook);
    return old;
}

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
    const QByteArray path = QFile::encodeName(name);
    const QByteArray temporary = path + '.' + QByteArray::number(qint64(::getpid())) + ".tmp";

    mode_t oldMode = 0;
    bool oldExists = false;
    if (int error = ProbeOldReport(path, &oldMode, &oldExists))
        return Failure(error);

    int fd = -1;
    if (int error = CreateTemporary(temporary, &fd))
        return Failure(error);
    if (oldExists)
        ::fchmod(fd, oldMode);  // best effort: keep what the user set

    int error = WriteLines(fd, bytes);
    if (error)
        ::close(fd);
    else
        error = SyncAndClose(fd);
    if (!error)
        error = PutInPlace(temporary, path);
    if (error) {
        ::unlink(temporary.constData());
        return Failure(error);
    }
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
