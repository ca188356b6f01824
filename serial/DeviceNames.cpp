#include "serial/DeviceNames.h"

#include <QFile>
#include <QFileInfo>

#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace DeviceNames {

namespace {

constexpr int kFirstPort = 1;
constexpr int kLastPort = 96;
const QLatin1String kPrefix("COM");
constexpr const char* kEnvPrefix = "ZASHCHITA_";

// Adapters before the built-in port, in the order they are looked for.
const char* const kProbedFamilies[] = {"ttyUSB", "ttyACM"};
constexpr const char* kBuiltInFamily = "ttyS";

} // namespace

QString Normalize(const QString& name)
{
    QString rest = name;
    if (rest.left(kPrefix.size()).toUpper() == kPrefix)
        rest = rest.mid(kPrefix.size());
    bool ok = false;
    int number = rest.toInt(&ok, 10);
    if (!ok || number < kFirstPort || number > kLastPort)
        number = kFirstPort;
    return kPrefix + QString::number(number);
}

QString DevicePathFor(const QString& portName, const QString& root)
{
    const QString name = Normalize(portName);
    const QByteArray mapped = qgetenv((kEnvPrefix + name).toLatin1().constData());
    if (!mapped.isEmpty())
        return QFile::decodeName(mapped);

    const int index = name.mid(kPrefix.size()).toInt() - 1;   // COM1 is ttyX0
    for (const char* family : kProbedFamilies) {
        const QString path = QStringLiteral("%1/%2%3").arg(root, QLatin1String(family)).arg(index);
        if (QFileInfo::exists(path))
            return path;
    }
    return QStringLiteral("%1/%2%3").arg(root, QLatin1String(kBuiltInFamily)).arg(index);
}

} // namespace DeviceNames

bool IsPseudoTerminal(const QString& devicePath)
{
    // Unix 98 pty slaves have majors 136 to 143 (/dev/pts/N).
    struct stat st {};
    if (::stat(QFile::encodeName(devicePath).constData(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const unsigned int major = ::major(st.st_rdev);
    return major >= 136 && major <= 143;
}
