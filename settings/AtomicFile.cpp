#include "settings/AtomicFile.h"

#include <QFile>
#include <QFileInfo>

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
// The random part mkstemp fills in.
const char* const kTemporarySuffix = ".XXXXXX";

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

bool WriteAll(int fd, const QByteArray& bytes)
{
    const char* data = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
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

bool WriteFileAtomically(const QString& path, const QByteArray& bytes, QString& reason)
{
    const QString target = Resolved(path);
    const QByteArray file = QFile::encodeName(target);
    reason = NotRegular(file);
    if (!reason.isEmpty())
        return false;

    QByteArray temporary = file + kTemporarySuffix;
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);   // O_EXCL, mode 0600
    if (fd < 0) {
        reason = SystemReason(errno);
        return false;
    }
    int error = 0;
    if (!WriteAll(fd, bytes) || ::fsync(fd) != 0)
        error = errno;
    // close() reports what a delayed write on some file systems found only now.
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.constData(), file.constData()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.constData());
        reason = SystemReason(error);
        return false;
    }
    SyncDirectory(QFile::encodeName(QFileInfo(target).absolutePath()));
    return true;
}
