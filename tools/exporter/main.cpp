// zashchita-exporter: every relay of a plant on /metrics for Prometheus. It
// reads its lines and relays from a YAML file, polls each line with one
// session, never writes to a relay, and archives every event record it sees
// in its state directory. The lines' pollers emit events; the outputs (the
// metrics, the archive, the log) take them through one bus. See --help.
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>

#include <prometheus/registry.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

#include "Arguments.h"
#include "ArchiveOutput.h"
#include "ExporterConfig.h"
#include "LinePoller.h"
#include "Log.h"
#include "LogOutput.h"
#include "PollBus.h"
#include "PrometheusOutput.h"
#include "WebServer.h"
#include "report/TripArchive.h"

namespace {

const char* const kArchiveName = "records.jsonl";

// SIGINT and SIGTERM end the event loop from within it.
void QuitOnStopSignals(QCoreApplication& app)
{
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigprocmask(SIG_BLOCK, &stops, nullptr);
    const int fd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [fd, &app] {
        signalfd_siginfo info{};
        while (read(fd, &info, sizeof info) == sizeof info) {
        }
        app.quit();
    });
}

}  // namespace

int main(int argc, char** argv)
{
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
    for (const std::string& name : bus.Names())
        metrics.KnowOutput(name);

    for (const auto& collectable : metrics.Collectables())
        web.Serve(collectable);
    if (std::string error; !web.Start(args.listen.toStdString(), &error)) {
        log.Error(QStringLiteral("cannot listen on %1: %2").arg(args.listen, QString::fromStdString(error)));
        return kExitFailed;
    }

    std::vector<std::unique_ptr<LinePoller>> lines;
    for (const LineConfig& line : config.config.lines)
        lines.push_back(std::make_unique<LinePoller>(line, bus));
    for (auto& line : lines)
        line->Start();
    log.Info(QStringLiteral("serving %1://%2/metrics").arg(QLatin1String(web.Tls() ? "https" : "http"), args.listen));
    QuitOnStopSignals(app);
    const int status = app.exec();
    lines.clear();
    return status;
}
