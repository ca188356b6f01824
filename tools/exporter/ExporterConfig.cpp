#include "ExporterConfig.h"

#include <QFile>
#include <QRegularExpression>
#include <QSet>

#include <yaml-cpp/yaml.h>

#include "YamlSyntax.h"
#include "link/Endpoint.h"

namespace {

constexpr int kMinIntervalMs = 0;
constexpr int kMaxIntervalMs = 3600 * 1000;
constexpr int kMinTimeoutMs = 20;
constexpr int kMaxTimeoutMs = 10000;
constexpr int kMaxNameLength = 64;
constexpr int kMaxLabels = 16;
// A relay's own address setting holds 1 to 246 (247 is left to other devices on the bus).
constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 246;
// Modbus TCP unit ids a relay may be served under; the age bounds of its blocks.
constexpr int kFirstUnit = 1;
constexpr int kLastUnit = 247;
constexpr int kMinMaxAgeMs = 100;
constexpr int kMaxMaxAgeMs = 3600 * 1000;

// The labels the exporter sets itself; a relay's own labels may not take them.
const QSet<QString>& ReservedLabels()
{
    static const QSet<QString> names{QStringLiteral("line"), QStringLiteral("relay"), QStringLiteral("address"),
                                     QStringLiteral("phase"), QStringLiteral("flag"), QStringLiteral("cause"),
                                     QStringLiteral("job"), QStringLiteral("instance"),
                                     QStringLiteral("record"), QStringLiteral("relay_time"), QStringLiteral("code")};
    return names;
}

// Control characters, and those that steer or break text without being
// seen: a name is shown in logs and on dashboards as it is written.
bool IsControl(uint c)
{
    switch (QChar::category(char32_t(c))) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

// A name as a message may show it: its control characters written \uXXXX.
QString Shown(const QString& text)
{
    QString shown;
    for (const uint c : text.toUcs4()) {
        if (IsControl(c))
            shown += QStringLiteral("\\u%1").arg(c, 4, 16, QLatin1Char('0'));
        else
            shown += QString::fromUcs4(reinterpret_cast<const char32_t*>(&c), 1);
    }
    return shown;
}

class Reader {
public:
    explicit Reader(const QString& path) : path_(path) {}

    void Fault(const YAML::Mark& mark, const QString& what)
    {
        if (mark.is_null() || mark.line < 0)
            faults_ << QStringLiteral("%1: %2").arg(path_, what);
        else
            faults_ << QStringLiteral("%1:%2:%3: %4").arg(path_).arg(mark.line + 1).arg(mark.column + 1).arg(what);
    }

    // The keys of a map, each once and each known; returns the values by key.
    std::map<std::string, YAML::Node> Members(const YAML::Node& node, const char* what,
                                              const std::vector<std::string>& known)
    {
        std::map<std::string, YAML::Node> members;
        if (!node.IsMap()) {
            Fault(node.Mark(), QStringLiteral("%1 must be a map").arg(QLatin1String(what)));
            return members;
        }
        for (const auto& item : node) {
            const std::string key = item.first.IsScalar() ? item.first.Scalar() : std::string();
            if (std::find(known.begin(), known.end(), key) == known.end()) {
                QStringList names;
                for (const std::string& k : known)
                    names << QString::fromStdString(k);
                Fault(item.first.Mark(), QStringLiteral("unknown key \"%1\" in %2 (known: %3)")
                                             .arg(QString::fromStdString(key), QLatin1String(what), names.join(QStringLiteral(", "))));
                continue;
            }
            if (members.count(key)) {
                Fault(item.first.Mark(), QStringLiteral("key \"%1\" given twice in %2")
                                             .arg(QString::fromStdString(key), QLatin1String(what)));
                continue;
            }
            members.emplace(key, item.second);
        }
        return members;
    }

    // A name: 1 to 64 characters (not bytes) of any script, UTF-8, none of
    // them a control character (nor a format or line-breaking one).
    bool Name(const YAML::Node& node, const char* what, QString& out)
    {
        const std::string raw = node.IsScalar() ? node.Scalar() : std::string();
        const QString text = QString::fromStdString(raw);
        const QList<uint> characters = text.toUcs4();
        QString why;
        if (characters.isEmpty())
            why = QStringLiteral("it is empty");
        else if (text.toStdString() != raw)
            why = QStringLiteral("it is not UTF-8");
        else if (characters.size() > kMaxNameLength)
            why = QStringLiteral("it has %1 characters").arg(characters.size());
        for (const uint c : characters)
            if (why.isEmpty() && IsControl(c))
                why = QStringLiteral("it holds the control character U+%1")
                          .arg(QString::number(c, 16).toUpper().rightJustified(4, QLatin1Char('0')));
        if (!why.isEmpty()) {
            Fault(node.Mark(), QStringLiteral("%1 must be 1 to %2 characters, none of them a control character "
                                              "(not \"%3\": %4)")
                                   .arg(QLatin1String(what)).arg(kMaxNameLength).arg(Shown(text), why));
            return false;
        }
        out = text;
        return true;
    }

    bool Int(const YAML::Node& node, const char* what, int lo, int hi, int& out)
    {
        static const QRegularExpression pattern(QStringLiteral("^[0-9]{1,9}$"));
        const QString text = node.IsScalar() ? QString::fromStdString(node.Scalar()) : QString();
        const int value = text.toInt();
        if (!pattern.match(text).hasMatch() || value < lo || value > hi) {
            Fault(node.Mark(), QStringLiteral("%1 must be a whole number from %2 to %3 (not \"%4\")")
                                   .arg(QLatin1String(what)).arg(lo).arg(hi).arg(text));
            return false;
        }
        out = value;
        return true;
    }

    // A time with its unit: "500ms", "2s", "1.5s", "2m", "1h"; whole
    // milliseconds. A bare number is refused: its unit would be a guess.
    bool Duration(const YAML::Node& node, const char* what, int lo, int hi, int& outMs)
    {
        static const QRegularExpression pattern(QStringLiteral("^([0-9]{1,7})(?:\\.([0-9]{1,3}))?(ms|s|m|h)$"));
        static const QRegularExpression bare(QStringLiteral("^[0-9]+(\\.[0-9]*)?$"));
        const QString text = node.IsScalar() ? QString::fromStdString(node.Scalar()).trimmed() : QString();
        if (bare.match(text).hasMatch()) {
            Fault(node.Mark(), QStringLiteral("%1: \"%2\" needs a unit, e.g. 1s or 500ms").arg(QLatin1String(what), text));
            return false;
        }
        const QRegularExpressionMatch m = pattern.match(text);
        const QString unit = m.captured(3);
        const qint64 unitMs = unit == QLatin1String("h") ? 3600000 : unit == QLatin1String("m") ? 60000
                              : unit == QLatin1String("s") ? 1000 : 1;
        const QString fraction = m.captured(2);
        qint64 scale = 1;
        for (qsizetype k = 0; k < fraction.size(); ++k)
            scale *= 10;
        const qint64 thousandths = m.captured(1).toLongLong() * unitMs * scale + fraction.toLongLong() * unitMs;
        const qint64 ms = thousandths / scale;
        if (!m.hasMatch() || thousandths % scale != 0 || ms < lo || ms > hi) {
            Fault(node.Mark(), QStringLiteral("%1 must be a time from %2 ms to %3 s in whole milliseconds, as 500ms, "
                                              "2s or 1m (not \"%4\")")
                                   .arg(QLatin1String(what)).arg(lo).arg(hi / 1000).arg(text));
            return false;
        }
        outMs = int(ms);
        return true;
    }

    void Port(const YAML::Node& node, QString& out)
    {
        const QString text = node.IsScalar() ? QString::fromStdString(node.Scalar()).trimmed() : QString();
        QString reason;
        if (text.isEmpty())
            Fault(node.Mark(), QStringLiteral("port must name a serial device, COMn, tcp://HOST:PORT or modbus-tcp://HOST"));
        else if (NamesEndpoint(text) && !ParseEndpoint(text, &reason))
            Fault(node.Mark(), reason.startsWith(QLatin1Char('"') + text + QLatin1Char('"'))
                                   ? QStringLiteral("port %1").arg(reason)
                                   : QStringLiteral("port \"%1\": %2").arg(text, reason));
        else
            out = text;
    }

    void Labels(const YAML::Node& node, std::map<QString, QString>& out)
    {
        static const QRegularExpression pattern(QStringLiteral("^[a-zA-Z_][a-zA-Z0-9_]{0,63}$"));
        if (!node.IsMap()) {
            Fault(node.Mark(), QStringLiteral("labels must be a map of label names to values"));
            return;
        }
        for (const auto& item : node) {
            const QString key = item.first.IsScalar() ? QString::fromStdString(item.first.Scalar()) : QString();
            if (!pattern.match(key).hasMatch() || key.startsWith(QLatin1String("__"))) {
                Fault(item.first.Mark(), QStringLiteral("label name \"%1\" is not a Prometheus label name").arg(key));
            } else if (ReservedLabels().contains(key)) {
                Fault(item.first.Mark(), QStringLiteral("label \"%1\" is the exporter's own").arg(key));
            } else if (out.count(key)) {
                Fault(item.first.Mark(), QStringLiteral("label \"%1\" given twice").arg(key));
            } else if (!item.second.IsScalar() || item.second.Scalar().size() > 256) {
                Fault(item.second.Mark(), QStringLiteral("label \"%1\" must have a text of at most 256 bytes").arg(key));
            } else if (int(out.size()) >= kMaxLabels) {
                Fault(item.first.Mark(), QStringLiteral("more than %1 labels").arg(kMaxLabels));
            } else {
                out.emplace(key, QString::fromStdString(item.second.Scalar()));
            }
        }
    }

    void Relay(const YAML::Node& node, LineConfig& line, QSet<int>& addresses, QSet<QString>& names)
    {
        auto m = Members(node, "a relay", {"name", "address", "labels", "unit"});
        if (!node.IsMap())
            return;
        RelayConfig relay;
        if (!m.count("name") || !m.count("address")) {
            Fault(node.Mark(), QStringLiteral("a relay needs a name and an address"));
            return;
        }
        const bool named = Name(m["name"], "a relay's name", relay.name);
        const bool addressed = Int(m["address"], "a relay's address", kFirstAddress, kLastAddress, relay.address);
        if (m.count("labels"))
            Labels(m["labels"], relay.labels);
        if (addressed && addresses.contains(relay.address))
            Fault(m["address"].Mark(), QStringLiteral("address %1 is given twice on line \"%2\"").arg(relay.address).arg(line.name));
        if (named && names.contains(relay.name))
            Fault(m["name"].Mark(), QStringLiteral("relay \"%1\" is given twice on line \"%2\"").arg(relay.name, line.name));
        addresses.insert(relay.address);
        names.insert(relay.name);
        if (m.count("unit"))
            Unit(m["unit"], relay, line);
        line.relays.push_back(relay);
    }

    // A relay's unit id, unique across the file: a clash names both places.
    void Unit(const YAML::Node& node, RelayConfig& relay, const LineConfig& line)
    {
        if (!Int(node, "a relay's unit", kFirstUnit, kLastUnit, relay.unit))
            return;
        const QString who = QStringLiteral("relay \"%1\" on line \"%2\"").arg(relay.name, line.name);
        if (const auto first = units_.find(relay.unit); first != units_.end())
            Fault(node.Mark(), QStringLiteral("unit %1 of %2 is given already at %3:%4 to %5")
                                   .arg(relay.unit).arg(who).arg(first->second.first.line + 1)
                                   .arg(first->second.first.column + 1).arg(first->second.second));
        else
            units_.emplace(relay.unit, std::make_pair(node.Mark(), who));
    }

    // Where the Modbus TCP server listens, and the ages it serves: one time
    // for the current parameters, or a map of current, settings and records.
    void Modbus(std::map<std::string, YAML::Node>& m, ExporterConfig& config)
    {
        if (m.count("modbus_listen")) {
            static const QRegularExpression pattern(QStringLiteral("^[^\\s]+:([0-9]{1,5})$"));
            const YAML::Node node = m["modbus_listen"];
            const QString text = node.IsScalar() ? QString::fromStdString(node.Scalar()).trimmed() : QString();
            const QRegularExpressionMatch match = pattern.match(text);
            if (!match.hasMatch() || match.captured(1).toInt() > 65535)
                Fault(node.Mark(), QStringLiteral("modbus_listen must be HOST:PORT (not \"%1\")").arg(text));
            else
                config.modbusListen = text;
            if (units_.empty())
                Fault(node.Mark(), QStringLiteral("modbus_listen is given, but no relay has a unit"));
        }
        if (!m.count("modbus_max_age"))
            return;
        const YAML::Node ages = m["modbus_max_age"];
        if (!ages.IsMap()) {
            Duration(ages, "modbus_max_age", kMinMaxAgeMs, kMaxMaxAgeMs, config.modbusCurrentMaxAgeMs);
            return;
        }
        auto a = Members(ages, "modbus_max_age", {"current", "settings", "records"});
        const std::pair<const char*, int*> keys[] = {{"current", &config.modbusCurrentMaxAgeMs},
                                                     {"settings", &config.modbusSettingsMaxAgeMs},
                                                     {"records", &config.modbusRecordsMaxAgeMs}};
        for (const auto& [key, into] : keys)
            if (a.count(key))
                Duration(a[key], "modbus_max_age", kMinMaxAgeMs, kMaxMaxAgeMs, *into);
    }

    void Line(const YAML::Node& node, ExporterConfig& config, QSet<QString>& lineNames, QSet<QString>& ports)
    {
        auto m = Members(node, "a line", {"name", "port", "poll_interval", "timeout", "relays"});
        if (!node.IsMap())
            return;
        LineConfig line;
        for (const char* needed : {"name", "port", "relays"})
            if (!m.count(needed))
                Fault(node.Mark(), QStringLiteral("a line needs \"%1\"").arg(QLatin1String(needed)));
        if (m.count("name") && Name(m["name"], "a line's name", line.name) && lineNames.contains(line.name))
            Fault(m["name"].Mark(), QStringLiteral("line \"%1\" is given twice").arg(line.name));
        lineNames.insert(line.name);
        if (m.count("port")) {
            Port(m["port"], line.port);
            if (!line.port.isEmpty() && ports.contains(line.port))
                Fault(m["port"].Mark(), QStringLiteral("port \"%1\" is given to two lines").arg(line.port));
            ports.insert(line.port);
        }
        if (m.count("poll_interval"))
            Duration(m["poll_interval"], "poll_interval", kMinIntervalMs, kMaxIntervalMs, line.pollIntervalMs);
        if (m.count("timeout"))
            Duration(m["timeout"], "timeout", kMinTimeoutMs, kMaxTimeoutMs, line.timeoutMs);
        if (m.count("relays")) {
            const YAML::Node relays = m["relays"];
            if (!relays.IsSequence() || relays.size() == 0 || relays.size() > size_t(kMaxRelaysPerLine)) {
                Fault(relays.Mark(), QStringLiteral("relays must be a list of 1 to %1 relays").arg(kMaxRelaysPerLine));
            } else {
                QSet<int> addresses;
                QSet<QString> names;
                for (const YAML::Node& relay : relays)
                    Relay(relay, line, addresses, names);
            }
        }
        config.lines.push_back(line);
    }

    void Top(const YAML::Node& root, ExporterConfig& config)
    {
        if (!root.IsDefined() || root.IsNull()) {
            Fault(YAML::Mark::null_mark(), QStringLiteral("the file is empty: it needs \"lines\""));
            return;
        }
        auto m = Members(root, "the file", {"lines", "modbus_listen", "modbus_max_age"});
        if (!root.IsMap())
            return;
        if (!m.count("lines")) {
            Fault(root.Mark(), QStringLiteral("the file needs \"lines\""));
            return;
        }
        const YAML::Node lines = m["lines"];
        if (!lines.IsSequence() || lines.size() == 0 || lines.size() > size_t(kMaxLines)) {
            Fault(lines.Mark(), QStringLiteral("lines must be a list of 1 to %1 lines").arg(kMaxLines));
            return;
        }
        QSet<QString> lineNames;
        QSet<QString> ports;
        for (const YAML::Node& line : lines)
            Line(line, config, lineNames, ports);
        Modbus(m, config);
    }

    QStringList faults_;

private:
    std::map<int, std::pair<YAML::Mark, QString>> units_;   // unit id: where it was given, and to whom
    QString path_;
};

}  // namespace

ConfigReading ReadConfigText(const QString& path, const std::string& text)
{
    ConfigReading reading;
    Reader reader(path);
    if (qint64(text.size()) > kMaxConfigBytes) {
        reader.Fault(YAML::Mark::null_mark(), QStringLiteral("the file is larger than %1 bytes").arg(kMaxConfigBytes));
    } else {
        try {
            reader.Top(YAML::Load(text), reading.config);
        } catch (const YAML::Exception& e) {
            const YamlSyntaxFault fault = LocateYamlFault(text, e);
            reader.Fault(fault.mark, QString::fromStdString(fault.what));
        }
    }
    reading.faults = reader.faults_;
    return reading;
}

ConfigReading ReadConfigFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        ConfigReading reading;
        reading.faults << QStringLiteral("%1: cannot read: %2").arg(path, file.errorString());
        return reading;
    }
    // One byte past the limit is enough to know the file is too large.
    const QByteArray bytes = file.read(kMaxConfigBytes + 1);
    return ReadConfigText(path, bytes.toStdString());
}

QString ConfigSummary(const QString& path, const ExporterConfig& config)
{
    int relays = 0;
    for (const LineConfig& line : config.lines)
        relays += int(line.relays.size());
    return QStringLiteral("%1: %2 line(s), %3 relay(s)").arg(path).arg(config.lines.size()).arg(relays);
}
