// zashchita-exporter: every relay of a plant on /metrics for Prometheus. It
// reads its lines and relays from a YAML file, polls each line with one
// session, never writes to a relay, and archives every event record it sees
// in its state directory. See --help.
#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QStringList>

#include <prometheus/registry.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <sys/signalfd.h>
#include <unistd.h>

#include "ExporterConfig.h"
#include "LinePoller.h"
#include "RelayMetrics.h"
#include "WebServer.h"
#include "report/TripArchive.h"
#include "ZashchitaVersion.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
const char* const kDefaultListen = "127.0.0.1:9847";
const char* const kDefaultStateDir = "/var/lib/zashchita-exporter";
const char* const kArchiveName = "records.jsonl";

const char* const kUsage = R"(Usage: zashchita-exporter --config FILE [--listen HOST:PORT] [--web.config.file FILE]
                          [--state-dir DIR]
       zashchita-exporter --config FILE [--web.config.file FILE] --check-config
       zashchita-exporter --help | --version

Polls the motor-protection relays of a plant over their serial lines, device
servers (tcp://HOST:PORT) and Modbus TCP gateways (modbus-tcp://HOST[:PORT]),
read-only, and serves their values on http(s)://HOST:PORT/metrics for
Prometheus. Every event record seen is appended once to DIR/records.jsonl
(zashchita-cli records --archive FILE prints it).

  --config FILE     the lines and relays (YAML; see zashchita-exporter(1))
  --check-config    check FILE (and the web configuration with its files), name
                    each fault as FILE:LINE:COLUMN, open no line
  --listen HOST:PORT  where /metrics is served (default 127.0.0.1:9847)
  --web.config.file FILE  TLS and basic authentication for /metrics, in the
                    format of Prometheus' exporter toolkit (see zashchita-exporter(1))
  --state-dir DIR   the archive's folder (default $STATE_DIRECTORY, else
                    /var/lib/zashchita-exporter)

Exit status: 0 done (or the file is sound), 1 cannot serve (the address is
taken, the state folder or a file of the web configuration cannot be read),
2 a bad command line or configuration.
)";

struct Arguments {
    QString config;
    QString listen = QString::fromLatin1(kDefaultListen);
    QString stateDir;
    QString webConfig;
    bool check = false;
};

int Fail(int status, const QString& text)
{
    std::fprintf(stderr, "zashchita-exporter: %s\n", qPrintable(text));
    return status;
}

// Returns -1 to go on, else the exit status.
int ParseArguments(const QStringList& args, Arguments& out)
{
    for (qsizetype k = 1; k < args.size(); ++k) {
        const QString& a = args[k];
        auto value = [&](QString& target) {
            if (k + 1 >= args.size() || args[k + 1].isEmpty())
                return false;
            target = args[++k];
            return true;
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
        if (a == QLatin1String("--version")) {
            std::printf("zashchita-exporter %s\n", ZASHCHITA_VERSION);
            return kExitDone;
        }
        if (a == QLatin1String("--check-config")) {
            out.check = true;
        } else if (a.startsWith(QLatin1String("--web.config.file="))) {
            out.webConfig = a.section(QLatin1Char('='), 1);
        } else if (a == QLatin1String("--web.config.file")) {
            if (!value(out.webConfig))
                return Fail(kExitUsage, QStringLiteral("%1 needs a value\nTry 'zashchita-exporter --help'.").arg(a));
        } else if (a == QLatin1String("--config") || a == QLatin1String("--listen")
                   || a == QLatin1String("--state-dir")) {
            QString& target = a == QLatin1String("--config") ? out.config
                              : a == QLatin1String("--listen") ? out.listen : out.stateDir;
            if (!value(target))
                return Fail(kExitUsage, QStringLiteral("%1 needs a value\nTry 'zashchita-exporter --help'.").arg(a));
        } else {
            return Fail(kExitUsage, QStringLiteral("unknown argument \"%1\"\nTry 'zashchita-exporter --help'.").arg(a));
        }
    }
    if (out.config.isEmpty())
        return Fail(kExitUsage, QStringLiteral("--config FILE is needed\nTry 'zashchita-exporter --help'."));
    const qsizetype colon = out.listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon > 0 ? out.listen.mid(colon + 1).toInt(&portOk) : 0;
    if (!portOk || port < 0 || port > 65535)
        return Fail(kExitUsage, QStringLiteral("--listen takes HOST:PORT, not \"%1\"").arg(out.listen));
    if (out.stateDir.isEmpty()) {
        // systemd's StateDirectory= names it; the first of a list is ours.
        const QString fromSystemd = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
        out.stateDir = fromSystemd.isEmpty() ? QString::fromLatin1(kDefaultStateDir) : fromSystemd;
    }
    return -1;
}

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
    Arguments args;
    if (const int status = ParseArguments(app.arguments(), args); status >= 0)
        return status;

    const ConfigReading reading = ReadConfigFile(args.config);
    for (const QString& fault : reading.faults)
        std::fprintf(stderr, "%s\n", qPrintable(fault));
    if (!reading.faults.isEmpty())
        return Fail(kExitUsage, QStringLiteral("%1 fault(s) in %2").arg(reading.faults.size()).arg(args.config));
    WebConfig webConfig;
    if (!args.webConfig.isEmpty()) {
        const WebConfigReading web = ReadWebConfigFile(args.webConfig);
        for (const QString& fault : web.faults)
            std::fprintf(stderr, "%s\n", qPrintable(fault));
        if (!web.faults.isEmpty())
            return Fail(web.unreadable ? kExitFailed : kExitUsage,
                        QStringLiteral("%1 fault(s) in %2").arg(web.faults.size()).arg(args.webConfig));
        webConfig = web.config;
    }
    WebServer web(webConfig);
    if (std::string error; !web.Prepare(&error))
        return Fail(kExitFailed, QString::fromStdString(error));
    if (args.check) {
        int relays = 0;
        for (const LineConfig& line : reading.config.lines)
            relays += int(line.relays.size());
        std::printf("%s: %d line(s), %d relay(s)\n", qPrintable(args.config), int(reading.config.lines.size()), relays);
        return kExitDone;
    }

    TripArchive archive(QDir(args.stateDir).filePath(QString::fromLatin1(kArchiveName)));
    if (QString error; !archive.Load(&error))
        return Fail(kExitFailed, QStringLiteral("cannot read %1: %2").arg(archive.Path(), error));
    if (archive.Skipped() > 0)
        Fail(0, QStringLiteral("%1: %2 line(s) that are no record passed over").arg(archive.Path()).arg(archive.Skipped()));

    auto registry = std::make_shared<prometheus::Registry>();
    MetricFamilies families(*registry);
    web.Serve(registry);
    web.Serve(families.relays);
    if (std::string error; !web.Start(args.listen.toStdString(), &error))
        return Fail(kExitFailed, QStringLiteral("cannot listen on %1: %2").arg(args.listen, QString::fromStdString(error)));

    std::vector<std::unique_ptr<LinePoller>> lines;
    for (const LineConfig& line : reading.config.lines)
        lines.push_back(std::make_unique<LinePoller>(line, families, archive));
    for (auto& line : lines)
        line->Start();
    std::fprintf(stderr, "zashchita-exporter: serving %s://%s/metrics\n", web.Tls() ? "https" : "http", qPrintable(args.listen));
    QuitOnStopSignals(app);
    const int status = app.exec();
    lines.clear();
    return status;
}
