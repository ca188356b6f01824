// zashchita-exporter: every relay of a plant on /metrics for Prometheus. It
// reads its lines and relays from a YAML file, polls each line with one
// session, never writes to a relay, and archives every event record it sees
// in its state directory. The lines' pollers emit events; the outputs (the
// metrics, the archive, the log) take them through one bus. See --help.
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QMetaObject>

#include <prometheus/registry.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "Arguments.h"
#include "ArchiveOutput.h"
#include "ExporterConfig.h"
#include "Log.h"
#include "LogOutput.h"
#include "ModbusServer.h"
#include "Plant.h"
#include "PollBus.h"
#include "PrometheusOutput.h"
#include "Reload.h"
#include "ServedRegisters.h"
#include "ServiceSignals.h"
#include "WebServer.h"
#include "report/TripArchive.h"

namespace {

const char* const kArchiveName = "records.jsonl";

}  // namespace

int main(int argc, char** argv)
{
    // Before any thread: every thread made from here on keeps them blocked.
    BlockServiceSignals();
    QCoreApplication app(argc, argv);
    const Log log;
    const ArgumentsReading reading = ReadExporterArguments(app.arguments());
    std::fputs(qPrintable(reading.out), stdout);
    if (!reading.error.isEmpty())
        log.Error(reading.error);
    if (reading.status)
        return *reading.status;
    const ExporterArguments& args = reading.args;

    const ConfigReading config = ReadConfigFile(args.config);
    for (const QString& fault : config.faults)
        std::fprintf(stderr, "%s\n", qPrintable(fault));
    if (!config.faults.isEmpty()) {
        log.Error(QStringLiteral("%1 fault(s) in %2").arg(config.faults.size()).arg(args.config));
        return kExitUsage;
    }
    WebConfig webConfig;
    if (!args.webConfig.isEmpty()) {
        const WebConfigReading web = ReadWebConfigFile(args.webConfig);
        for (const QString& fault : web.faults)
            std::fprintf(stderr, "%s\n", qPrintable(fault));
        if (!web.faults.isEmpty()) {
            log.Error(QStringLiteral("%1 fault(s) in %2").arg(web.faults.size()).arg(args.webConfig));
            return web.unreadable ? kExitFailed : kExitUsage;
        }
        webConfig = web.config;
    }
    // Made before the HTTP side, which serves their counts, and gone after it.
    std::unique_ptr<ServedRegisters> served;
    std::unique_ptr<ModbusServer> modbus;
    const QString modbusListen = args.modbusListen.isEmpty() ? config.config.modbusListen : args.modbusListen;
    if (!modbusListen.isEmpty()) {
        served = std::make_unique<ServedRegisters>(config.config);
        if (served->Units() == 0) {
            log.Error(QStringLiteral("--modbus-listen: no relay of %1 has a unit").arg(args.config));
            return kExitUsage;
        }
        modbus = std::make_unique<ModbusServer>(*served);
    }
    WebServer web(webConfig);
    if (std::string error; !web.Prepare(&error)) {
        log.Error(QString::fromStdString(error));
        return kExitFailed;
    }
    if (args.check) {
        std::printf("%s\n", qPrintable(ConfigSummary(args.config, config.config)));
        return kExitDone;
    }

    // Without a writable archive no trip could be kept: better to end, and be
    // started again by the unit, than to serve on.
    TripArchive archive(QDir(args.stateDir).filePath(QString::fromLatin1(kArchiveName)));
    if (QString error; !archive.CheckWritable(&error)) {
        log.Error(error);
        return kExitFailed;
    }
    if (QString error; !archive.Load(&error)) {
        log.Error(QStringLiteral("cannot read %1: %2").arg(archive.Path(), error));
        return kExitFailed;
    }
    if (archive.Skipped() > 0)
        log.Warning(QStringLiteral("%1: %2 line(s) that are no record passed over").arg(archive.Path()).arg(archive.Skipped()));

    // The outputs, each fed by every line through the bus.
    PollBus bus;
    PrometheusOutput metrics;
    ArchiveOutput archiveOutput(archive, bus);
    LogOutput logOutput(log);
    bus.Subscribe(metrics);
    bus.Subscribe(archiveOutput);
    bus.Subscribe(logOutput);
    if (served)
        bus.Subscribe(*served);
    for (const std::string& name : bus.Names())
        metrics.KnowOutput(name);

    for (const auto& collectable : metrics.Collectables())
        web.Serve(collectable);
    if (modbus) {
        web.Serve(modbus->Metrics());
        if (std::string error; !modbus->Start(modbusListen.toStdString(), &error)) {
            log.Error(QStringLiteral("cannot serve Modbus TCP on %1: %2").arg(modbusListen, QString::fromStdString(error)));
            return kExitFailed;
        }
    }
    if (std::string error; !web.Start(args.listen.toStdString(), &error)) {
        log.Error(QStringLiteral("cannot listen on %1: %2").arg(args.listen, QString::fromStdString(error)));
        return kExitFailed;
    }

    Plant plant(bus);
    plant.Apply(config.config);
    metrics.ConfigLoaded(true, QDateTime::currentMSecsSinceEpoch());
    log.Info(QStringLiteral("serving %1://%2/metrics").arg(QLatin1String(web.Tls() ? "https" : "http"), args.listen));
    if (modbus)
        log.Info(QStringLiteral("serving Modbus TCP on %1").arg(modbusListen));

    // SIGHUP: read again, in a call of its own from the event loop (several
    // at once make one reload); SIGTERM, SIGINT: the end.
    bool reloadDue = false;
    const ReloadTargets targets{plant, web, metrics, log, served.get()};
    WatchServiceSignals(&app, [&](int signal) {
        if (signal != SIGHUP) {
            log.Info(QStringLiteral("SIG%1: stopping").arg(QLatin1String(sigabbrev_np(signal))));
            app.quit();
            return;
        }
        if (std::exchange(reloadDue, true))
            return;
        QMetaObject::invokeMethod(&app, [&] {
            reloadDue = false;
            ReloadConfiguration(args, targets, QDateTime::currentMSecsSinceEpoch());
        }, Qt::QueuedConnection);
    });
    const int status = app.exec();
    // The lines stop first: every record read is in the archive when it ends.
    plant.Stop();
    return status;
}
