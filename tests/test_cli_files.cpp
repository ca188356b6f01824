// The command-line program's parts without a line: the settings file in both
// formats and what it refuses, the load plan, and files written whole.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <sys/stat.h>

#include "settings/AtomicFile.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsPlan.h"
#include "exchanges/ExchangeTable.h"

namespace {

// Every setting, each with a value of its own within its range.
SettingsFile FullFile()
{
    SettingsFile file;
    file.saved = QStringLiteral("2026-03-15T10:20:30+03:00");
    file.address = 7;
    for (const SettingSpec& definition : SettingSpecs()) {
        uint16_t value = uint16_t(definition.reg * 3);
        if (definition.kind == SettingKind::Choice)
            value = uint16_t(definition.maxValue);
        if (definition.kind == SettingKind::Mask)
            value = uint16_t(0x8000 | definition.reg);
        if (definition.name == QLatin1String("NSE1"))
            value = 7;
        file.settings.push_back({&definition, value});
    }
    return file;
}

void ExpectSame(const SettingsFile& a, const SettingsFile& b)
{
    EXPECT_EQ(a.saved, b.saved);
    EXPECT_EQ(a.address, b.address);
    ASSERT_EQ(a.settings.size(), b.settings.size());
    for (size_t i = 0; i < a.settings.size(); ++i) {
        EXPECT_EQ(a.settings[i].definition, b.settings[i].definition);
        EXPECT_EQ(a.settings[i].value, b.settings[i].value) << a.settings[i].definition->name.toStdString();
    }
}

SettingsFileRead Parse(const QString& text, SettingsFormat format)
{
    return ParseSettings(text.toUtf8(), format);
}

QString JsonWith(const QString& settingsList)
{
    return QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": 1, \"address\": 1, \"settings\": [%1]}")
        .arg(settingsList);
}

// The relay holding every setting of the file but the ones given.
RegisterValues RelayHolding(const SettingsFile& file, const std::vector<std::pair<int, uint16_t>>& changed = {})
{
    RegisterValues read;
    read.block = kSettingsBlock;
    read.values.assign(size_t(kSettingsBlock.count), 0);
    for (const SettingValue& s : file.settings)
        read.values[size_t(s.definition->reg - kSettingsBlock.first)] = s.value;
    for (const auto& [reg, value] : changed)
        read.values[size_t(reg - kSettingsBlock.first)] = value;
    return read;
}

}  // namespace

TEST(SettingsFileFormat, JsonAndIniKeepEverySetting)
{
    const SettingsFile file = FullFile();
    for (SettingsFormat format : {SettingsFormat::Json, SettingsFormat::Ini}) {
        const SettingsFileRead read = ParseSettings(SettingsText(file, format), format);
        ASSERT_TRUE(read.ok) << read.errors.join(QLatin1Char('\n')).toStdString();
        ExpectSame(file, read.file);
    }
}

TEST(SettingsFileFormat, ReadableTextWithCaptionsUnitsAndBitText)
{
    const SettingsFile file = FullFile();
    const QString json = QString::fromUtf8(SettingsText(file, SettingsFormat::Json));
    EXPECT_TRUE(json.contains(QStringLiteral(
        "{\"name\": \"SE2\", \"register\": 81, \"value\": 243, \"unit\": \"%\", \"caption\": \"Ток МТЗ (отсечка)\"}")))
        << json.toStdString();
    EXPECT_TRUE(json.contains(
        QStringLiteral("{\"name\": \"EditMask1\", \"register\": 96, \"value\": \"10000000 01100000\"")));
    EXPECT_TRUE(json.contains(QStringLiteral("\"item\": \"разрешить\"")));
    EXPECT_TRUE(json.contains(QStringLiteral("\"address\": 7")));

    const QString ini = QString::fromUtf8(SettingsText(file, SettingsFormat::Ini));
    EXPECT_TRUE(ini.contains(QStringLiteral("[SE0]\ncaption=Номинальный ток двигателя\nregister=108\nunit=*0,01 A\n"
                                            "value=324\n")))
        << ini.toStdString();
    EXPECT_TRUE(ini.endsWith(QStringLiteral("[end]\nsettings=43\n")));
}

TEST(SettingsFileFormat, FileCutShortAnywhereIsDamaged)
{
    const SettingsFile file = FullFile();
    for (SettingsFormat format : {SettingsFormat::Json, SettingsFormat::Ini}) {
        const QByteArray text = SettingsText(file, format);
        // Every cut but the last line break's own leaves a damaged file.
        for (qsizetype cut = 0; cut + 1 < text.size(); cut += 7)
            EXPECT_FALSE(ParseSettings(text.left(cut), format).ok) << int(format) << " cut at " << cut;
    }
}

TEST(SettingsFileFormat, PartialFileHoldsOnlyItsSettings)
{
    const QString list = QStringLiteral("{\"name\": \"SE3\", \"value\": 75}, "
                                        "{\"name\": \"CB2\", \"value\": 1, \"item\": \"отключено\"}");
    const SettingsFileRead read = Parse(JsonWith(list), SettingsFormat::Json);
    ASSERT_TRUE(read.ok) << read.errors.join(QLatin1Char('\n')).toStdString();
    ASSERT_EQ(read.file.settings.size(), 2u);
    EXPECT_EQ(read.file.settings[0].definition->name, QStringLiteral("SE3"));
    EXPECT_EQ(read.file.settings[0].value, 75);
    EXPECT_EQ(read.file.settings[1].definition->reg, 114);
}

TEST(SettingsFileChecks, EveryFaultIsNamed)
{
    struct Case {
        QString settings;
        QString error;
    };
    const Case cases[] = {
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 65536}"),
         QStringLiteral("SE3 (settings[0]): 65536 is out of range 0 to 65535")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": -1}"), QStringLiteral("-1 is out of range 0 to 65535")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 7.5}"), QStringLiteral("\"7.5\" is not a whole number")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": \"1e3\"}"), QStringLiteral("\"1e3\" is not a whole number")},
        // Types are strict: a number in quotes is text, a name or an item is text.
        {QStringLiteral("{\"name\": \"SE3\", \"value\": \"600\"}"),
         QStringLiteral("SE3 (settings[0]): \"600\" is text; a value is written as a number, without quotes")},
        {QStringLiteral("{\"name\": \"SE3\", \"register\": \"82\", \"value\": 3}"),
         QStringLiteral("\"register\" of settings[0] must be a number without quotes, not \"82\"")},
        {QStringLiteral("{\"name\": 82, \"value\": 3}"), QStringLiteral("\"name\" of settings[0] must be text")},
        {QStringLiteral("{\"name\": \"CB1\", \"value\": 1, \"item\": 1}"),
         QStringLiteral("\"item\" of settings[0] must be text in quotes, not 1")},
        // Qt's reader keeps the last of two equal keys; the file is refused instead.
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 50, \"value\": 2222}"),
         QStringLiteral("key \"value\" given twice in one object")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 50, \"val\\u0075e\": 2222}"),
         QStringLiteral("key \"value\" given twice in one object")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 50}], \"settings\": [{\"name\": \"SE3\", \"value\": 2222}"),
         QStringLiteral("key \"settings\" given twice in one object")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": true}"), QStringLiteral("\"true\" is not a whole number")},
        {QStringLiteral("{\"name\": \"SE3\"}"), QStringLiteral("SE3 (settings[0]): no value")},
        {QStringLiteral("{\"value\": 3}"), QStringLiteral("settings[0]: no name")},
        {QStringLiteral("{\"name\": \"SE23\", \"value\": 3}"),
         QStringLiteral("SE23 (settings[0]): no setting has that name")},
        {QStringLiteral("{\"name\": \"SE3\", \"register\": 83, \"value\": 3}"),
         QStringLiteral("register \"83\" in the file, but SE3 is register 82")},
        {QStringLiteral("{\"name\": \"SE3\", \"value\": 3}, {\"name\": \"SE3\", \"value\": 4}"),
         QStringLiteral("SE3 (settings[1]): given twice")},
        {QStringLiteral("{\"name\": \"EditMask1\", \"value\": 96}"), QStringLiteral("\"96\" is no mask")},
        {QStringLiteral("{\"name\": \"EditMask1\", \"value\": \"0000000 000000001\"}"), QStringLiteral("is no mask")},
        {QStringLiteral("{\"name\": \"CB1\", \"value\": 1, \"item\": \"запретить\"}"),
         QStringLiteral("value 1 is item \"разрешить\", but the file names \"запретить\"")},
        {QString(), QStringLiteral("the file holds no settings")},
    };
    for (const Case& c : cases) {
        const SettingsFileRead read = Parse(JsonWith(c.settings), SettingsFormat::Json);
        EXPECT_FALSE(read.ok) << c.settings.toStdString();
        EXPECT_TRUE(read.errors.join(QLatin1Char('\n')).contains(c.error))
            << c.settings.toStdString() << ": " << read.errors.join(QLatin1Char('\n')).toStdString();
    }
}

TEST(SettingsFileChecks, EveryFaultOfAFileIsListedAtOnce)
{
    const SettingsFileRead read = Parse(JsonWith(QStringLiteral("{\"name\": \"SE3\", \"value\": 70000}, "
                                                                "{\"name\": \"X1\", \"value\": 1}, "
                                                                "{\"name\": \"SE4\", \"value\": 4}")),
                                        SettingsFormat::Json);
    EXPECT_FALSE(read.ok);
    EXPECT_EQ(read.errors.size(), 2);
}

TEST(SettingsFileChecks, HeaderAndSyntax)
{
    const QString one = QStringLiteral("{\"name\": \"SE3\", \"value\": 3}");
    const struct {
        QString text;
        SettingsFormat format;
        QString error;
    } cases[] = {
        {QStringLiteral("[1, 2]"), SettingsFormat::Json, QStringLiteral("not an object")},
        {QStringLiteral("{\"format\": \"other\", \"version\": 1, \"settings\": [%1]}").arg(one), SettingsFormat::Json,
         QStringLiteral("not a settings file of this program")},
        {QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": 2, \"settings\": [%1]}").arg(one),
         SettingsFormat::Json, QStringLiteral("file version \"2\" is not known")},
        {QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": \"1\", \"settings\": [%1]}").arg(one),
         SettingsFormat::Json, QStringLiteral("\"version\" must be a number without quotes")},
        {QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": 1, \"address\": 300, \"settings\": [%1]}")
             .arg(one),
         SettingsFormat::Json, QStringLiteral("\"address\" must be a slave address from 1 to 247")},
        {QStringLiteral("{\"format\": \"zashchita-settings\", \"version\": 1}"), SettingsFormat::Json,
         QStringLiteral("no \"settings\" list")},
        {QStringLiteral("[file]\nformat=zashchita-settings\nversion=1\n[SE3]\nvalue=3\n"), SettingsFormat::Ini,
         QStringLiteral("it does not end with [end]")},
        {QStringLiteral("[file]\nformat=zashchita-settings\nversion=1\n[SE3]\nvalue=3\n[end]\nsettings=2\n"),
         SettingsFormat::Ini, QStringLiteral("[end] counts \"2\" settings, the file holds 1")},
        {QStringLiteral("[file]\nformat=zashchita-settings\nversion=1\n[SE3]\nvalue 3\n[end]\nsettings=1\n"),
         SettingsFormat::Ini, QStringLiteral("line 5: \"value 3\" is no [section] or key=value")},
        {QStringLiteral("[file]\nformat=zashchita-settings\nversion=1\n[SE3]\nvalue=3\nvalue=4\n[end]\nsettings=1\n"),
         SettingsFormat::Ini, QStringLiteral("key \"value\" given twice in [SE3]")},
        {QStringLiteral("[SE3]\nvalue=3\n[end]\nsettings=1\n"), SettingsFormat::Ini,
         QStringLiteral("it must begin with [file]")},
    };
    for (const auto& c : cases) {
        const SettingsFileRead read = Parse(c.text, c.format);
        EXPECT_FALSE(read.ok) << c.text.toStdString();
        EXPECT_TRUE(read.errors.join(QLatin1Char('\n')).contains(c.error))
            << c.text.toStdString() << ": " << read.errors.join(QLatin1Char('\n')).toStdString();
    }
    const SettingsFileRead notUtf8 = ParseSettings(QByteArray("[file]\nformat=\xff\xfe\n"), SettingsFormat::Ini);
    EXPECT_FALSE(notUtf8.ok);
    EXPECT_TRUE(notUtf8.errors.join(QString()).contains(QStringLiteral("not UTF-8")));
}

TEST(SettingsFileFormat, FormatByFileName)
{
    EXPECT_EQ(FormatForPath(QStringLiteral("/tmp/relay.ini")), SettingsFormat::Ini);
    EXPECT_EQ(FormatForPath(QStringLiteral("relay.INI")), SettingsFormat::Ini);
    EXPECT_EQ(FormatForPath(QStringLiteral("relay.json")), SettingsFormat::Json);
    EXPECT_EQ(FormatForPath(QStringLiteral("relay")), SettingsFormat::Json);
}

TEST(LoadPlan, WritesOnlyWhatDiffersAddressLastAndOnlyWhenAsked)
{
    const SettingsFile file = FullFile();
    EXPECT_TRUE(PlanLoad(file, RelayHolding(file), true).writes.empty());
    EXPECT_TRUE(Differences(file, RelayHolding(file)).empty());

    const RegisterValues relay = RelayHolding(file, {{80, 3}, {81, 1}, {122, 5}});
    const std::vector<SettingDifference> differences = Differences(file, relay);
    ASSERT_EQ(differences.size(), 3u);
    EXPECT_EQ(DifferenceLine(differences[1]), QStringLiteral("SE2 (81) Ток МТЗ (отсечка): relay 1 %, file 243 %"));

    const LoadPlan without = PlanLoad(file, relay, false);
    ASSERT_EQ(without.writes.size(), 2u);
    EXPECT_EQ(without.writes[0].definition->reg, 81);
    EXPECT_EQ(without.writes[0].from, 1);
    EXPECT_EQ(without.writes[0].to, 243);
    EXPECT_EQ(without.writes[1].definition->reg, 122);
    ASSERT_EQ(without.kept.size(), 1);
    EXPECT_TRUE(without.kept[0].startsWith(QStringLiteral("NSE1 (80)")));
    EXPECT_EQ(without.expected.size(), file.settings.size() - 1);   // the address is not checked

    const LoadPlan with = PlanLoad(file, relay, true);
    ASSERT_EQ(with.writes.size(), 3u);
    EXPECT_EQ(with.writes[2].definition->reg, 80);   // last: the others go to the old address
    EXPECT_EQ(with.writes[2].to, 7);
    EXPECT_EQ(with.expected.size(), file.settings.size());
}

TEST(LoadPlan, MaskBitsWithoutABoxStayAsTheRelayHoldsThem)
{
    SettingsFile file;
    file.settings.push_back({FindSetting(QStringLiteral("EditMask1")), 0x8201});   // bits 15, 9 and 0
    file.settings.push_back({FindSetting(QStringLiteral("EditMask2")), 0x0201});
    const RegisterValues relay = RelayHolding(file, {{96, 0x0400}, {107, 0x0001}});

    const LoadPlan plan = PlanLoad(file, relay, false);
    ASSERT_EQ(plan.writes.size(), 2u);
    EXPECT_EQ(plan.writes[0].definition->reg, 96);
    EXPECT_EQ(plan.writes[0].to, 0x0401);   // bit 0 from the file, bits 9 to 15 from the relay
    EXPECT_EQ(plan.writes[1].definition->reg, 107);
    EXPECT_EQ(plan.writes[1].to, 0x0201);   // every bit but 15 is the user's in this mask
    ASSERT_EQ(plan.kept.size(), 1);
    EXPECT_TRUE(plan.kept[0].contains(QStringLiteral("bits 9, 10, 15")));
    EXPECT_EQ(plan.expected[0].value, 0x0401);

    // Only fixed bits differ: nothing to write.
    EXPECT_TRUE(PlanLoad(file, RelayHolding(file, {{96, 0x0001}, {107, 0x0201}}), false).writes.empty());
}

// What a relay may hold beyond what the window lets the user set: the slave
// address 247 (or 0) and a selection box's value past its items.
TEST(LoadPlan, ValuesOutOfRangeLoadBackAndAreRefusedOnlyWhereWritten)
{
    SettingsFile file = FullFile();
    const std::vector<std::pair<QString, uint16_t>> odd{
        {QStringLiteral("NSE1"), 247}, {QStringLiteral("CB1"), 5}, {QStringLiteral("CB4"), 77}};
    for (SettingValue& s : file.settings)
        for (const auto& [name, value] : odd)
            if (s.definition->name == name)
                s.value = value;
    for (SettingsFormat format : {SettingsFormat::Json, SettingsFormat::Ini}) {
        const SettingsFileRead read = ParseSettings(SettingsText(file, format), format);
        ASSERT_TRUE(read.ok) << read.errors.join(QLatin1Char('\n')).toStdString();
        ExpectSame(file, read.file);
    }

    // The relay holds them: nothing to write, nothing to refuse.
    const LoadPlan same = PlanLoad(file, RelayHolding(file), true);
    EXPECT_TRUE(same.writes.empty());
    EXPECT_TRUE(same.outOfRange.isEmpty());

    // It holds other values: each odd one is named and none is planned.
    const RegisterValues relay = RelayHolding(file, {{80, 3}, {113, 0}, {121, 4}, {81, 1}});
    EXPECT_EQ(Differences(file, relay).size(), 4u);
    const LoadPlan with = PlanLoad(file, relay, true);
    ASSERT_EQ(with.outOfRange.size(), 3) << with.outOfRange.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(with.outOfRange[0].startsWith(QStringLiteral("NSE1 (80)")));
    EXPECT_TRUE(with.outOfRange[0].contains(QStringLiteral("247 is out of range 1 to 246; not written")));
    EXPECT_TRUE(with.outOfRange[1].contains(QStringLiteral("CB1 (113) Блокировка защиты: relay 0 (запретить), "
                                                           "file 5 (нет пункта): 5 is out of range 0 to 1")));
    EXPECT_TRUE(with.outOfRange[2].contains(QStringLiteral("77 is out of range 0 to 10")));
    ASSERT_EQ(with.writes.size(), 1u);
    EXPECT_EQ(with.writes[0].definition->reg, 81);
    // Without --include-address the address is kept, not refused.
    const LoadPlan without = PlanLoad(file, relay, false);
    EXPECT_EQ(without.outOfRange.size(), 2);
    EXPECT_TRUE(without.kept.join(QString()).contains(QStringLiteral("NSE1 (80)")));

    // Below the range as well.
    SettingsFile low;
    low.settings = {{FindSetting(QStringLiteral("NSE1")), 0}, {FindSetting(QStringLiteral("CB1")), 2}};
    const LoadPlan lowPlan = PlanLoad(low, RelayHolding(low, {{80, 1}, {113, 1}}), true);
    EXPECT_TRUE(lowPlan.writes.empty());
    EXPECT_TRUE(lowPlan.outOfRange.join(QLatin1Char('\n')).contains(QStringLiteral("0 is out of range 1 to 246")));
    EXPECT_TRUE(lowPlan.outOfRange.join(QLatin1Char('\n')).contains(QStringLiteral("2 is out of range 0 to 1")));
}

// A FIFO would hang the read, a link to /dev/zero would fill the memory.
TEST(SettingsFileRead, OnlyARegularFileOfSaneSizeIsRead)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath(QStringLiteral("good.json"));
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(SettingsText(FullFile(), SettingsFormat::Json));
    }
    EXPECT_TRUE(ReadSettingsFile(good).ok);

    const QString fifo = dir.filePath(QStringLiteral("fifo.json"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString zero = dir.filePath(QStringLiteral("zero.json"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/zero"), zero));
    const QString huge = dir.filePath(QStringLiteral("huge.json"));
    {
        QFile f(huge);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(kMaxSettingsFileBytes + 1));
    }
    const struct {
        QString path;
        QString error;
    } refused[] = {
        {fifo, QStringLiteral("it is not a regular file")},
        {zero, QStringLiteral("it is not a regular file")},
        {dir.path(), QStringLiteral("it is a directory")},
        {huge, QStringLiteral("it is %1 bytes long; a settings file is at most %2 bytes")
                   .arg(kMaxSettingsFileBytes + 1).arg(kMaxSettingsFileBytes)},
        {dir.filePath(QStringLiteral("missing.json")), QStringLiteral("cannot read it: No such file or directory")},
    };
    for (const auto& r : refused) {
        const SettingsFileRead read = ReadSettingsFile(r.path);
        EXPECT_FALSE(read.ok) << r.path.toStdString();
        ASSERT_EQ(read.errors.size(), 1) << r.path.toStdString();
        EXPECT_TRUE(read.errors[0].startsWith(r.error)) << read.errors[0].toStdString();
    }
}

TEST(AtomicFile, ReplacesWholeOwnerOnlyAndLeavesNoTemporary)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("relay.json"));
    auto content = [](const QString& p) {
        QFile f(p);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
    };
    auto mode = [](const QString& p) {
        struct stat st {};
        return ::stat(QFile::encodeName(p).constData(), &st) == 0 ? int(st.st_mode & 0777) : -1;
    };
    QString reason;
    ASSERT_TRUE(CheckWritable(path, reason)) << reason.toStdString();
    ASSERT_TRUE(WriteFileAtomically(path, "first", reason)) << reason.toStdString();
    EXPECT_EQ(content(path), "first");
    EXPECT_EQ(mode(path), 0600);   // a backup of the relay's settings is for its owner only

    // An earlier file made readable by all is replaced by one for its owner.
    ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0644), 0);
    ASSERT_TRUE(WriteFileAtomically(path, "second", reason)) << reason.toStdString();
    EXPECT_EQ(content(path), "second");
    EXPECT_EQ(mode(path), 0600);

    // A link stays a link; the file it points to is replaced.
    const QString link = dir.filePath(QStringLiteral("latest.json"));
    ASSERT_TRUE(QFile::link(path, link));
    ASSERT_TRUE(WriteFileAtomically(link, "third", reason)) << reason.toStdString();
    EXPECT_TRUE(QFileInfo(link).isSymLink());
    EXPECT_EQ(content(path), "third");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::System | QDir::Hidden),
              (QStringList{QStringLiteral("latest.json"), QStringLiteral("relay.json")}));
}

TEST(AtomicFile, WhatCannotBeWrittenIsRefusedAndTheEarlierFileStays)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString plain = dir.filePath(QStringLiteral("plain.json"));
    QString unused;
    ASSERT_TRUE(WriteFileAtomically(plain, "kept", unused));
    const struct {
        QString path;
        QString reason;
    } cases[] = {
        {plain + QStringLiteral("/relay.json"), QStringLiteral("Not a directory")},
        {dir.filePath(QStringLiteral("missing/relay.json")), QStringLiteral("No such file or directory")},
        {dir.path(), QStringLiteral("it is a directory")},
    };
    for (const auto& c : cases) {
        QString reason;
        EXPECT_FALSE(CheckWritable(c.path, reason)) << c.path.toStdString();
        EXPECT_EQ(reason.toStdString(), c.reason.toStdString());
        reason.clear();
        EXPECT_FALSE(WriteFileAtomically(c.path, "new", reason)) << c.path.toStdString();
        EXPECT_EQ(reason.toStdString(), c.reason.toStdString());
    }
    QFile f(plain);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), "kept");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("plain.json")});
}
