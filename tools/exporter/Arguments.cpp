#include "Arguments.h"

#include <algorithm>

#include "ZashchitaVersion.h"

namespace {

const char* const kDefaultListen = "127.0.0.1:9847";
const char* const kDefaultStateDir = "/var/lib/zashchita-exporter";

const char* const kUsage = R"(Usage: zashchita-exporter --config FILE [--listen HOST:PORT] [--web.config.file FILE]
                          [--modbus-listen HOST:PORT] [--state-dir DIR]
       zashchita-exporter --config FILE [--web.config.file FILE] --check-config
       zashchita-exporter --help | --version

Polls the motor-protection relays of a plant over their serial lines, device
servers (tcp://HOST:PORT) and Modbus TCP gateways (modbus-tcp://HOST[:PORT]),
read-only, and serves their values on http(s)://HOST:PORT/metrics for
Prometheus. Every event record seen is appended once to DIR/records.jsonl
(zashchita-cli records --archive FILE prints it). With --modbus-listen (or
modbus_listen in FILE) it also serves, read-only, the registers it read last
over Modbus TCP, each relay under the unit id FILE gives it (unit: 1..247).

  --config FILE     the lines and relays (YAML; see zashchita-exporter(1))
  --check-config    check FILE (and the web configuration with its files), name
                    each fault as FILE:LINE:COLUMN, open no line
  --listen HOST:PORT  where /metrics is served (default 127.0.0.1:9847)
  --web.config.file FILE  TLS and basic authentication for /metrics, in the
                    format of Prometheus' exporter toolkit (see zashchita-exporter(1))
  --modbus-listen HOST:PORT  serve the relays' registers over Modbus TCP there
                    (functions 3 and 4; exception 0x0B for a relay down or a
                    block older than its modbus_max_age, 0x0A for a unit id
                    no relay has, 0x01 for any write)
  --state-dir DIR   the archive's folder (default $STATE_DIRECTORY, else
                    /var/lib/zashchita-exporter)

SIGHUP reads FILE and the web configuration again: the lines and relays that
did not change poll on; a file with a fault is logged and the running one kept.
SIGTERM and SIGINT end it with status 0.

Exit status: 0 done (or the file is sound), 1 cannot serve (the address is
taken, the state folder or a file of the web configuration cannot be read),
2 a bad command line or configuration.
)";

const QString kTryHelp = QStringLiteral("\nTry 'zashchita-exporter --help'.");

bool IsListenAddress(const QString& listen)
{
    const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = colon > 0 ? listen.mid(colon + 1).toInt(&portOk) : 0;
    return portOk && port >= 0 && port <= 65535;
}

}  // namespace

std::optional<int> ReadFlags(const QStringList& args, const std::vector<FlagRow>& table, QString* error)
{
    for (qsizetype k = 1; k < args.size(); ++k) {
        QString a = args[k];
        // A flag that takes a value may carry it as --flag=VALUE.
        std::optional<QString> joined;
        if (const qsizetype eq = a.indexOf(QLatin1Char('=')); a.startsWith(QLatin1String("--")) && eq > 2) {
            joined = a.mid(eq + 1);
            a.truncate(eq);
        }
        const auto row = std::find_if(table.begin(), table.end(), [&a](const FlagRow& r) { return r.names.contains(a); });
        if (row == table.end() || (joined && !row->takesValue)) {
            *error = QStringLiteral("unknown argument \"%1\"").arg(args[k]);
            return kExitUsage;
        }
        QString value;
        if (joined) {
            if (joined->isEmpty()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return kExitUsage;
            }
            value = *joined;
        } else if (row->takesValue) {
            if (k + 1 >= args.size() || args[k + 1].isEmpty()) {
                *error = QStringLiteral("%1 needs a value").arg(a);
                return kExitUsage;
            }
            value = args[++k];
        }
        if (const std::optional<int> status = row->apply(value))
            return status;
    }
    return std::nullopt;
}

ArgumentsReading ReadExporterArguments(const QStringList& args)
{
    ArgumentsReading r;
    ExporterArguments& out = r.args;
    out.listen = QString::fromLatin1(kDefaultListen);
    const auto into = [](QString& target) {
        return [&target](const QString& value) -> std::optional<int> {
            target = value;
            return std::nullopt;
        };
    };
    const std::vector<FlagRow> table{
        {{QStringLiteral("--help"), QStringLiteral("-h")}, false,
         [&r](const QString&) -> std::optional<int> {
             r.out = QString::fromUtf8(kUsage);
             return kExitDone;
         }},
        {{QStringLiteral("--version")}, false,
         [&r](const QString&) -> std::optional<int> {
             r.out = QStringLiteral("zashchita-exporter %1\n").arg(QLatin1String(ZASHCHITA_VERSION));
             return kExitDone;
         }},
        {{QStringLiteral("--check-config")}, false,
         [&out](const QString&) -> std::optional<int> {
             out.check = true;
             return std::nullopt;
         }},
        {{QStringLiteral("--config")}, true, into(out.config)},
        {{QStringLiteral("--listen")}, true, into(out.listen)},
        {{QStringLiteral("--state-dir")}, true, into(out.stateDir)},
        {{QStringLiteral("--web.config.file")}, true, into(out.webConfig)},
        {{QStringLiteral("--modbus-listen")}, true, into(out.modbusListen)},
    };
    if ((r.status = ReadFlags(args, table, &r.error))) {
        if (!r.error.isEmpty())
            r.error += kTryHelp;
        return r;
    }
    if (out.config.isEmpty()) {
        r.error = QStringLiteral("--config FILE is needed") + kTryHelp;
    } else if (!IsListenAddress(out.listen)) {
        r.error = QStringLiteral("--listen takes HOST:PORT, not \"%1\"").arg(out.listen);
    } else if (!out.modbusListen.isEmpty() && !IsListenAddress(out.modbusListen)) {
        r.error = QStringLiteral("--modbus-listen takes HOST:PORT, not \"%1\"").arg(out.modbusListen);
    } else {
        if (out.stateDir.isEmpty()) {
            // systemd's StateDirectory= names it; the first of a list is ours.
            const QString fromSystemd = qEnvironmentVariable("STATE_DIRECTORY").section(QLatin1Char(':'), 0, 0);
            out.stateDir = fromSystemd.isEmpty() ? QString::fromLatin1(kDefaultStateDir) : fromSystemd;
        }
        return r;
    }
    r.status = kExitUsage;
    return r;
}
