#include "serial/PortMessages.h"

#include <grp.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

QString PortFailureDetail(const QString& devicePath, int osError, const QString& otherReason)
{
    QString detail = QStringLiteral("Устройство: %1").arg(devicePath);
    if (osError > 0)
        detail += QStringLiteral("\nПричина: %1").arg(QString::fromLocal8Bit(std::strerror(osError)));
    else if (!otherReason.isEmpty())
        detail += QStringLiteral("\nПричина: %1").arg(otherReason);

    if (osError == EACCES || osError == EPERM) {
        QString groupName = QStringLiteral("dialout");
        struct stat st {};
        if (::stat(devicePath.toLocal8Bit().constData(), &st) == 0)
            if (const struct group* g = ::getgrgid(st.st_gid))
                groupName = QString::fromLocal8Bit(g->gr_name);
        detail += QStringLiteral("\nПользователь должен входить в группу «%1», которой принадлежит "
                                 "устройство (обычно dialout).").arg(groupName);
    }
    return detail;
}
