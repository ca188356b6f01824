#include "app/trends/TrendSettings.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>
#include <QUrl>

namespace {

QSettings WindowSettings()
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("zashchita"), QStringLiteral("zashchita"));
}

// A relay's key: a port may hold '/', which would make groups of its parts.
QString RelayKey(const RelayId& relay)
{
    return QStringLiteral("relays/%1/name")
        .arg(QString::fromLatin1(QUrl::toPercentEncoding(QStringLiteral("%1#%2").arg(relay.port).arg(relay.address))));
}

}  // namespace

QString RelayName(const RelayId& relay)
{
    return relay.Known() ? WindowSettings().value(RelayKey(relay)).toString() : QString();
}

void SetRelayName(const RelayId& relay, const QString& name)
{
    if (!relay.Known())
        return;
    QSettings settings = WindowSettings();
    if (name.trimmed().isEmpty())
        settings.remove(RelayKey(relay));
    else
        settings.setValue(RelayKey(relay), name.trimmed());
}

RelayId LastRelay()
{
    const QSettings settings = WindowSettings();
    RelayId relay;
    relay.port = settings.value(QStringLiteral("trends/lastPort")).toString();
    relay.address = settings.value(QStringLiteral("trends/lastAddress")).toInt();
    relay.name = RelayName(relay);
    return relay;
}

void SetLastRelay(const RelayId& relay)
{
    QSettings settings = WindowSettings();
    settings.setValue(QStringLiteral("trends/lastPort"), relay.port);
    settings.setValue(QStringLiteral("trends/lastAddress"), relay.address);
}

QString LastExportFolder()
{
    const QString folder = WindowSettings().value(QStringLiteral("trends/exportFolder")).toString();
    if (!folder.isEmpty() && QDir(folder).exists())
        return folder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QDir(documents).exists() ? documents : QDir::homePath();
}

void SetLastExportFolder(const QString& folder)
{
    WindowSettings().setValue(QStringLiteral("trends/exportFolder"), folder);
}
