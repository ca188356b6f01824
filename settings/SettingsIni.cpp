// The settings file as INI: a [file] section with the header, one section per
// setting named by its control, and an [end] section that counts them, so
// a file cut short anywhere is seen as damaged.
#include <QSet>
#include <QStringDecoder>

#include "settings/SettingsFile.h"

namespace {

const QString kHeaderSection = QStringLiteral("file");
const QString kEndSection = QStringLiteral("end");
const QString kCountKey = QStringLiteral("settings");

struct Section {
    QString name;
    int line = 0;
    QList<QPair<QString, QString>> keys;

    bool Has(const QString& key) const
    {
        for (const auto& kv : keys)
            if (kv.first == key)
                return true;
        return false;
    }
    QString Value(const QString& key) const
    {
        for (const auto& kv : keys)
            if (kv.first == key)
                return kv.second;
        return {};
    }
};

// Splits the text into sections; false with errors on a line that is neither
// a section, a key=value, a comment nor blank, or on a name given twice.
bool SplitSections(const QString& text, QList<Section>& sections, QStringList& errors)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    QSet<QString> names;
    for (int i = 0; i < lines.size(); ++i) {
        const int number = i + 1;
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            const QString name = line.mid(1, line.size() - 2).trimmed();
            if (name.isEmpty() || names.contains(name)) {
                errors << QStringLiteral("damaged file, line %1: section [%2] %3")
                              .arg(QString::number(number), name,
                                   name.isEmpty() ? QStringLiteral("has no name") : QStringLiteral("given twice"));
                continue;
            }
            names.insert(name);
            sections.append(Section{name, number, {}});
            continue;
        }
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq <= 0 || sections.isEmpty()) {
            errors << QStringLiteral("damaged file, line %1: \"%2\" is no [section] or key=value in one")
                          .arg(number).arg(line);
            continue;
        }
        const QString key = line.left(eq).trimmed();
        Section& section = sections.last();
        if (section.Has(key)) {
            errors << QStringLiteral("damaged file, line %1: key \"%2\" given twice in [%3]")
                          .arg(number).arg(key, section.name);
            continue;
        }
        section.keys.append({key, line.mid(eq + 1).trimmed()});
    }
    return errors.isEmpty();
}

QByteArray Line(const QString& key, const QString& value)
{
    return (key + QLatin1Char('=') + value).toUtf8() + '\n';
}

}  // namespace

bool ParseIniSettings(const QByteArray& bytes, RawSettingsFile& raw, QStringList& errors)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes);
    if (utf8.hasError()) {
        errors << QStringLiteral("damaged file: not UTF-8 text");
        return false;
    }
    QList<Section> sections;
    if (!SplitSections(text, sections, errors))
        return false;
    if (sections.isEmpty() || sections.first().name != kHeaderSection) {
        errors << QStringLiteral("not a settings file of this program: it must begin with [%1]").arg(kHeaderSection);
        return false;
    }
    if (sections.last().name != kEndSection) {
        errors << QStringLiteral("damaged file: it does not end with [%1]; it may have been cut short")
                      .arg(kEndSection);
        return false;
    }
    const Section& header = sections.first();
    raw.hasFormat = header.Has(QStringLiteral("format"));
    raw.format = header.Value(QStringLiteral("format"));
    raw.hasVersion = header.Has(QStringLiteral("version"));
    raw.version = header.Value(QStringLiteral("version"));
    raw.hasAddress = header.Has(QStringLiteral("address"));
    raw.address = header.Value(QStringLiteral("address"));
    raw.saved = header.Value(QStringLiteral("saved"));

    for (qsizetype i = 1; i + 1 < sections.size(); ++i) {
        const Section& s = sections[i];
        RawSetting entry;
        entry.where = QStringLiteral("line %1").arg(s.line);
        entry.hasName = true;
        entry.name = s.name;
        entry.hasReg = s.Has(QStringLiteral("register"));
        entry.reg = s.Value(QStringLiteral("register"));
        entry.hasValue = s.Has(QStringLiteral("value"));
        entry.value = s.Value(QStringLiteral("value"));
        entry.hasItem = s.Has(QStringLiteral("item"));
        entry.item = s.Value(QStringLiteral("item"));
        raw.settings.push_back(entry);
    }
    const QString count = sections.last().Value(kCountKey);
    if (count != QString::number(raw.settings.size())) {
        errors << QStringLiteral("damaged file: [%1] counts \"%2\" settings, the file holds %3")
                      .arg(kEndSection, count).arg(raw.settings.size());
        return false;
    }
    return true;
}

QByteArray IniSettingsText(const SettingsFile& file)
{
    QByteArray text = "; Защита: the relay's settings. Values are register values; masks are 16 bits,\n"
                      "; bit 15 first. [end] counts the settings: mend it when removing one.\n";
    text += '[' + kHeaderSection.toUtf8() + "]\n";
    text += Line(QStringLiteral("format"), QLatin1String(kSettingsFormatName));
    text += Line(QStringLiteral("version"), QString::number(kSettingsFormatVersion));
    text += Line(QStringLiteral("saved"), file.saved);
    text += Line(QStringLiteral("address"), QString::number(file.address));
    if (!file.port.isEmpty())
        text += Line(QStringLiteral("port"), file.port);
    if (!file.program.isEmpty())
        text += Line(QStringLiteral("program"), file.program);
    for (const SettingValue& s : file.settings) {
        const SettingSpec& definition = *s.definition;
        text += "\n[" + definition.name.toUtf8() + "]\n";
        text += Line(QStringLiteral("caption"), definition.caption);
        text += Line(QStringLiteral("register"), QString::number(definition.reg));
        text += Line(QStringLiteral("unit"), definition.unit);
        if (definition.kind == SettingKind::Choice) {
            const int item = ItemForValue(*definition.entry, s.value);
            if (item >= 0 && item == int(s.value))
                text += Line(QStringLiteral("item"), definition.entry->items[item].trimmed());
        }
        text += Line(QStringLiteral("value"), definition.kind == SettingKind::Mask ? SettingValueText(definition, s.value)
                                                                             : QString::number(s.value));
    }
    text += "\n[" + kEndSection.toUtf8() + "]\n";
    text += Line(kCountKey, QString::number(file.settings.size()));
    return text;
}
