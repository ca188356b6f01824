#include "exchanges/RegisterTable.h"

#include <QHash>

#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"

namespace {

constexpr int kWordBits = 16;
constexpr int kStatusRegister = 66;
constexpr int kMaskBits = 15;           // bit 15 of a mask has no box
constexpr uint16_t kRelayOnlyBits = 0x1E00;   // bits 9 to 12: the trip and signal masks keep the relay's

using K = RegisterKind;

RegisterEntry Entry(const char* key, int reg, K kind, const RegisterBlock& block, const QString& caption,
                    const QString& unit = {}, const QString& caption2 = {})
{
    RegisterEntry e;
    e.key = QString::fromLatin1(key);
    e.reg = reg;
    e.kind = kind;
    e.block = block;
    e.caption = caption;
    e.caption2 = caption2;
    e.unit = unit;
    return e;
}

RegisterEntry Setting(const char* key, int reg, const QString& line1, const QString& line2, const QString& unit,
                      int minValue = 0, int maxValue = 65535, int increment = 1)
{
    RegisterEntry e = Entry(key, reg, K::Number, kSettingsBlock, line1, unit, line2);
    e.minValue = minValue;
    e.maxValue = maxValue;
    e.increment = increment;
    return e;
}

RegisterEntry Choice(const char* key, int reg, const QString& caption, const QStringList& items, int forLarger = -1)
{
    RegisterEntry e = Entry(key, reg, K::Choice, kSettingsBlock, caption);
    e.items = items;
    e.minValue = 0;
    e.maxValue = int(items.size()) - 1;
    e.itemForLarger = forLarger;
    return e;
}

// The names of the status bits, bit 0 first, as the lamps show them.
QStringList StatusNames()
{
    return {QStringLiteral("Отсечка"),         QStringLiteral("Несимметрия"),
            QStringLiteral("Пульсация"),       QStringLiteral("Перегрузка"),
            QStringLiteral("Тяжелый пуск"),    QStringLiteral("Запрет пуска"),
            QStringLiteral("Rизоляции<Rноминал"), QStringLiteral("Холостой ход"),
            QStringLiteral("Дискретный вход"), QStringLiteral("Двигатель отключен"),
            QStringLiteral("Двигатель включен"), QStringLiteral("Пуск закончен"),
            QStringLiteral("Защита блокирована"), QStringLiteral("Задержка включения"),
            QStringLiteral("Затянувшийся пуск")};
}

void AddCurrentParams(std::vector<RegisterEntry>& t)
{
    const RegisterBlock b = kCurrentParamsBlock;
    t.push_back(Entry("E1", kStatusRegister, K::StatusWord, b, QStringLiteral("Статусный регистр:")));
    t.push_back(Entry("E0", 78, K::Reading, b, QStringLiteral("Время работы блока защиты:"), QStringLiteral("мин")));
    t.push_back(Entry("E2", 50, K::Reading, b, QStringLiteral("Ток фазы А:"), QStringLiteral("%")));
    t.push_back(Entry("E3", 51, K::Reading, b, QStringLiteral("Ток фазы В:"), QStringLiteral("%")));
    t.push_back(Entry("E4", 52, K::Reading, b, QStringLiteral("Ток фазы С:"), QStringLiteral("%")));
    t.push_back(Entry("E5", 53, K::Reading, b, QStringLiteral("Текущее сопротивление изоляции:"), QStringLiteral("кОм")));
    t.push_back(Entry("E6", 54, K::Reading, b, QStringLiteral("Текущее значение несимметрии токов:"), QStringLiteral("%")));
    t.push_back(Entry("E7", 55, K::Reading, b, QStringLiteral("Текущее значение пульсации токов:"), QStringLiteral("%")));
    t.push_back(Entry("E8", 56, K::Reading, b, QStringLiteral("Текущее значение теплового импульса:"), QStringLiteral("%")));
    t.push_back(Entry("E9", 57, K::Reading, b, QStringLiteral("Тепловой импульс пуска:"), QStringLiteral("%")));
    t.push_back(Entry("E10", 58, K::Reading, b, QStringLiteral("Время пуска электродвигателя:"), QStringLiteral("мс")));
    t.push_back(Entry("E11", 59, K::Reading, b, QStringLiteral("Значение пускового тока:"), QStringLiteral("%")));
    t.push_back(Entry("E12", 60, K::Reading, b, QStringLiteral("Напряжение питания:"), QStringLiteral("B")));  // Latin B
    const QStringList names = StatusNames();
    for (int bit = 0; bit < int(names.size()); ++bit) {
        RegisterEntry e = Entry("", kStatusRegister, K::StatusBit, b, names[bit]);
        e.key = QStringLiteral("L%1").arg(bit);
        e.bit = bit;
        t.push_back(e);
    }
    // The relay's clock: month and day from 67, hour, minute and second from 69.
    t.push_back(Entry("DPicker", 67, K::Moment, b, QStringLiteral("Дата:")));
    t.push_back(Entry("TPicker", 69, K::Moment, b, QStringLiteral("Время:")));
}

void AddSetpoints(std::vector<RegisterEntry>& t)
{
    t.push_back(Setting("SE0", 108, QStringLiteral("Номинальный ток двигателя:"), {}, QStringLiteral("*0,01 A")));
    t.push_back(Setting("SE1", 104, QStringLiteral("Порог индикации вкл/откл"), QStringLiteral("состояния двигателя:"), {}));
    t.push_back(Setting("SE2", 81, QStringLiteral("Ток МТЗ (отсечка)"), {}, QStringLiteral("%")));
    t.push_back(Setting("SE3", 82, QStringLiteral("Время МТЗ (отсечка)"), {}, QStringLiteral("мс")));
    t.push_back(Setting("SE4", 83, QStringLiteral("Уровень срабатывания"), QStringLiteral("изоляции:"), QStringLiteral("кОм")));
    t.push_back(Setting("SE5", 84, QStringLiteral("Время срабатывания по"), QStringLiteral("сопротивлению изоляции:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE6", 85, QStringLiteral("Уровень срабатывания"), QStringLiteral("несимметрии токов:"),
                        QStringLiteral("%")));
    t.push_back(Setting("SE7", 86, QStringLiteral("Время срабатывания"), QStringLiteral("несимметрии токов:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE8", 87, QStringLiteral("Уровень срабатывания"), QStringLiteral("пульсации токов:"),
                        QStringLiteral("%")));
    t.push_back(Setting("SE9", 88, QStringLiteral("Время срабатывания"), QStringLiteral("пульсации токов:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE20", 110, QStringLiteral("Время коррекции изоляции:"), {}, QStringLiteral("мин")));
    t.push_back(Setting("SE10", 89, QStringLiteral("Период определения"), QStringLiteral("пульсации токов:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE11", 90, QStringLiteral("Уровень срабатывания"), QStringLiteral("холостого хода:"), {}));
    t.push_back(Setting("SE12", 91, QStringLiteral("Время срабатывания"), QStringLiteral("холостого хода:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE13", 92, QStringLiteral("Уровень срабатывания"), QStringLiteral("перегрузки:"),
                        QStringLiteral("%")));
    t.push_back(Setting("SE14", 117, QStringLiteral("Время срабатывания"), QStringLiteral("перегрузки:"),
                        QStringLiteral("мс")));
    t.push_back(Setting("SE15", 103, QStringLiteral("Коэффициент интегратора"), QStringLiteral("при пуске:"), {}));
    t.push_back(Setting("SE19", 106, QStringLiteral("Коэффициент интегратора"), QStringLiteral("при работе:"), {}));
    t.push_back(Setting("SE16", 105, QStringLiteral("Коэффициент охлаждения"), {}, {}));
    t.push_back(Setting("SE17", 95, QStringLiteral("Контрольный тепловой"), QStringLiteral("импульс:"), QStringLiteral("%")));
    t.push_back(Setting("SE18", 93, QStringLiteral("Задержка повторного"), QStringLiteral("включения:"), QStringLiteral("мс")));
    t.push_back(Setting("SE22", 118, QStringLiteral("Максимальное время пуска:"), {}, QStringLiteral("мс")));
}

void AddConfiguration(std::vector<RegisterEntry>& t)
{
    t.push_back(Setting("NSE1", kRelayAddressRegister, QStringLiteral("Адрес подчиненного устройства:"), {}, {}, 1, 246));
    t.push_back(Setting("NSE2", 111, QStringLiteral("Время подсветки индикатора:"), {}, QStringLiteral("мин")));
    t.push_back(Setting("NSE3", 112, QStringLiteral("Время возврата из подменю:"), {}, QStringLiteral("мин")));
    t.push_back(Setting("NSE11", 116, QStringLiteral("Шаг изменения уставки:"), {}, {}, 0, 65535, 10));
    t.push_back(Setting("NSE4", 122, QStringLiteral("Пароль системы:"), {}, {}, 0, 65535, 10));
    t.push_back(Setting("NSE5", 99, QStringLiteral("Коэффициент приведения тока фазы А:"), {}, {}));
    t.push_back(Setting("NSE6", 100, QStringLiteral("Коэффициент приведения тока фазы В:"), {}, {}));
    t.push_back(Setting("NSE7", 101, QStringLiteral("Коэффициент приведения тока фазы С:"), {}, {}));
    t.push_back(Setting("NSE8", 102, QStringLiteral("Коэффициент приведения напряжения:"), {}, {}));
    t.push_back(Setting("NSE9", 98, QStringLiteral("Коэффициент приведения изоляции:"), {}, {}));
    t.push_back(Setting("NSE10", 109, QStringLiteral("Постоянная составляющая изоляции:"), {}, {}));
    t.push_back(Setting("NSE12", 119, QStringLiteral("Верхнее тарировочное сопротивление:"), {}, {}));
    t.push_back(Setting("NSE13", 120, QStringLiteral("Нижнее тарировочное сопротивление:"), {}, {}));
    t.push_back(Setting("NSE21", 94, QStringLiteral("Уровень блокироввки защиты по току:"), {}, QStringLiteral("%")));
    // The live values beside the calibration coefficients, read in turn with the settings.
    const RegisterBlock live = kLiveBlock;
    t.push_back(Entry("EditA", 50, K::Reading, live, QStringLiteral("Ток фазы А:"), QStringLiteral("%")));
    t.push_back(Entry("EditB", 51, K::Reading, live, QStringLiteral("Ток фазы В:"), QStringLiteral("%")));
    t.push_back(Entry("EditC", 52, K::Reading, live, QStringLiteral("Ток фазы С:"), QStringLiteral("%")));
    t.push_back(Entry("EditU", 60, K::Reading, live, QStringLiteral("Напряжение питания:"), QStringLiteral("B")));
    t.push_back(Choice("CB1", 113, QStringLiteral("Блокировка защиты:"),
                       {QStringLiteral("запретить"), QStringLiteral("разрешить")}));
    t.push_back(Choice("CB3", 115, QStringLiteral("Исходное состояние реле сигн-ции:"),
                       {QStringLiteral("отключено"), QStringLiteral("включено")}));
    t.push_back(Choice("CB2", 114, QStringLiteral("Исходное состояние реле отключения:"),
                       {QStringLiteral("включено"), QStringLiteral("отключено")}));
    const QStringList ranges = {
        QStringLiteral("0 - защита не настроена"),
        QStringLiteral("1 - Iном = (512..256)А, Ктт=8000, R=4.5 Ом "),
        QStringLiteral("2 - Iном = (256..128)А, Ктт=8000, R=9 Ом"),
        QStringLiteral("3 - Iном = (128..64)А,   Ктт=8000, R=18 Ом"),
        QStringLiteral("4 - Iном = (64..32)А,     Ктт=4500, R=20 Ом "),
        QStringLiteral("5 - Iном = (32..16)А,     Ктт=4500, R=40 Ом"),
        QStringLiteral("6 - Iном = (16..8)А,       Ктт=4500, R=80 Ом"),
        QStringLiteral("7 - Iном = (8..4)А,         Ктт=1500, R= Ом"),
        QStringLiteral("8 -  Iном = (4..2)А,        Ктт=1500, R= Ом "),
        QStringLiteral("9 -  Iном = (2..1)А,        Ктт=1500, R= Ом"),
        QStringLiteral("10 - Устр-во не поддерж-т данную функцию"),
    };
    // The nominal current range shows "not supported" for every value past
    // the list; the other boxes then show no item.
    t.push_back(Choice("CB4", 121, QStringLiteral("Диапозон номинального тока:"), ranges, int(ranges.size()) - 1));
}

void AddRecord(std::vector<RegisterEntry>& t, int n)
{
    const RegisterBlock b = RecordBlock(n);
    const int base = b.first;
    auto key = [n](const char* pattern, int k = 0) { return QString::fromLatin1(pattern).arg(n).arg(k); };
    auto add = [&](const QString& k, int reg, K kind, const QString& caption, const QString& unit = {}) {
        RegisterEntry e = Entry("", reg, kind, b, caption, unit);
        e.key = k;
        t.push_back(e);
    };
    // The moment: month and day at offsets 0 and 1, hour, minute and second at 2 to 4.
    add(QStringLiteral("DataP%1").arg(n), base, K::Moment, QStringLiteral("Дата:"));
    add(QStringLiteral("TimeP%1").arg(n), base + 2, K::Moment, QStringLiteral("Время:"));
    const struct {
        const char* caption;
        const char* unit;
    } values[11] = {
        {"Ток фазы А:", "%"}, {"Ток фазы В:", "%"}, {"Ток фазы С:", "%"},
        {"", "кОм"},   // the insulation's caption differs between records
        {"Уровень несимметрии токов фаз:", "%"}, {"Пульсация токов фаз:", "%"}, {"Тепловой импульс:", "%"},
        {"Тепловой импульс пуска:", "%"}, {"Напряжение питания:", "В"},   // Cyrillic Ve
        {"Пусковой ток:", "%"}, {"Время пуска:", "мс"},
    };
    const int status = base + 5;
    add(key("P%1E%2", 1), status, K::StatusWord, QStringLiteral("Статусный регистр:"));
    for (int k = 2; k <= 12; ++k) {
        QString caption = QString::fromUtf8(values[k - 2].caption);
        if (k == 5)
            caption = n == 1 ? QStringLiteral("Значение сопротивления изоляции:")
                             : QStringLiteral("Значение сопротивления изоляция:");
        add(key("P%1E%2", k), status + k - 1, K::Reading, caption, QString::fromUtf8(values[k - 2].unit));
    }
    QStringList names = StatusNames();
    names << QStringLiteral("Время пуска");
    for (int bit = 0; bit < kWordBits; ++bit) {
        add(key("P%1L%2", bit + 1), status, K::StatusBit, names[bit]);
        t.back().bit = bit;
    }
}

void AddMasks(std::vector<RegisterEntry>& t)
{
    // Mask 1 trips, mask 2 makes an event record, mask 3 signals.
    const struct {
        int reg;
        const char* caption;
        uint16_t fixed;
    } masks[3] = {
        {96, "Маска защит на отключение", uint16_t(kRelayOnlyBits | 0x8000)},
        {107, "Маска формирования протоколов", uint16_t(0x8000)},
        {97, "Маска защит на сигнал", uint16_t(kRelayOnlyBits | 0x8000)},
    };
    QStringList names = StatusNames();
    names[6] = QStringLiteral("Rизоляции < Rноминал");
    for (int m = 1; m <= 3; ++m) {
        RegisterEntry mask = Entry("", masks[m - 1].reg, K::Mask, kSettingsBlock, QString::fromUtf8(masks[m - 1].caption));
        mask.key = QStringLiteral("EditMask%1").arg(m);
        mask.fixedBits = masks[m - 1].fixed;
        t.push_back(mask);
        for (int bit = 0; bit < kMaskBits; ++bit) {
            RegisterEntry box = Entry("", mask.reg, K::MaskBit, kSettingsBlock, names[bit]);
            box.key = QStringLiteral("M%1CB%2").arg(m).arg(bit + 1);
            box.bit = bit;
            box.fixedBits = (mask.fixedBits >> bit) & 1u;
            t.push_back(box);
        }
    }
}

struct Index {
    std::vector<RegisterEntry> table;
    QHash<QString, const RegisterEntry*> byKey;
};

const Index& TheIndex()
{
    static const Index index = [] {
        Index built;
        AddCurrentParams(built.table);
        AddSetpoints(built.table);
        AddConfiguration(built.table);
        for (int n = 1; n <= kRecordCount; ++n)
            AddRecord(built.table, n);
        AddMasks(built.table);
        for (const RegisterEntry& e : built.table)
            built.byKey.insert(e.key, &e);
        return built;
    }();
    return index;
}

}  // namespace

const std::vector<RegisterEntry>& RegisterTable()
{
    return TheIndex().table;
}

const RegisterEntry* FindRegister(const QString& key)
{
    return TheIndex().byKey.value(key, nullptr);
}

int RegisterOf(const QString& key)
{
    const RegisterEntry* e = FindRegister(key);
    Q_ASSERT_X(e, "RegisterOf", qPrintable(key));
    return e ? e->reg : -1;
}

std::vector<const RegisterEntry*> EntriesIn(const RegisterBlock& block, std::initializer_list<RegisterKind> kinds)
{
    std::vector<const RegisterEntry*> found;
    for (const RegisterEntry& e : RegisterTable())
        if (e.block == block && std::find(kinds.begin(), kinds.end(), e.kind) != kinds.end())
            found.push_back(&e);
    return found;
}

QString EntryCaption(const RegisterEntry& entry)
{
    QString text = entry.caption.trimmed();
    if (!entry.caption2.isEmpty())
        text += QLatin1Char(' ') + entry.caption2.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

int ItemForValue(const RegisterEntry& entry, uint16_t value)
{
    return value < entry.items.size() ? int(value) : entry.itemForLarger;
}

QStringList BitNames(int reg)
{
    QStringList names;
    for (int bit = 0; bit < kWordBits; ++bit)
        names << QString();
    for (const RegisterEntry& e : RegisterTable())
        if (e.reg == reg && (e.kind == K::StatusBit || e.kind == K::MaskBit) && e.bit >= 0 && e.bit < kWordBits)
            names[e.bit] = e.caption;
    return names;
}
