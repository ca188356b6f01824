// The settings file as JSON: the header's keys, then "settings", a list with
// one object per setting on a line of its own, so that two saves compare
// line by line.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>

#include <cmath>
#include <vector>

#include "settings/SettingsFile.h"

namespace {

// Above this a double no longer holds every whole number.
constexpr double kLargestWhole = 1e15;

QByteArray Quoted(const QString& text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2);   // drop the brackets
}

// A JSON scalar as the text the checks read: whole numbers without a
// fraction, strings as they are, anything else as JSON shows it.
QString ScalarText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (std::floor(d) == d && std::fabs(d) < kLargestWhole)
            return QString::number(qlonglong(d));
        return QString::number(d, 'g', 17);
    }
    if (value.isBool())
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    if (value.isNull())
        return QStringLiteral("null");
    return QStringLiteral("(a list or an object)");
}

enum class JsonType { Any, Number, Text };

// Reads `key` of `object` into text and its presence flag; a value not of
// `type` is an error line.
void Take(const QJsonObject& object, const char* key, JsonType type, const QString& where, QString& text,
          bool& present, QStringList& errors)
{
    const QJsonValue value = object.value(QLatin1String(key));
    present = !value.isUndefined();
    if (!present)
        return;
    text = ScalarText(value);
    if ((type == JsonType::Number && !value.isDouble()) || (type == JsonType::Text && !value.isString()))
        errors << QStringLiteral("damaged file: \"%1\"%2 must be %3, not %4")
                      .arg(QLatin1String(key), where.isEmpty() ? QString() : QStringLiteral(" of ") + where,
                           type == JsonType::Number ? QStringLiteral("a number without quotes")
                                                    : QStringLiteral("text in quotes"),
                           value.isString() ? QStringLiteral("\"%1\"").arg(text) : text);
}

// The byte just after the JSON string that starts (with its quote) at `at`.
qsizetype StringEnd(const QByteArray& bytes, qsizetype at)
{
    for (qsizetype i = at + 1; i < bytes.size(); ++i) {
        if (bytes[i] == '\\')
            ++i;
        else if (bytes[i] == '"')
            return i + 1;
    }
    return bytes.size();
}

// The first key given twice in one object of well-formed JSON, with the
// byte where it comes again. Qt's reader would keep the last one quietly.
bool FindRepeatedKey(const QByteArray& bytes, QString& key, qsizetype& offset)
{
    struct Level {
        bool object;
        QSet<QString> keys;
    };
    std::vector<Level> levels;
    bool keyNext = false;   // the next string in an object is a key
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '{' || c == '[') {
            levels.push_back({c == '{', {}});
            keyNext = c == '{';
        } else if (c == '}' || c == ']') {
            levels.pop_back();
            keyNext = false;
        } else if (c == ',') {
            keyNext = !levels.empty() && levels.back().object;
        } else if (c == '"') {
            const qsizetype end = StringEnd(bytes, i);
            if (keyNext) {
                // The key as JSON reads it, escapes undone.
                const QJsonArray decoded = QJsonDocument::fromJson('[' + bytes.mid(i, end - i) + ']').array();
                const QString name = decoded.first().toString();
                if (levels.back().keys.contains(name)) {
                    key = name;
                    offset = i;
                    return true;
                }
                levels.back().keys.insert(name);
                keyNext = false;
            }
            i = end - 1;
        }
    }
    return false;
}

}  // namespace

bool ParseJsonSettings(const QByteArray& bytes, RawSettingsFile& raw, QStringList& errors)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError) {
        errors << QStringLiteral("damaged JSON at byte %1: %2").arg(error.offset).arg(error.errorString());
        return false;
    }
    if (!document.isObject()) {
        errors << QStringLiteral("damaged file: the JSON is not an object");
        return false;
    }
    QString repeated;
    qsizetype offset = 0;
    if (FindRepeatedKey(bytes, repeated, offset)) {
        errors << QStringLiteral("damaged JSON at byte %1: key \"%2\" given twice in one object").arg(offset).arg(repeated);
        return false;
    }
    const QJsonObject root = document.object();
    bool present = false;
    Take(root, "format", JsonType::Text, QString(), raw.format, raw.hasFormat, errors);
    Take(root, "version", JsonType::Number, QString(), raw.version, raw.hasVersion, errors);
    Take(root, "address", JsonType::Number, QString(), raw.address, raw.hasAddress, errors);
    Take(root, "saved", JsonType::Text, QString(), raw.saved, present, errors);
    const QJsonValue list = root.value(QLatin1String("settings"));
    if (!list.isArray()) {
        errors << QStringLiteral("damaged file: no \"settings\" list");
        return false;
    }
    const QJsonArray settings = list.toArray();
    for (qsizetype i = 0; i < settings.size(); ++i) {
        RawSetting entry;
        entry.where = QStringLiteral("settings[%1]").arg(i);
        if (!settings[i].isObject()) {
            errors << QStringLiteral("damaged file: %1 is not an object").arg(entry.where);
            continue;
        }
        const QJsonObject object = settings[i].toObject();
        Take(object, "name", JsonType::Text, entry.where, entry.name, entry.hasName, errors);
        Take(object, "register", JsonType::Number, entry.where, entry.reg, entry.hasReg, errors);
        // A value's type depends on its setting, checked with the setting.
        Take(object, "value", JsonType::Any, entry.where, entry.value, entry.hasValue, errors);
        Take(object, "item", JsonType::Text, entry.where, entry.item, entry.hasItem, errors);
        const QJsonValue value = object.value(QLatin1String("value"));
        entry.valueWritten = value.isString() ? RawSetting::Written::AsText
                             : value.isDouble() ? RawSetting::Written::AsNumber
                                                : RawSetting::Written::Untyped;
        raw.settings.push_back(entry);
    }
    return errors.isEmpty();
}

QByteArray JsonSettingsText(const SettingsFile& file)
{
    QByteArray text = "{\n";
    text += "  \"format\": " + Quoted(QLatin1String(kSettingsFormatName)) + ",\n";
    text += "  \"version\": " + QByteArray::number(kSettingsFormatVersion) + ",\n";
    text += "  \"saved\": " + Quoted(file.saved) + ",\n";
    text += "  \"address\": " + QByteArray::number(file.address) + ",\n";
    if (!file.port.isEmpty())
        text += "  \"port\": " + Quoted(file.port) + ",\n";
    if (!file.program.isEmpty())
        text += "  \"program\": " + Quoted(file.program) + ",\n";
    text += "  \"settings\": [\n";
    for (size_t i = 0; i < file.settings.size(); ++i) {
        const SettingSpec& definition = *file.settings[i].definition;
        const uint16_t value = file.settings[i].value;
        text += "    {\"name\": " + Quoted(definition.name) + ", \"register\": " + QByteArray::number(definition.reg);
        if (definition.kind == SettingKind::Mask)
            text += ", \"value\": " + Quoted(SettingValueText(definition, value));
        else
            text += ", \"value\": " + QByteArray::number(value);
        if (definition.kind == SettingKind::Choice) {
            const int item = ItemForValue(*definition.entry, value);
            if (item >= 0 && item == int(value))
                text += ", \"item\": " + Quoted(definition.entry->items[item].trimmed());
        }
        text += ", \"unit\": " + Quoted(definition.unit) + ", \"caption\": " + Quoted(definition.caption) + "}";
        text += i + 1 < file.settings.size() ? ",\n" : "\n";
    }
    text += "  ]\n}\n";
    return text;
}
