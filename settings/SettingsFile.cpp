#include "settings/SettingsFile.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "settings/AtomicFile.h"
#include "exchanges/BitText.h"

namespace {

const char kUtf8Mark[] = "\xEF\xBB\xBF";

constexpr int kMinAddress = 1;
constexpr int kMaxAddress = 247;
constexpr qlonglong kLargestRegisterValue = 0xFFFF;

// A whole decimal number, perhaps negative (to be refused by its range
// rather than called no number); leading and trailing blanks are not allowed.
bool ParseWhole(const QString& text, qlonglong& out)
{
    static const QRegularExpression whole(QStringLiteral("^-?[0-9]{1,12}$"));
    if (!whole.match(text).hasMatch())
        return false;
    out = text.toLongLong();
    return true;
}

QString Place(const RawSetting& raw)
{
    return raw.hasName && !raw.name.isEmpty() ? QStringLiteral("%1 (%2)").arg(raw.name, raw.where) : raw.where;
}

void CheckHeader(const RawSettingsFile& raw, SettingsFile& file, QStringList& errors)
{
    if (!raw.hasFormat || raw.format != QLatin1String(kSettingsFormatName)) {
        errors << QStringLiteral("not a settings file of this program: \"format\" must be \"%1\"")
                      .arg(QLatin1String(kSettingsFormatName));
        return;
    }
    qlonglong number = 0;
    if (!raw.hasVersion || !ParseWhole(raw.version, number) || number != kSettingsFormatVersion)
        errors << QStringLiteral("file version \"%1\" is not known; this program reads version %2")
                      .arg(raw.version).arg(kSettingsFormatVersion);
    if (raw.hasAddress) {
        if (!ParseWhole(raw.address, number) || number < kMinAddress || number > kMaxAddress)
            errors << QStringLiteral("\"address\" must be a slave address from %1 to %2, not \"%3\"")
                          .arg(kMinAddress).arg(kMaxAddress).arg(raw.address);
        else
            file.address = int(number);
    }
    file.saved = raw.saved;
}

// The register value of one setting, or an error line. Any register value
// is taken: the file holds what the relay held.
bool CheckValue(const RawSetting& raw, const SettingSpec& definition, uint16_t& value, QString& error)
{
    if (definition.kind == SettingKind::Mask) {
        if (raw.valueWritten == RawSetting::Written::AsNumber || !IsBitText(raw.value)) {
            error = QStringLiteral("%1: \"%2\" is no mask; a mask is written as 16 bits, e.g. "
                                   "\"00000000 00000000\"").arg(Place(raw), raw.value);
            return false;
        }
        value = BitTextToWord(raw.value);
        return true;
    }
    qlonglong number = 0;
    if (!ParseWhole(raw.value, number)) {
        error = QStringLiteral("%1: \"%2\" is not a whole number").arg(Place(raw), raw.value);
        return false;
    }
    if (raw.valueWritten == RawSetting::Written::AsText) {
        error = QStringLiteral("%1: \"%2\" is text; a value is written as a number, without quotes")
                    .arg(Place(raw), raw.value);
        return false;
    }
    if (number < 0 || number > kLargestRegisterValue) {
        error = QStringLiteral("%1: %2 is out of range 0 to %3").arg(Place(raw)).arg(number).arg(kLargestRegisterValue);
        return false;
    }
    value = uint16_t(number);
    if (definition.kind == SettingKind::Choice && raw.hasItem) {
        // The item beside the value is for the reader; one edited without
        // the other would leave the relay otherwise than the reader thinks.
        const QString item = definition.entry->items.value(int(value)).trimmed();
        if (raw.item.trimmed() != item) {
            error = QStringLiteral("%1: value %2 is item \"%3\", but the file names \"%4\"; make them agree "
                                   "or drop the item").arg(Place(raw)).arg(value).arg(item, raw.item.trimmed());
            return false;
        }
    }
    return true;
}

void CheckSettings(const RawSettingsFile& raw, SettingsFile& file, QStringList& errors)
{
    if (raw.settings.empty())
        errors << QStringLiteral("the file holds no settings");
    QSet<QString> seen;
    for (const RawSetting& entry : raw.settings) {
        if (!entry.hasName || entry.name.isEmpty()) {
            errors << QStringLiteral("%1: no name").arg(entry.where);
            continue;
        }
        const SettingSpec* definition = FindSetting(entry.name);
        if (!definition) {
            errors << QStringLiteral("%1: no setting has that name").arg(Place(entry));
            continue;
        }
        if (seen.contains(entry.name)) {
            errors << QStringLiteral("%1: given twice").arg(Place(entry));
            continue;
        }
        seen.insert(entry.name);
        qlonglong reg = 0;
        if (entry.hasReg && (!ParseWhole(entry.reg, reg) || reg != definition->reg)) {
            errors << QStringLiteral("%1: register \"%2\" in the file, but %3 is register %4")
                          .arg(Place(entry), entry.reg, definition->name).arg(definition->reg);
            continue;
        }
        if (!entry.hasValue) {
            errors << QStringLiteral("%1: no value").arg(Place(entry));
            continue;
        }
        SettingValue checked{definition, 0};
        QString error;
        if (!CheckValue(entry, *definition, checked.value, error)) {
            errors << error;
            continue;
        }
        file.settings.push_back(checked);
    }
    std::stable_sort(file.settings.begin(), file.settings.end(),
                     [](const SettingValue& a, const SettingValue& b) { return a.definition->reg < b.definition->reg; });
}

// The whole of a regular file of sane size. Opened without waiting, so that
// a FIFO is refused rather than waited on, and never read past the limit.
bool ReadRegularFile(const QString& path, QByteArray& bytes, QStringList& errors)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        errors << QStringLiteral("cannot read it: %1").arg(SystemReason(errno));
        return false;
    }
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0;
    if (!ok)
        errors << QStringLiteral("cannot read it: %1").arg(SystemReason(errno));
    else if (!S_ISREG(st.st_mode))
        errors << (S_ISDIR(st.st_mode) ? QStringLiteral("it is a directory, not a settings file")
                                       : QStringLiteral("it is not a regular file (a pipe or a device); a settings "
                                                        "file is read only from a regular file"));
    else if (st.st_size > kMaxSettingsFileBytes)
        errors << QStringLiteral("it is %1 bytes long; a settings file is at most %2 bytes")
                      .arg(qlonglong(st.st_size)).arg(kMaxSettingsFileBytes);
    ok = errors.isEmpty();
    // To the end, but never past the limit: the file may grow while read.
    char buffer[64 * 1024];
    while (ok) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            errors << QStringLiteral("cannot read it: %1").arg(SystemReason(errno));
            ok = false;
        } else if (n == 0) {
            break;
        } else if (bytes.size() + n > kMaxSettingsFileBytes) {
            errors << QStringLiteral("it is longer than %1 bytes, the most a settings file holds")
                          .arg(kMaxSettingsFileBytes);
            ok = false;
        } else {
            bytes.append(buffer, n);
        }
    }
    ::close(fd);
    return ok;
}

}  // namespace

SettingsFormat FormatForPath(const QString& path)
{
    return QFileInfo(path).suffix().compare(QLatin1String("ini"), Qt::CaseInsensitive) == 0 ? SettingsFormat::Ini
                                                                                              : SettingsFormat::Json;
}

SettingsFormat FormatForContent(const QByteArray& bytes, const QString& path)
{
    qsizetype at = bytes.startsWith(kUtf8Mark) ? qsizetype(sizeof kUtf8Mark - 1) : 0;
    while (at < bytes.size() && QChar::isSpace(uchar(bytes[at])))
        ++at;
    if (at == bytes.size())
        return FormatForPath(path);
    return bytes[at] == '{' ? SettingsFormat::Json : SettingsFormat::Ini;
}

SettingsFileRead ParseSettings(const QByteArray& bytes, SettingsFormat format)
{
    SettingsFileRead read;
    RawSettingsFile raw;
    const bool parsed = format == SettingsFormat::Ini ? ParseIniSettings(bytes, raw, read.errors)
                                                      : ParseJsonSettings(bytes, raw, read.errors);
    if (!parsed) {
        read.syntaxBroken = true;
        return read;
    }
    CheckHeader(raw, read.file, read.errors);
    if (!read.errors.isEmpty())
        return read;
    CheckSettings(raw, read.file, read.errors);
    read.ok = read.errors.isEmpty();
    return read;
}

SettingsFileRead ReadSettingsFile(const QString& path)
{
    SettingsFileRead read;
    QByteArray bytes;
    if (!ReadRegularFile(path, bytes, read.errors))
        return read;
    const SettingsFormat format = FormatForContent(bytes, path);
    read = ParseSettings(bytes, format);
    if (read.syntaxBroken && !read.errors.isEmpty())
        read.errors.front() += format == SettingsFormat::Json
            ? QStringLiteral(" (read as JSON, for it begins with \"{\")")
            : QStringLiteral(" (read as INI, for it does not begin with \"{\")");
    return read;
}

QByteArray SettingsText(const SettingsFile& file, SettingsFormat format)
{
    return format == SettingsFormat::Ini ? IniSettingsText(file) : JsonSettingsText(file);
}

bool InSettingRange(const SettingSpec& definition, uint16_t value, QString& why)
{
    if (value >= definition.minValue && value <= definition.maxValue)
        return true;
    why = QStringLiteral("%1 is out of range %2 to %3").arg(value).arg(definition.minValue).arg(definition.maxValue);
    return false;
}
