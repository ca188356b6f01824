#include "Log.h"

#include <QByteArray>

#include <sys/stat.h>

Log::Log(std::FILE* to) : to_(to), journal_(IsJournalStream(fileno(to)))
{
}

bool Log::IsJournalStream(int fd)
{
    const QByteArray named = qgetenv("JOURNAL_STREAM");
    const qsizetype colon = named.indexOf(':');
    struct stat st {};
    if (colon <= 0 || fstat(fd, &st) != 0)
        return false;
    bool deviceOk = false, inodeOk = false;
    const qulonglong device = named.left(colon).toULongLong(&deviceOk);
    const qulonglong inode = named.mid(colon + 1).toULongLong(&inodeOk);
    return deviceOk && inodeOk && device == qulonglong(st.st_dev) && inode == qulonglong(st.st_ino);
}

void Log::Write(LogLevel level, const QString& text) const
{
    if (int(level) > int(least_))
        return;
    const QByteArray line = text.toLocal8Bit();
    if (journal_)
        std::fprintf(to_, "<%d>zashchita-exporter: %s\n", int(level), line.constData());
    else
        std::fprintf(to_, "zashchita-exporter: %s\n", line.constData());
    std::fflush(to_);
}
