// The settings file as JSON: the header's keys, then "settings", a list with
// one object per setting on a line of its own, so that two saves compare
// line by line.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cmath>

#include "SettingsFile.h"

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

// Reads `key` of `object` into text and its presence flag.
void Take(const QJsonObject& object, const char* key, QString& text, bool& present)
{
    const QJsonValue value = object.value(QLatin1String(key));
    present = !value.isUndefined();
    if (present)
        text = ScalarText(value);
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
    const QJsonObject root = document.object();
    bool present = false;
    Take(root, "format", raw.format, raw.hasFormat);
    Take(root, "version", raw.version, raw.hasVersion);
    Take(root, "address", raw.address, raw.hasAddress);
    Take(root, "saved", raw.saved, present);
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
        Take(object, "name", entry.name, entry.hasName);
        Take(object, "register", entry.reg, entry.hasReg);
        Take(object, "value", entry.value, entry.hasValue);
        Take(object, "item", entry.item, entry.hasItem);
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
            const int item = ItemForValue(*definition.row, value);
            if (item >= 0 && item == int(value))
                text += ", \"item\": " + Quoted(definition.row->items[item].trimmed());
        }
        text += ", \"unit\": " + Quoted(definition.unit) + ", \"caption\": " + Quoted(definition.caption) + "}";
        text += i + 1 < file.settings.size() ? ",\n" : "\n";
    }
    text += "  ]\n}\n";
    return text;
}
