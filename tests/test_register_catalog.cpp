// The register map as plain data: the settings, value fields and status
// lamps the window and the command-line program share.
#include <gtest/gtest.h>

#include <QSet>

#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/CountWords.h"
#include "exchanges/RegisterCatalog.h"
#include "exchanges/RelayClock.h"

TEST(SettingsCatalog, FortySettingsAndThreeMasksInRegisterOrder)
{
    const std::vector<SettingSpec>& definitions = SettingSpecs();
    ASSERT_EQ(definitions.size(), 43u);
    QSet<int> registers;
    int masks = 0;
    for (size_t i = 0; i < definitions.size(); ++i) {
        const SettingSpec& s = definitions[i];
        EXPECT_GE(s.reg, kSettingsBlock.first);
        EXPECT_LT(s.reg, kSettingsBlock.first + kSettingsBlock.count);
        EXPECT_FALSE(s.caption.isEmpty()) << s.name.toStdString();
        EXPECT_FALSE(s.caption.endsWith(QLatin1Char(':'))) << s.name.toStdString();
        if (i > 0) {
            EXPECT_LT(definitions[i - 1].reg, s.reg);
        }
        registers.insert(s.reg);
        masks += s.kind == SettingKind::Mask;
    }
    EXPECT_EQ(masks, 3);
    // Register 123 is read with the block but is no setting.
    for (int reg = 80; reg <= 122; ++reg)
        EXPECT_TRUE(registers.contains(reg)) << reg;
}

TEST(SettingsCatalog, NamesCaptionsUnitsAndRanges)
{
    const SettingSpec* address = FindSetting(QStringLiteral("NSE1"));
    ASSERT_TRUE(address);
    EXPECT_EQ(address->reg, kRelayAddressRegister);
    EXPECT_EQ(address->minValue, 1);
    EXPECT_EQ(address->maxValue, 246);
    EXPECT_EQ(address->caption, QStringLiteral("Адрес подчиненного устройства"));

    const SettingSpec* insulation = FindSetting(QStringLiteral("SE4"));
    ASSERT_TRUE(insulation);
    EXPECT_EQ(insulation->reg, 83);
    EXPECT_EQ(insulation->caption, QStringLiteral("Уровень срабатывания изоляции"));
    EXPECT_EQ(insulation->unit, QStringLiteral("кОм"));
    EXPECT_EQ(insulation->maxValue, 65535);

    const SettingSpec* range = FindSetting(QStringLiteral("CB4"));
    ASSERT_TRUE(range);
    EXPECT_EQ(range->kind, SettingKind::Choice);
    EXPECT_EQ(range->maxValue, 10);
    EXPECT_EQ(SettingValueText(*range, 4), QStringLiteral("4 (4 - Iном = (64..32)А,     Ктт=4500, R=20 Ом)"));
    EXPECT_EQ(SettingValueText(*range, 99), QStringLiteral("99 (10 - Устр-во не поддерж-т данную функцию)"));
    const SettingSpec* blocking = FindSetting(QStringLiteral("CB1"));
    ASSERT_TRUE(blocking);
    EXPECT_EQ(SettingValueText(*blocking, 2), QStringLiteral("2 (нет пункта)"));

    EXPECT_EQ(FindSetting(QStringLiteral("E2")), nullptr);   // a live value, not a setting
    EXPECT_EQ(FindSetting(QStringLiteral("SEAddres")), nullptr);
}

TEST(SettingsCatalog, MasksByColumnWithTheBitsTheUserCannotChange)
{
    struct Expected {
        const char* name;
        int reg;
        const char* caption;
        uint16_t fixed;
    };
    const Expected masks[] = {
        {"EditMask1", 96, "Маска защит на отключение", 0x9E00},
        {"EditMask2", 107, "Маска формирования протоколов", 0x8000},
        {"EditMask3", 97, "Маска защит на сигнал", 0x9E00},
    };
    for (const Expected& e : masks) {
        const SettingSpec* definition = FindSetting(QString::fromLatin1(e.name));
        ASSERT_TRUE(definition) << e.name;
        EXPECT_EQ(definition->reg, e.reg);
        EXPECT_EQ(definition->caption, QString::fromUtf8(e.caption));
        EXPECT_EQ(definition->fixedBits, e.fixed) << e.name;
        EXPECT_EQ(SettingValueText(*definition, 0x8001), QStringLiteral("10000000 00000001"));
    }
}

TEST(ReadingsCatalog, CurrentParametersAndRecordFields)
{
    const std::vector<ReadingSpec> current = BlockReadings(kCurrentParamsBlock);
    ASSERT_EQ(current.size(), 13u);   // E0 to E12
    EXPECT_EQ(current[0].name, QStringLiteral("E1"));
    EXPECT_TRUE(current[0].bitText);
    EXPECT_EQ(current[0].reg, 66);
    EXPECT_EQ(current.back().unit, QStringLiteral("В"));   // Cyrillic, as the records have it

    const std::vector<ReadingSpec> record = BlockReadings(RecordBlock(2));
    ASSERT_EQ(record.size(), 12u);    // the moment is composed apart
    EXPECT_EQ(record[0].reg, RecordBlock(2).first + 5);
    EXPECT_EQ(record[1].caption, QStringLiteral("Ток фазы А"));
    EXPECT_EQ(record[1].unit, QStringLiteral("%"));
    EXPECT_EQ(record.back().reg, RecordBlock(2).first + 16);
    EXPECT_EQ(record.back().unit, QStringLiteral("мс"));
}

TEST(ReadingsCatalog, StatusBitNamesFromTheLamps)
{
    const QStringList live = BitNames(66);
    ASSERT_EQ(live.size(), 16);
    EXPECT_EQ(live[0], QStringLiteral("Отсечка"));
    EXPECT_EQ(live[14], QStringLiteral("Затянувшийся пуск"));
    EXPECT_TRUE(live[15].isEmpty());   // bit 15 has no lamp on page 0
    EXPECT_EQ(SetBitNames(live, 0x8401), (QStringList{QStringLiteral("Отсечка"), QStringLiteral("Двигатель включен"),
                                                      QStringLiteral("бит 15")}));

    const QStringList record = BitNames(RecordBlock(4).first + 5);
    EXPECT_EQ(record[15], QStringLiteral("Время пуска"));
    EXPECT_TRUE(SetBitNames(record, 0).isEmpty());
}

TEST(RelayClockFields, FiveRegistersFromTheMonth)
{
    const RelayClockFields f = ClockFieldsAt(67, [](int reg) { return uint16_t(reg * 2); });
    EXPECT_EQ(f.month, 134);
    EXPECT_EQ(f.day, 136);
    EXPECT_EQ(f.hour, 138);
    EXPECT_EQ(f.minute, 140);
    EXPECT_EQ(f.second, 142);
    static_assert(RecordBlock(1).first == 128 && RecordBlock(4).first == 179 && RecordBlock(3).count == 17);
}

TEST(CountWords, RussianAndEnglishForms)
{
    const std::pair<qint64, const char*> cases[] = {{0, "уставок"},   {1, "уставка"},  {2, "уставки"},  {4, "уставки"},
                                                    {5, "уставок"},   {11, "уставок"}, {14, "уставок"}, {21, "уставка"},
                                                    {43, "уставки"}, {111, "уставок"}, {122, "уставки"}};
    for (const auto& [count, noun] : cases)
        EXPECT_EQ(RussianCountText(count, QStringLiteral("уставка"), QStringLiteral("уставки"), QStringLiteral("уставок")),
                  QStringLiteral("%1 %2").arg(count).arg(QString::fromUtf8(noun)));
}
