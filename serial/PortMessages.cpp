#include "serial/PortMessages.h"

#include <QFile>

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

bool NotASerialDevice(int osError)
{
    return osError == ENOTTY;
}

QString AccessGroup(const QString& devicePath, int osError)
{
    if (osError != EACCES && osError != EPERM)
        return {};
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0)
        return {};
    // Joining a group helps only when the device lets that group read and write.
    constexpr mode_t kGroupReadWrite = S_IRGRP | S_IWGRP;
    if ((st.st_mode & kGroupReadWrite) != kGroupReadWrite)
        return {};
    const struct group* g = ::getgrgid(st.st_gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString();
}

QString PortFailureDetail(const QString& devicePath, int osError, const QString& otherReason)
{
    QString detail = QStringLiteral("Устройство: %1").arg(devicePath);
    if (NotASerialDevice(osError))
        detail += QStringLiteral("\nПричина: это не последовательный порт");
    else if (osError > 0)
        detail += QStringLiteral("\nПричина: %1").arg(QString::fromLocal8Bit(std::strerror(osError)));
    else if (!otherReason.isEmpty())
        detail += QStringLiteral("\nПричина: %1").arg(otherReason);

    if (const QString group = AccessGroup(devicePath, osError); !group.isEmpty())
        detail += QStringLiteral("\nПользователь должен входить в группу «%1», которой принадлежит "
                                 "устройство (обычно dialout).").arg(group);
    return detail;
}
