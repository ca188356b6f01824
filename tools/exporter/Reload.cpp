#include "Reload.h"

#include "ServedRegisters.h"

#include "ExporterConfig.h"
#include "Log.h"
#include "Plant.h"
#include "PrometheusOutput.h"
#include "WebConfig.h"
#include "WebServer.h"

namespace {

bool Refuse(const ReloadTargets& to, const QString& why, qint64 unixMs)
{
    to.log.Error(QStringLiteral("reload refused: %1; the running configuration is kept").arg(why));
    to.metrics.ConfigLoaded(false, unixMs);
    return false;
}

}  // namespace

bool ReloadConfiguration(const ExporterArguments& args, const ReloadTargets& to, qint64 unixMs)
{
    const ConfigReading config = ReadConfigFile(args.config);
    for (const QString& fault : config.faults)
        to.log.Error(fault);
    if (!config.faults.isEmpty())
        return Refuse(to, QStringLiteral("%1 fault(s) in %2").arg(config.faults.size()).arg(args.config), unixMs);

    WebConfig webConfig;
    if (!args.webConfig.isEmpty()) {
        const WebConfigReading web = ReadWebConfigFile(args.webConfig);
        for (const QString& fault : web.faults)
            to.log.Error(fault);
        if (!web.faults.isEmpty())
            return Refuse(to, QStringLiteral("%1 fault(s) in %2").arg(web.faults.size()).arg(args.webConfig), unixMs);
        webConfig = web.config;
    }
    if (std::string error; !to.web.Replace(webConfig, &error))
        return Refuse(to, QString::fromStdString(error), unixMs);

    if (to.served)
        to.served->Apply(config.config);
    const Plant::Applied applied = to.plant.Apply(config.config);
    to.metrics.ConfigLoaded(true, unixMs);
    to.log.Info(QStringLiteral("reloaded %1: %2 line(s) as they were, %3 changed on the run, %4 made anew, "
                               "%5 added, %6 removed")
                    .arg(args.config)
                    .arg(applied.kept)
                    .arg(applied.changed)
                    .arg(applied.rebuilt)
                    .arg(applied.added)
                    .arg(applied.removed));
    return true;
}
