// Fault soak: the window polls a relay whose replies are dropped, spoilt,
// preceded by stray bytes, answered with exceptions or cut short, while the
// user goes through every page and writes settings. Every value a reply puts
// on screen must be one the relay held for that register (0 wrong values),
// every write on the line must be one the user confirmed, and every write the
// user confirmed must have gone out and ended as the relay's own value
// (0 lost writes).
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <random>
#include <set>

#include "exchanges/RegisterTable.h"
#include "app/SpinEdit.h"
#include "exchanges/EventRecords.h"
#include "exchanges/ExchangeTable.h"
#include "exchanges/RelayClock.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/BitText.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/WindowDriver.h"

namespace {

int SoakSeconds()
{
    const QByteArray env = qgetenv("ZASHCHITA_SOAK_SECONDS");
    return env.isEmpty() ? 60 : env.toInt();
}


struct Soak {
    std::map<int, std::vector<int>> held;   // every value each register has held
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0));
    int checked = 0;
    QStringList wrong;
    bool userActing = false;   // changes made by the test as the user are not decodes

    // A register value that the relay may have held: the one displayed must be one of them.
    bool Held(int reg, const std::function<bool(int)>& matches) const
    {
        auto it = held.find(reg);
        if (it == held.end())
            return false;
        for (int v : it->second)
            if (matches(v))
                return true;
        return false;
    }

    void Check(const BoundControl& c)
    {
        if (userActing)
            return;
        const ControlRow& row = *c.row;
        bool ok = true;
        QString shown;
        if (auto* spin = qobject_cast<TSpinEdit*>(c.widget)) {
            shown = spin->text();
            if (shown.isEmpty())
                return;
            ok = Held(row.reg, [&](int v) { return spin->CheckValue(v) == spin->Value(); });
        } else if (auto* edit = qobject_cast<QLineEdit*>(c.widget)) {
            shown = edit->text();
            if (shown.isEmpty())
                return;
            if (row.format == ValueFormat::BitText)
                ok = Held(row.reg, [&](int v) { return WordToBitText(uint16_t(v)) == shown; });
            else if (row.format == ValueFormat::Decimal)
                ok = Held(row.reg, [&](int v) { return QString::number(v) == shown; });
            else
                ok = MomentHeld(row, shown);
        } else if (auto* box = qobject_cast<QComboBox*>(c.widget)) {
            shown = QString::number(box->currentIndex());
            ok = Held(row.reg, [&](int v) { return ItemForValue(*FindRegister(row.name), uint16_t(v)) == box->currentIndex(); });
        } else if (auto* check = qobject_cast<QCheckBox*>(c.widget)) {
            shown = check->isChecked() ? "on" : "off";
            ok = Held(row.reg, [&](int v) { return bool(v >> row.bit & 1) == check->isChecked(); });
        } else {
            return;
        }
        ++checked;
        if (!ok)
            wrong << row.name + QStringLiteral(" shows ") + shown;
    }

    // DataPn and TimePn: the moment of the record's five registers.
    bool MomentHeld(const ControlRow& row, const QString& shown) const
    {
        const int record = (row.reg - kFirstRecordRegister) / kRecordLength + 1;
        const int first = kFirstRecordRegister + kRecordLength * (record - 1);
        RelayClockFields f;
        f.month = uint16_t(held.at(first).front());
        f.day = uint16_t(held.at(first + 1).front());
        f.hour = uint16_t(held.at(first + 2).front());
        f.minute = uint16_t(held.at(first + 3).front());
        f.second = uint16_t(held.at(first + 4).front());
        const QDateTime moment = RecordMoment(now, f);
        return shown == ShortDateText(moment.date()) || shown == LongTimeText(moment.time());
    }
};

TEST(FaultSoak, EveryValueShownIsTheRelaysAndNoWriteIsLost)
{
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("sim.log"));
    Soak soak;
    std::vector<std::string> args{"--no-pace", "--freeze", "--seed", "29", "--log", logPath.toStdString(),
                                  "--drop", "0.06", "--bad-crc", "0.06", "--garbage", "0.06",
                                  "--exception", "0.06", "--truncate", "0.06"};
    // Known values, none shared between registers where the range allows.
    std::map<int, int> preset;
    const RegisterBlock current = kCurrentParamsBlock, settings = kSettingsBlock;
    for (int r = current.first; r < current.first + current.count; ++r)
        preset[r] = 3000 + r;
    const int relayClock = RegisterOf(QStringLiteral("DPicker"));   // month, day, hour, minute, second
    const int moment[5] = {6, 15, 12, 30, 45};
    for (int k = 0; k < 5; ++k)
        preset[relayClock + k] = moment[k];
    preset[RegisterOf(QStringLiteral("E1"))] = 0x4C05;
    for (int r = settings.first; r < settings.first + settings.count; ++r)
        preset[r] = 1000 + r;
    preset[kRelayAddressRegister] = 17;
    for (const auto& [key, value] : {std::pair{"CB1", 1}, {"CB2", 0}, {"CB3", 1}, {"CB4", 6}, {"EditMask1", 0x405B},
                                     {"EditMask3", 0x2184}, {"EditMask2", 0x41FF}})
        preset[RegisterOf(QString::fromLatin1(key))] = value;
    for (auto [r, v] : preset) {
        args.push_back("--set");
        args.push_back(std::to_string(r) + "=" + std::to_string(v));
    }
    for (const auto& [r, v] : RelaySim::dumpRegisters(args))
        soak.held[r] = {v};

    RelaySim sim(args);
    PortEnv env(1, sim.path());
    MessageCatcher boxes;
    TForm1 form;
    form.SetNow([&] { return soak.now; });
    form.show();
    QApplication::setActiveWindow(&form);
    WindowDriver ui{form};

    // Every change of a register control that the test did not make is a decode.
    for (int page = 0; page < 8; ++page) {
        for (const BoundControl& c : form.Registers().Page(page)) {
            const BoundControl* bound = &c;
            if (auto* edit = qobject_cast<QLineEdit*>(c.widget))
                QObject::connect(edit, &QLineEdit::textChanged, [&soak, bound] { soak.Check(*bound); });
            else if (auto* box = qobject_cast<QComboBox*>(c.widget))
                QObject::connect(box, &QComboBox::currentIndexChanged, [&soak, bound] { soak.Check(*bound); });
            else if (auto* check = qobject_cast<QCheckBox*>(c.widget))
                QObject::connect(check, &QCheckBox::toggled, [&soak, bound] { soak.Check(*bound); });
        }
    }
    ASSERT_TRUE(ui.Open());

    // Ten times a second the shown page is wiped, so that every reply has to
    // fill it again and each value it puts there is checked.
    QTimer wipe;
    QObject::connect(&wipe, &QTimer::timeout, [&] {
        soak.userActing = true;
        for (const BoundControl& c : form.Registers().Page(form.PageControl1()->currentIndex())) {
            if (IsEdited(c.widget))
                continue;
            if (auto* spin = qobject_cast<TSpinEdit*>(c.widget))
                spin->setText(QString());
            else if (auto* edit = qobject_cast<QLineEdit*>(c.widget))
                edit->clear();
            else if (auto* box = qobject_cast<QComboBox*>(c.widget))
                box->setCurrentIndex(-1);
            else if (auto* check = qobject_cast<QCheckBox*>(c.widget))
                check->setChecked(!check->isChecked());
        }
        soak.userActing = false;
    });
    wipe.start(100);

    std::mt19937 rng(7);
    struct Entered {
        int reg;
        int value;
    };
    std::vector<Entered> entered;
    const QElapsedTimer clock = [] { QElapsedTimer t; t.start(); return t; }();
    const int pages[] = {0, 1, 3, 2, 4, 7, 5, 1, 6, 2};
    int step = 0;
    while (clock.elapsed() < SoakSeconds() * 1000) {
        const int page = pages[step++ % std::size(pages)];
        soak.userActing = true;
        ui.SelectPage(page);
        soak.userActing = false;
        QTest::qWait(800);
        if (page != 1 && page != 2)
            continue;
        // Write one setting, and let the write end (echo, refusal, or the
        // relay's own value) before the next.
        std::vector<const BoundControl*> spins;
        for (const BoundControl& c : form.Registers().Page(page))
            if (c.row->kind == ControlKind::SpinEdit && c.row->name != QLatin1String("NSE1") && c.widget->isEnabled())
                spins.push_back(&c);
        const BoundControl* target = spins[rng() % spins.size()];
        auto* spin = static_cast<TSpinEdit*>(target->widget);
        const int value = int(rng() % 60000);
        soak.userActing = true;
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, QString::number(value));
        soak.held[target->row->reg].push_back(value);
        QTest::keyClick(spin, Qt::Key_Return);
        soak.userActing = false;
        if (form.Exchanges().WriteUstRequest == 1)
            entered.push_back({target->row->reg, value});
        (void)QTest::qWaitFor([&] { return form.Exchanges().WriteUstRequest == 0 && form.Exchanges().PollMode != 2; }, 10000);
    }

    // Let the page settle with good reads, then close and ask the relay itself.
    wipe.stop();
    ui.SelectPage(1);
    QTest::qWait(1500);
    ASSERT_TRUE(ui.Close());
    EXPECT_TRUE(soak.wrong.isEmpty()) << soak.wrong.join('\n').toStdString();
    EXPECT_GT(soak.checked, 1000);
    EXPECT_GE(entered.size(), 5u);

    const auto frames = LoggedFrames(logPath);
    std::set<std::pair<int, int>> enteredPairs;
    for (const Entered& e : entered)
        enteredPairs.insert({e.reg, e.value});
    std::set<std::pair<int, int>> writtenPairs;
    for (const Frame& f : frames)
        if (f.size() == 8 && f[1] == 6)
            writtenPairs.insert({f[3], f[4] << 8 | f[5]});
    // Nothing went out that the user did not confirm; everything confirmed went out.
    for (const auto& w : writtenPairs)
        EXPECT_TRUE(enteredPairs.count(w)) << "unconfirmed write of " << w.second << " to " << w.first;
    for (const auto& e : enteredPairs)
        EXPECT_TRUE(writtenPairs.count(e)) << "lost write of " << e.second << " to " << e.first;

    // Each written register holds the last value entered for it, or, if the
    // relay refused that write, a value it held before: never anything else.
    SimLine line(sim.path());
    ASSERT_TRUE(line.isOpen());
    std::map<int, int> last;
    for (const Entered& e : entered)
        last[e.reg] = e.value;
    int refused = 0;
    for (int attempt = 0; attempt < 20; ++attempt) {
        const RegisterBlock block = kSettingsBlock;
        const size_t length = size_t(2 * block.count + 5);
        const auto reply = line.transact(RelaySim::readRequest(1, uint16_t(block.first), uint16_t(block.count)), length);
        if (reply.size() != length || reply[1] != 3
            || ModbusCrc(reply.data(), length - 2) != (reply[length - 2] | reply[length - 1] << 8))
            continue;
        for (auto [reg, value] : last) {
            const int at = 3 + 2 * (reg - block.first);
            const int stored = reply[at] << 8 | reply[at + 1];
            if (stored != value) {
                ++refused;
                EXPECT_TRUE(soak.Held(reg, [&](int v) { return v == stored; })) << reg << " holds " << stored;
            }
        }
        break;
    }
    RecordProperty("values_checked", soak.checked);
    RecordProperty("writes", int(entered.size()));
    RecordProperty("refused_writes", refused);
    std::printf("values checked %d, exchanges %zu, writes %zu, ended refused %d\n", soak.checked, frames.size(),
                entered.size(), refused);
}

}  // namespace
