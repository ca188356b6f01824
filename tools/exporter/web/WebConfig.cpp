#include "WebConfig.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <yaml-cpp/yaml.h>

#include <algorithm>

namespace {

constexpr qint64 kMaxFileBytes = 1024 * 1024;

const std::map<std::string, ClientCertPolicy>& ClientAuthTypes()
{
    static const std::map<std::string, ClientCertPolicy> types{
        {"NoClientCert", ClientCertPolicy::None},
        {"RequestClientCert", ClientCertPolicy::Request},
        {"RequireAnyClientCert", ClientCertPolicy::RequireAny},
        {"VerifyClientCertIfGiven", ClientCertPolicy::VerifyIfGiven},
        {"RequireAndVerifyClientCert", ClientCertPolicy::RequireAndVerify},
    };
    return types;
}

const std::map<std::string, TlsVersion>& Versions()
{
    static const std::map<std::string, TlsVersion> versions{
        {"TLS10", TlsVersion::Tls10}, {"TLS11", TlsVersion::Tls11}, {"TLS12", TlsVersion::Tls12}, {"TLS13", TlsVersion::Tls13}};
    return versions;
}

// Go's names of the curves, and OpenSSL's.
const std::map<std::string, std::string>& Curves()
{
    static const std::map<std::string, std::string> curves{
        {"CurveP256", "P-256"}, {"CurveP384", "P-384"}, {"CurveP521", "P-521"}, {"X25519", "X25519"}};
    return curves;
}

// The headers an answer may be given, and the values some of them allow.
const std::map<std::string, std::vector<std::string>>& Headers()
{
    static const std::map<std::string, std::vector<std::string>> headers{
        {"Content-Security-Policy", {}},
        {"X-Frame-Options", {"deny", "sameorigin"}},
        {"X-Content-Type-Options", {"nosniff"}},
        {"X-XSS-Protection", {}},
        {"Strict-Transport-Security", {}},
    };
    return headers;
}

QString Join(const std::vector<std::string>& names)
{
    QStringList list;
    for (const std::string& n : names)
        list << QString::fromStdString(n);
    return list.join(QStringLiteral(", "));
}

template <class Map>
std::vector<std::string> Keys(const Map& map)
{
    std::vector<std::string> keys;
    for (const auto& item : map)
        keys.push_back(item.first);
    return keys;
}

class Reader {
public:
    Reader(const QString& path) : path_(path), folder_(QFileInfo(path).absolutePath()) {}

    QStringList faults;

    void Fault(const YAML::Mark& mark, const QString& what)
    {
        if (mark.is_null() || mark.line < 0)
            faults << QStringLiteral("%1: %2").arg(path_, what);
        else
            faults << QStringLiteral("%1:%2:%3: %4").arg(path_).arg(mark.line + 1).arg(mark.column + 1).arg(what);
    }

    // A map's members, each key known and given once; null is an empty map.
    std::map<std::string, YAML::Node> Members(const YAML::Node& node, const char* what, const std::vector<std::string>& known)
    {
        std::map<std::string, YAML::Node> members;
        if (node.IsNull())
            return members;
        if (!node.IsMap()) {
            Fault(node.Mark(), QStringLiteral("%1 must be a map").arg(QLatin1String(what)));
            return members;
        }
        for (const auto& item : node) {
            const std::string key = item.first.IsScalar() ? item.first.Scalar() : std::string();
            if (!known.empty() && std::find(known.begin(), known.end(), key) == known.end()) {
                Fault(item.first.Mark(), QStringLiteral("unknown key \"%1\" in %2 (known: %3)")
                                             .arg(QString::fromStdString(key), QLatin1String(what), Join(known)));
            } else if (members.count(key)) {
                Fault(item.first.Mark(), QStringLiteral("key \"%1\" given twice in %2")
                                             .arg(QString::fromStdString(key), QLatin1String(what)));
            } else {
                members.emplace(key, item.second);
            }
        }
        return members;
    }

    // A scalar without control characters (a value that goes into an answer's head, or a name).
    bool Text(const YAML::Node& node, const char* what, std::string& out)
    {
        const bool scalar = node.IsScalar();
        const std::string text = scalar ? node.Scalar() : std::string();
        if (!scalar || std::any_of(text.begin(), text.end(), [](char c) { return (unsigned char)c < 0x20 || c == 0x7f; })) {
            Fault(node.Mark(), QStringLiteral("%1 must be a line of text").arg(QLatin1String(what)));
            return false;
        }
        out = text;
        return true;
    }

    // A file name, relative to the configuration's folder.
    bool File(const YAML::Node& node, const char* what, std::string& out)
    {
        std::string name;
        if (!Text(node, what, name))
            return false;
        out = name.empty() ? name : QDir(folder_).filePath(QString::fromStdString(name)).toStdString();
        return true;
    }

    bool Bool(const YAML::Node& node, const char* what, bool& out)
    {
        try {
            out = node.as<bool>();
            return true;
        } catch (const YAML::Exception&) {
            Fault(node.Mark(), QStringLiteral("%1 must be true or false").arg(QLatin1String(what)));
            return false;
        }
    }

    template <class T>
    bool OneOf(const YAML::Node& node, const char* what, const std::map<std::string, T>& names, T& out)
    {
        std::string text;
        if (!Text(node, what, text))
            return false;
        const auto at = names.find(text);
        if (at == names.end()) {
            Fault(node.Mark(), QStringLiteral("%1 must be one of %2 (not \"%3\")")
                                   .arg(QLatin1String(what), Join(Keys(names)), QString::fromStdString(text)));
            return false;
        }
        out = at->second;
        return true;
    }

    std::vector<std::string> List(const YAML::Node& node, const char* what)
    {
        std::vector<std::string> items;
        if (node.IsNull())
            return items;
        if (!node.IsSequence()) {
            Fault(node.Mark(), QStringLiteral("%1 must be a list").arg(QLatin1String(what)));
            return items;
        }
        for (const YAML::Node& item : node) {
            std::string text;
            if (Text(item, what, text))
                items.push_back(text);
        }
        return items;
    }

    void Tls(const YAML::Node& node, WebConfig& config)
    {
        const auto m = Members(node, "tls_server_config",
                               {"cert_file", "key_file", "client_auth_type", "client_ca_file", "min_version", "max_version",
                                "cipher_suites", "prefer_server_cipher_suites", "curve_preferences"});
        if (m.empty())
            return;
        TlsSettings tls;
        if (m.count("cert_file"))
            File(m.at("cert_file"), "cert_file", tls.certFile);
        if (m.count("key_file"))
            File(m.at("key_file"), "key_file", tls.keyFile);
        if (m.count("client_ca_file"))
            File(m.at("client_ca_file"), "client_ca_file", tls.clientCaFile);
        if (m.count("client_auth_type"))
            OneOf(m.at("client_auth_type"), "client_auth_type", ClientAuthTypes(), tls.clientCerts);
        if (m.count("min_version"))
            OneOf(m.at("min_version"), "min_version", Versions(), tls.minVersion);
        if (m.count("max_version"))
            OneOf(m.at("max_version"), "max_version", Versions(), tls.maxVersion);
        if (m.count("cipher_suites"))
            tls.cipherSuites = List(m.at("cipher_suites"), "a cipher suite");
        if (m.count("prefer_server_cipher_suites"))
            Bool(m.at("prefer_server_cipher_suites"), "prefer_server_cipher_suites", tls.preferServerCipherSuites);
        if (m.count("curve_preferences")) {
            const YAML::Node& curves = m.at("curve_preferences");
            if (!curves.IsNull() && !curves.IsSequence())
                Fault(curves.Mark(), QStringLiteral("curve_preferences must be a list"));
            for (size_t k = 0; curves.IsSequence() && k < curves.size(); ++k) {
                std::string curve;
                if (OneOf(curves[k], "a curve", Curves(), curve))
                    tls.curves.push_back(curve);
            }
        }

        const YAML::Mark mark = node.Mark();
        if (tls.certFile.empty() || tls.keyFile.empty())
            Fault(mark, QStringLiteral("tls_server_config needs cert_file and key_file"));
        const bool verifies = tls.clientCerts == ClientCertPolicy::VerifyIfGiven
                              || tls.clientCerts == ClientCertPolicy::RequireAndVerify;
        if (verifies && tls.clientCaFile.empty())
            Fault(mark, QStringLiteral("client_auth_type checks client certificates: client_ca_file is needed"));
        if (!tls.clientCaFile.empty() && tls.clientCerts == ClientCertPolicy::None)
            Fault(mark, QStringLiteral("client_ca_file is given but client_auth_type asks no client certificate"));
        if (tls.minVersion > tls.maxVersion)
            Fault(mark, QStringLiteral("min_version is above max_version"));
        config.tls = tls;
    }

    void Http(const YAML::Node& node, WebConfig& config)
    {
        const auto m = Members(node, "http_server_config", {"http2", "headers"});
        bool http2 = true;   // taken; answers are HTTP/1.1, which every client that offers HTTP/2 speaks too
        if (m.count("http2"))
            Bool(m.at("http2"), "http2", http2);
        if (!m.count("headers"))
            return;
        for (const auto& [name, value] : Members(m.at("headers"), "headers", Keys(Headers()))) {
            std::string text;
            if (!Text(value, name.c_str(), text) || text.empty())
                continue;
            const std::vector<std::string>& allowed = Headers().at(name);
            std::string lower = text;
            std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
            if (!allowed.empty() && std::find(allowed.begin(), allowed.end(), lower) == allowed.end()) {
                Fault(value.Mark(), QStringLiteral("%1 must be one of %2 (not \"%3\")")
                                        .arg(QString::fromStdString(name), Join(allowed), QString::fromStdString(text)));
                continue;
            }
            config.headers.emplace_back(name, text);
        }
    }

    void Users(const YAML::Node& node, WebConfig& config)
    {
        // $2a$, $2b$ or $2y$, a cost of 4 to 31, 22 characters of salt and 31 of hash.
        static const QRegularExpression bcrypt(QStringLiteral("^\\$2[aby]\\$(0[4-9]|[12][0-9]|3[01])\\$[./A-Za-z0-9]{53}$"));
        for (const auto& [user, hash] : Members(node, "basic_auth_users", {})) {
            std::string name, text;
            if (!Text(YAML::Node(user), "a user's name", name))
                continue;
            if (name.empty() || name.find(':') != std::string::npos) {
                Fault(hash.Mark(), QStringLiteral("user \"%1\": a name must be given and hold no \":\"").arg(QString::fromStdString(user)));
                continue;
            }
            if (!Text(hash, "a password hash", text) || !bcrypt.match(QString::fromStdString(text)).hasMatch()) {
                Fault(hash.Mark(), QStringLiteral("user \"%1\": the password must be a bcrypt hash ($2a$, $2b$ or $2y$, 60 characters)")
                                       .arg(QString::fromStdString(user)));
                continue;
            }
            config.users.emplace(name, text);
        }
    }

private:
    QString path_;
    QString folder_;
};

}  // namespace

WebConfigReading ReadWebConfigFile(const QString& path)
{
    WebConfigReading reading;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        reading.unreadable = true;
        reading.faults << QStringLiteral("cannot read the web configuration %1: %2").arg(path, file.errorString());
        return reading;
    }
    if (file.size() > kMaxFileBytes) {
        reading.faults << QStringLiteral("%1: over %2 bytes").arg(path).arg(kMaxFileBytes);
        return reading;
    }
    return ReadWebConfigText(path, file.readAll().toStdString());
}

WebConfigReading ReadWebConfigText(const QString& path, const std::string& text)
{
    WebConfigReading reading;
    Reader reader(path);
    YAML::Node root;
    try {
        root = YAML::Load(text);
    } catch (const YAML::Exception& e) {
        reader.Fault(e.mark, QString::fromStdString(e.msg));
        reading.faults = reader.faults;
        return reading;
    }
    const auto m = reader.Members(root, "the web configuration", {"tls_server_config", "http_server_config", "basic_auth_users"});
    if (m.count("tls_server_config"))
        reader.Tls(m.at("tls_server_config"), reading.config);
    if (m.count("http_server_config"))
        reader.Http(m.at("http_server_config"), reading.config);
    if (m.count("basic_auth_users"))
        reader.Users(m.at("basic_auth_users"), reading.config);
    reading.faults = reader.faults;
    return reading;
}
