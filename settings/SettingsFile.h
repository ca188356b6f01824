// The settings file: every setting of the relay by its control name and
// caption, with register, value and unit, the masks as bit text, when it was
// saved and the slave address it was read from. JSON, or INI for a file
// named *.ini; read as its content says. A file is read whole and checked whole before it is used:
// broken syntax, a value of the wrong type, unknown names, a value that is
// no register value and a register that does not match its name all refuse
// it. A value outside what the window lets the user set is what a relay may
// hold, and is kept: a load refuses to write it (SettingsPlan).
#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "exchanges/RegisterCatalog.h"

constexpr const char* kSettingsFormatName = "zashchita-settings";
constexpr int kSettingsFormatVersion = 1;

struct SettingValue {
    const SettingSpec* definition = nullptr;
    uint16_t value = 0;
};

struct SettingsFile {
    QString saved;      // local time of the save, ISO 8601 with its UTC offset
    int address = 0;    // the slave address the settings were read from
    QString port;       // informative, written when known: the port they were read over
    QString program;    // informative, written when known: the program and its version
    std::vector<SettingValue> settings;   // register order; a file may hold only some
};

struct SettingsFileRead {
    bool ok = false;
    SettingsFile file;
    QStringList errors;   // one line each, naming the setting or the place in the file
    bool syntaxBroken = false;   // the format's syntax failed, before any setting was checked
};

// A file is written as its name says: INI when it ends in .ini, else JSON.
// It is read as its content says: JSON when its first character that is no
// blank is "{", else INI; a file of blanks only goes by its name.
enum class SettingsFormat { Json, Ini };
SettingsFormat FormatForPath(const QString& path);
SettingsFormat FormatForContent(const QByteArray& bytes, const QString& path);

// A settings file is a few KB; anything much larger is no settings file.
constexpr qint64 kMaxSettingsFileBytes = 256 * 1024;

// Reads only a regular file of at most kMaxSettingsFileBytes: a FIFO, a
// device or a huge file is refused at once. The errors do not repeat the
// path; when the syntax fails, the first also says which format was assumed.
SettingsFileRead ReadSettingsFile(const QString& path);
SettingsFileRead ParseSettings(const QByteArray& bytes, SettingsFormat format);

// The standard output's name as a FILE: save writes JSON there.
inline const QString kStandardOutputName = QStringLiteral("-");

// Whether the setting's value lies in what the window lets the user set;
// if not, `why` says so: "5 is out of range 0 to 1".
bool InSettingRange(const SettingSpec& definition, uint16_t value, QString& why);

QByteArray SettingsText(const SettingsFile& file, SettingsFormat format);

// ---- between the formats and the checks --------------------------------

// One setting as written in the file, before any check: texts, and whether
// each key was there at all.
struct RawSetting {
    QString where;      // "line 12", "settings[3]": for messages
    QString name;
    QString reg;
    QString value;
    QString item;       // a selection box's item text, informative
    bool hasName = false, hasReg = false, hasValue = false, hasItem = false;
    // JSON tells a number from a text; INI does not.
    enum class Written { Untyped, AsNumber, AsText } valueWritten = Written::Untyped;
};

struct RawSettingsFile {
    QString format, version, saved, address;
    bool hasFormat = false, hasVersion = false, hasAddress = false;
    std::vector<RawSetting> settings;
};

// The format readers: false with `errors` when the file's syntax is broken.
bool ParseJsonSettings(const QByteArray& bytes, RawSettingsFile& raw, QStringList& errors);
bool ParseIniSettings(const QByteArray& bytes, RawSettingsFile& raw, QStringList& errors);
QByteArray JsonSettingsText(const SettingsFile& file);
QByteArray IniSettingsText(const SettingsFile& file);
