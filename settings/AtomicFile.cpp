#include "settings/AtomicFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <locale.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// As many links as the kernel follows before it gives up with ELOOP.
constexpr int kMaxLinkDepth = 40;
// The random part of a temporary's name, and how often a name is tried.
constexpr int kRandomLetters = 6;
constexpr int kCreateAttempts = 100;
constexpr mode_t kPermissionBits = 07777;

// The file a chain of symbolic links ends at (itself when it is none).
QString Resolved(const QString& path)
{
    QString current = path;
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        const QFileInfo info(current);
        if (!info.isSymLink())
            break;
        current = info.symLinkTarget();
    }
    return current;
}

// What stands at `path` instead of a regular file, or an empty text.
QString NotRegular(const QByteArray& path)
{
    struct stat st {};
    if (::stat(path.constData(), &st) != 0 || S_ISREG(st.st_mode))
        return {};
    return S_ISDIR(st.st_mode) ? QStringLiteral("it is a directory") : QStringLiteral("it is not a regular file");
}

WriteFaultHook& FaultHook()
{
    static WriteFaultHook hook;
    return hook;
}

int InjectedError(WriteStep step)
{
    return FaultHook() ? FaultHook()(step) : 0;
}

// A system call's outcome: 0 or the error code, taken from errno at once.
int Failed(int result)
{
    return result < 0 ? errno : 0;
}

struct Earlier {
    bool exists = false;
    mode_t mode = 0;
};

// Whether the file at `file` may be replaced: none there, or a regular file
// that may be opened for writing (a file its owner made read-only keeps its
// content). Opened without waiting and only once stat() has shown a regular
// file, so that neither a FIFO nor a device is opened.
int ProbeEarlier(const QByteArray& file, Earlier& earlier, QString& reason)
{
    if (int error = InjectedError(WriteStep::Probe))
        return error;
    struct stat st {};
    if (::stat(file.constData(), &st) != 0)
        return errno == ENOENT ? 0 : errno;
    reason = NotRegular(file);
    if (!reason.isEmpty())
        return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    const int fd = ::open(file.constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    ::close(fd);
    earlier = {true, mode_t(st.st_mode & kPermissionBits)};
    return 0;
}

QByteArray RandomName(const QByteArray& file)
{
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray name = file + '.';
    for (int k = 0; k < kRandomLetters; ++k)
        name += kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return name;
}

// Creates the temporary beside `file`, only if it is new (O_EXCL).
int CreateTemporary(const QByteArray& file, const AtomicWrite& how, QByteArray& temporary, int& fd)
{
    if (int error = InjectedError(WriteStep::Create))
        return error;
    const int flags = O_WRONLY | O_CREAT | O_EXCL | O_NOCTTY | O_CLOEXEC;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        temporary = how.temporarySuffix.isEmpty() ? RandomName(file) : file + how.temporarySuffix;
        fd = ::open(temporary.constData(), flags, how.newFileMode);
        if (fd >= 0)
            return 0;
        if (errno != EEXIST)
            return errno;
        // A fixed name left by a run that died mid-write; a random one taken.
        if (!how.temporarySuffix.isEmpty())
            ::unlink(temporary.constData());
    }
    return EEXIST;
}

int WriteChunk(int fd, const char* data, qsizetype size)
{
    while (size > 0) {
        if (int error = InjectedError(WriteStep::Write))
            return error;
        const ssize_t n = ::write(fd, data, size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno;
        data += n;
        size -= n;
    }
    return 0;
}

int WriteContent(int fd, const QByteArray& bytes, bool lineByLine)
{
    if (!lineByLine)
        return WriteChunk(fd, bytes.constData(), bytes.size());
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', start);
        end = end < 0 ? bytes.size() : end + 1;
        if (int error = WriteChunk(fd, bytes.constData() + start, end - start))
            return error;
        start = end;
    }
    return 0;
}

// close() reports what a delayed write on some file systems found only now;
// the descriptor is gone after it even when it fails.
int SyncAndClose(int fd)
{
    int error = InjectedError(WriteStep::Sync);
    if (!error)
        error = Failed(::fsync(fd));
    const int closeError = InjectedError(WriteStep::Close);
    const int closeResult = Failed(::close(fd));
    if (!error)
        error = closeError ? closeError : closeResult;
    return error;
}

int PutInPlace(const QByteArray& from, const QByteArray& to)
{
    if (int error = InjectedError(WriteStep::Rename))
        return error;
    return Failed(::rename(from.constData(), to.constData()));
}

// Makes the rename itself survive a power cut. Best effort: the new file is
// complete and in place by now, and some file systems cannot sync a directory.
void SyncDirectory(const QByteArray& directory)
{
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

QString SystemReason(int error)
{
    static const locale_t plain = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    const char* text = plain ? ::strerror_l(error, plain) : std::strerror(error);
    return QString::fromUtf8(text);
}

bool CheckWritable(const QString& path, QString& reason)
{
    const QString target = Resolved(path);
    const QByteArray file = QFile::encodeName(target);
    const QByteArray directory = QFile::encodeName(QFileInfo(target).absolutePath());
    reason = NotRegular(file);
    if (!reason.isEmpty())
        return false;
    struct stat st {};
    int error = 0;
    if (::stat(directory.constData(), &st) != 0)
        error = errno;
    else if (!S_ISDIR(st.st_mode))
        error = ENOTDIR;
    else if (::faccessat(AT_FDCWD, directory.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        error = errno;
    if (error != 0) {
        reason = SystemReason(error);
        return false;
    }
    // A file its owner made read-only is not replaced behind their back.
    if (::faccessat(AT_FDCWD, file.constData(), F_OK, AT_EACCESS) == 0
        && ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0) {
        reason = SystemReason(errno);
        return false;
    }
    return true;
}

std::optional<AtomicWriteFailure> ReplaceFile(const QString& path, const QByteArray& bytes, const AtomicWrite& how)
{
    const QString target = Resolved(path);
    const QByteArray file = QFile::encodeName(target);
    QString reason;
    auto failure = [&reason](int error) {
        return AtomicWriteFailure{error, reason.isEmpty() ? SystemReason(error) : reason};
    };

    Earlier earlier;
    if (int error = ProbeEarlier(file, earlier, reason))
        return failure(error);
    QByteArray temporary;
    int fd = -1;
    if (int error = CreateTemporary(file, how, temporary, fd))
        return failure(error);
    if (how.keepEarlierMode && earlier.exists)
        ::fchmod(fd, earlier.mode);   // best effort: keep what the user set

    int error = WriteContent(fd, bytes, how.lineByLine);
    if (error)
        ::close(fd);
    else
        error = SyncAndClose(fd);
    if (!error)
        error = PutInPlace(temporary, file);
    if (error) {
        ::unlink(temporary.constData());
        return failure(error);
    }
    SyncDirectory(QFile::encodeName(QFileInfo(target).absolutePath()));
    return std::nullopt;
}

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& reason)
{
    const std::optional<AtomicWriteFailure> failure = ReplaceFile(path, bytes, AtomicWrite{});
    if (failure)
        reason = failure->reason;
    return !failure;
}

WriteFaultHook SetWriteFaultHook(WriteFaultHook hook)
{
    WriteFaultHook old = std::move(FaultHook());
    FaultHook() = std::move(hook);
    return old;
}
