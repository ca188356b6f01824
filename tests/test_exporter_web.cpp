// zashchita-exporter's HTTP side, run as a process against the simulator:
// every method and path answered as HTTP has it, the connections bounded,
// the web configuration's faults named, and Debian's Prometheus scraping
// over TLS with a client certificate and basic auth, and taking a new web
// configuration on SIGHUP.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <crypt.h>

#include "ServerLimits.h"
#include "support/ExporterRun.h"
#include "support/PrometheusRun.h"
#include "support/RelaySim.h"

namespace {

// One simulated relay, and the exporter's configuration for it.
struct Plant {
    QTemporaryDir dir;
    RelaySim sim{{"--freeze"}};
    QString config = dir.filePath(QStringLiteral("exporter.yaml"));
    Plant()
    {
        WriteText(config, QStringLiteral("lines:\n  - {name: mill, port: %1, relays: [{name: D1, address: 1}]}\n")
                              .arg(QString::fromStdString(sim.path())).toUtf8());
    }
    QString Path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

struct Outcome {
    int status = -1;
    QByteArray out;   // stdout, then stderr
};

Outcome RunProgram(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput() + p.readAllStandardError()};
}

int Status(const QByteArray& answer)
{
    return answer.startsWith("HTTP/1.1 ") ? answer.mid(9, 3).toInt() : 0;
}

QByteArray Body(const QByteArray& answer)
{
    const qsizetype split = answer.indexOf("\r\n\r\n");
    return split < 0 ? QByteArray() : answer.mid(split + 4);
}

// The header field names of an answer, in order.
QList<QByteArray> FieldNames(const QByteArray& answer)
{
    QList<QByteArray> names;
    for (const QByteArray& line : answer.left(answer.indexOf("\r\n\r\n")).split('\n').mid(1))
        names << line.left(line.indexOf(':'));
    return names;
}

QByteArray Bcrypt(const char* password)
{
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_gensalt_rn("$2b$", 4, nullptr, 0, setting, sizeof setting);
    crypt_data data{};
    return crypt_r(password, setting, &data);
}

// In `dir`: a CA (ca.crt), a server certificate of it for 127.0.0.1
// (server.crt, server.key) and a client one (client.crt, client.key).
void MakeCertificates(const QString& dir)
{
    const QString key = QStringLiteral("ec_paramgen_curve:P-256");
    auto openssl = [&](QStringList args) { ASSERT_EQ(RunProgram(QStringLiteral("openssl"), args).status, 0) << args.join(' ').toStdString(); };
    auto at = [&](const char* name) { return dir + QLatin1Char('/') + QLatin1String(name); };
    openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", key, "-nodes", "-keyout", at("ca.key"), "-out", at("ca.crt"),
             "-days", "2", "-subj", "/CN=test CA"});
    for (const char* who : {"server", "client"}) {
        const QString name = QString::fromLatin1(who);
        openssl({"req", "-newkey", "ec", "-pkeyopt", key, "-nodes", "-keyout", dir + "/" + name + ".key", "-out",
                 dir + "/" + name + ".csr", "-subj", "/CN=" + name});
        WriteText(dir + "/" + name + ".ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\n");
        openssl({"x509", "-req", "-in", dir + "/" + name + ".csr", "-CA", at("ca.crt"), "-CAkey", at("ca.key"),
                 "-CAcreateserial", "-days", "2", "-out", dir + "/" + name + ".crt", "-extfile", dir + "/" + name + ".ext"});
    }
}

}  // namespace

TEST(ExporterWeb, AnswersAsHttpSays)
{
    Plant plant;
    ExporterProcess exporter(plant.config, plant.Path("state"));
    const QByteArray host = " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    const QByteArray get = Exchange(exporter.Port(), "GET /metrics" + host + "\r\n");
    const struct {
        const char* name;
        QByteArray request;
        int status;
        const char* field;   // a line the head holds, or nullptr
        const char* body;    // what the body holds; "": no body at all; nullptr: any
    } rows[] = {
        {"GET /metrics", "GET /metrics" + host + "\r\n", 200, "Content-Type: text/plain; version=0.0.4; charset=utf-8",
         "zashchita_relay_up{"},
        {"HEAD /metrics", "HEAD /metrics" + host + "\r\n", 200, "Content-Type: text/plain; version=0.0.4", ""},
        {"gzip when asked", "GET /metrics" + host + "Accept-Encoding: deflate, gzip\r\n\r\n", 200,
         "Content-Encoding: gzip", "\x1f\x8b"},
        {"no gzip at q=0", "GET /metrics" + host + "Accept-Encoding: gzip;q=0\r\n\r\n", 200, nullptr, "# HELP"},
        {"the page", "GET / HTTP/1.0\r\n\r\n", 200, "Content-Type: text/html", "href=\"/metrics\""},
        {"OPTIONS", "OPTIONS /metrics" + host + "\r\n", 200, "Allow: GET, HEAD, OPTIONS", ""},
        {"OPTIONS *", "OPTIONS *" + host + "\r\n", 200, "Allow: GET, HEAD, OPTIONS", ""},
        {"another path", "GET /metrics/x" + host + "\r\n", 404, nullptr, nullptr},
        {"POST", "POST /metrics" + host + "Content-Length: 3\r\n\r\na=b", 405, "Allow: GET, HEAD, OPTIONS", nullptr},
        {"DELETE", "DELETE /" + host + "\r\n", 405, "Allow: GET, HEAD, OPTIONS", nullptr},
        {"garbage", QByteArray("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11), 400, "Connection: close", nullptr},
        {"HTTP/1.1 without Host", "GET /metrics HTTP/1.1\r\n\r\n", 400, nullptr, nullptr},
        {"HTTP/2.0", "GET /metrics HTTP/2.0\r\n\r\n", 505, nullptr, nullptr},
        {"HTTP/0.9", "GET /metrics HTTP/0.9\r\n\r\n", 505, nullptr, nullptr},
        {"a long line", "GET /" + QByteArray(9000, 'a') + host + "\r\n", 414, nullptr, nullptr},
        {"long fields", "GET /" + host + "X-Pad: " + QByteArray(9000, 'a') + "\r\n\r\n", 431, nullptr, nullptr},
        {"a large body", "POST /" + host + "Content-Length: 100000\r\n\r\n", 413, nullptr, nullptr},
        {"a body without length", "POST /" + host + "Transfer-Encoding: chunked\r\n\r\n", 411, nullptr, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QByteArray answer = Exchange(exporter.Port(), row.request);
        EXPECT_EQ(Status(answer), row.status) << answer.left(200).toStdString();
        if (row.field) {
            EXPECT_TRUE(answer.left(answer.indexOf("\r\n\r\n")).contains(row.field)) << answer.left(300).toStdString();
        }
        if (row.body) {
            EXPECT_TRUE(*row.body ? Body(answer).contains(row.body) : Body(answer).isEmpty());
        }
    }
    // HEAD: the head GET gets, field by field; a kept-alive connection answers requests in order.
    EXPECT_EQ(FieldNames(Exchange(exporter.Port(), "HEAD /metrics" + host + "\r\n")), FieldNames(get));
    const QByteArray two = Exchange(exporter.Port(), "HEAD /metrics HTTP/1.1\r\nHost: a\r\n\r\nGET /" + host + "\r\n");
    EXPECT_EQ(two.count("HTTP/1.1 200 OK"), 2);
    EXPECT_TRUE(two.endsWith("</html>\n"));
    // The server's threads leave SIGTERM to the one that waits for it.
    EXPECT_EQ(exporter.Stop(), 0);
}

// Connections beyond the bound close the ones longest without an answer,
// and the newest is served.
TEST(ExporterWeb, ConnectionsAreBounded)
{
    Plant plant;
    ExporterProcess exporter(plant.config, plant.Path("state"));
    const int bound = ServerLimits().maxConnections;
    std::vector<int> held;
    for (int k = 0; k < bound + 40; ++k) {
        held.push_back(socket(AF_INET, SOCK_STREAM, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(exporter.Port()));
        ASSERT_EQ(::connect(held.back(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    }
    const QByteArray metrics = exporter.Metrics();
    EXPECT_LE(Sample(metrics, "zashchita_exporter_http_connections").value_or(1e9), bound);
    EXPECT_GE(Sample(metrics, "zashchita_exporter_http_connections_closed_total{reason=\"limit\"}").value_or(0), 41);
    timeval timeout{5, 0};
    setsockopt(held.front(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    char byte;
    EXPECT_EQ(recv(held.front(), &byte, 1, 0), 0) << "the oldest connection is still open";
    for (const int fd : held)
        close(fd);
}

TEST(ExporterWeb, WebConfigFaultsAreNamed)
{
    Plant plant;
    MakeCertificates(plant.dir.path());
    const QString example = QStringLiteral(ZASHCHITA_TESTS_DIR "/../packaging/exporter/web-config.example.yml");
    QFile::copy(example, plant.Path("example.yml"));
    QFile::copy(plant.Path("server.crt"), plant.Path("exporter.crt"));
    QFile::copy(plant.Path("server.key"), plant.Path("exporter.key"));
    const QByteArray tls = "tls_server_config:\n  cert_file: server.crt\n  key_file: ";
    const struct {
        const char* name;
        QByteArray text;   // the file; empty: the example shipped
        int status;
        const char* says;
    } rows[] = {
        {"the example", {}, 0, "1 line(s), 1 relay(s)"},
        {"TLS and users", tls + "server.key\nbasic_auth_users: {prometheus: '" + Bcrypt("x") + "'}\n", 0, "1 relay(s)"},
        {"a key not there", tls + "missing.key\n", 1, "/missing.key"},
        {"a key of another certificate", tls + "client.key\n", 1, "client.key is not the key of the certificate"},
        {"a key that is a certificate", tls + "ca.crt\n", 1, "no private key in"},
        {"a key unknown", "rate_limit: {interval: 1s}\n", 2, ":1:1: unknown key \"rate_limit\""},
        {"a key unknown in TLS", tls + "server.key\n  client_allowed_sans: [a]\n", 2, ":4:3: unknown key \"client_allowed_sans\""},
        {"no bcrypt hash", "basic_auth_users:\n  prometheus: secret\n", 2, ":2:15: user \"prometheus\""},
        {"checks without a CA", tls + "server.key\n  client_auth_type: RequireAndVerifyClientCert\n", 2, "client_ca_file is needed"},
        {"a header not taken", "http_server_config: {headers: {X-Frame-Options: allow}}\n", 2, "X-Frame-Options must be one of"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const QString file = row.text.isEmpty() ? plant.Path("example.yml") : plant.Path("web.yml");
        if (!row.text.isEmpty())
            WriteText(file, row.text);
        const Outcome checked = RunProgram(QStringLiteral(ZASHCHITA_EXPORTER_PATH),
                                    {"--config", plant.config, "--web.config.file", file, "--check-config"});
        EXPECT_EQ(checked.status, row.status) << checked.out.toStdString();
        EXPECT_TRUE(checked.out.contains(row.says)) << checked.out.toStdString();
        if (row.status == 0) {   // what the exporter takes, Prometheus' own check takes too
            EXPECT_EQ(RunProgram(QStringLiteral("promtool"), {"check", "web-config", file}).status, 0);
        }
    }
    EXPECT_EQ(RunProgram(QStringLiteral(ZASHCHITA_EXPORTER_PATH),
                  {"--config", plant.config, "--web.config.file", plant.Path("none.yml"), "--check-config"}).status, 1);
}

TEST(ExporterWeb, PrometheusScrapesOverTlsWithBasicAuth)
{
    Plant plant;
    const QString dir = plant.dir.path();
    MakeCertificates(dir);
    WriteText(plant.Path("web.yml"), "tls_server_config:\n  cert_file: server.crt\n  key_file: server.key\n"
                                     "  client_auth_type: RequireAndVerifyClientCert\n  client_ca_file: ca.crt\n"
                                     "basic_auth_users:\n  prometheus: " + Bcrypt("s3cret") + "\n  scada: " + Bcrypt("s3cret") + "\n");
    ExporterProcess exporter(plant.config, plant.Path("state"), {"--web.config.file", plant.Path("web.yml")});
    PrometheusProcess prometheus(QDir(dir), QStringLiteral(
        "  - job_name: plant\n    scheme: https\n    static_configs: [{targets: ['127.0.0.1:%1']}]\n"
        "    basic_auth: {username: prometheus, password: s3cret}\n"
        "    tls_config: {ca_file: %2/ca.crt, cert_file: %2/client.crt, key_file: %2/client.key}\n")
                                                            .arg(exporter.Port()).arg(dir).toUtf8());
    ASSERT_TRUE(WaitFor([&] { return prometheus.Query(QStringLiteral("zashchita_relay_up{job=\"plant\"}")) == std::vector<double>{1}; },
                        30000));
    EXPECT_EQ(prometheus.Query(QStringLiteral("up{job=\"plant\"}")), std::vector<double>{1});

    const QString url = QStringLiteral("https://127.0.0.1:%1/metrics").arg(exporter.Port());
    const QStringList client{"-s", "-o", "/dev/null", "-w", "%{http_code}", "--cacert", dir + "/ca.crt", "--cert",
                             dir + "/client.crt", "--key", dir + "/client.key", url};
    const struct {
        const char* name;
        QStringList args;
        QByteArray code;   // what curl says of the answer's status; "000": none came
    } rows[] = {
        {"the right password", QStringList{"-u", "prometheus:s3cret"} + client, "200"},
        {"a wrong password, after the right one was kept", QStringList{"-u", "prometheus:s3cre"} + client, "401"},
        {"another user", QStringList{"-u", "root:s3cret"} + client, "401"},
        {"credentials of 12 bytes: their last base64 group ends a byte", QStringList{"-u", "scada:s3cret"} + client, "200"},
        {"no credentials", client, "401"},
        {"no client certificate", {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--cacert", dir + "/ca.crt", "-u",
                                   "prometheus:s3cret", url}, "000"},
        {"plain HTTP", {"-s", "-o", "/dev/null", "-w", "%{http_code}", "-u", "prometheus:s3cret",
                        QStringLiteral("http://127.0.0.1:%1/metrics").arg(exporter.Port())}, "000"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(RunProgram(QStringLiteral("curl"), row.args).out, row.code);
    }
    // Garbage on the TLS port: that connection goes, the process serves on.
    QByteArray garbage(4096, '\0');
    for (int k = 0; k < garbage.size(); ++k)
        garbage[k] = char(k * 7919 % 251);
    Exchange(exporter.Port(), "\x16\x03\x01" + garbage);
    EXPECT_EQ(RunProgram(QStringLiteral("curl"), QStringList{"-u", "prometheus:s3cret"} + client).out, "200");
    EXPECT_TRUE(exporter.Running());

    // SIGHUP: another password and no client certificate for the connections
    // that come next; then a key that cannot be read: the running ones stay.
    const auto scrape = [&](const char* user) {
        return RunProgram(QStringLiteral("curl"), {"-s", "--cacert", dir + "/ca.crt", "-u", user, url}).out;
    };
    const QByteArray tls = "tls_server_config:\n  cert_file: server.crt\n  key_file: server";
    WriteText(plant.Path("web.yml"), tls + ".key\nbasic_auth_users:\n  prometheus: " + Bcrypt("n3w") + "\n");
    exporter.Signal(SIGHUP);
    ASSERT_TRUE(WaitFor([&] { return scrape("prometheus:n3w").contains("zashchita_relay_up"); }, 10000));
    EXPECT_EQ(scrape("prometheus:s3cret"), "Unauthorized.\n");
    WriteText(plant.Path("web.yml"), tls + ".none\nbasic_auth_users:\n  prometheus: " + Bcrypt("s3cret") + "\n");
    exporter.Signal(SIGHUP);
    ASSERT_TRUE(WaitFor([&] { return scrape("prometheus:n3w").contains("zashchita_exporter_config_last_reload_successful 0"); },
                        10000));
}
