// Which register each control shows, checked against the register numbers of
// the relay's documentation written out here, not against the layout tables
// the window itself reads: every register of the simulator holds a value of
// its own, so a control bound to a neighbour's register shows the wrong one.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QTimeEdit>

#include <utility>

#include "app/SpinEdit.h"
#include "support/RelaySim.h"
#include "support/SimWindow.h"

namespace {

// A value no other register holds.
int Distinct(int reg)
{
    return 100 * reg + 7;
}

// Registers that need a value within a small range, each still its own.
const std::pair<int, int> kSmallValues[] = {
    {67, 3}, {68, 15}, {69, 10}, {70, 20}, {71, 30},   // the relay's clock: 15 March, 10:20:30
    {80, 123},                                          // the relay's address, 1..246
    {113, 1}, {114, 0}, {115, 7}, {121, 5},             // selection boxes; 7 is past CB3's list
};

const std::pair<const char*, int> kPage0Fields[] = {
    {"E0", 78}, {"E2", 50}, {"E3", 51}, {"E4", 52}, {"E5", 53}, {"E6", 54}, {"E7", 55},
    {"E8", 56}, {"E9", 57}, {"E10", 58}, {"E11", 59}, {"E12", 60},
};
const std::pair<const char*, int> kSetpoints[] = {
    {"SE0", 108}, {"SE1", 104}, {"SE2", 81}, {"SE3", 82}, {"SE4", 83}, {"SE5", 84},
    {"SE6", 85}, {"SE7", 86}, {"SE8", 87}, {"SE9", 88}, {"SE10", 89}, {"SE11", 90},
    {"SE12", 91}, {"SE13", 92}, {"SE14", 117}, {"SE15", 103}, {"SE16", 105}, {"SE17", 95},
    {"SE18", 93}, {"SE19", 106}, {"SE20", 110}, {"SE22", 118},
};
const std::pair<const char*, int> kConfiguration[] = {
    {"NSE1", 80}, {"NSE2", 111}, {"NSE3", 112}, {"NSE4", 122}, {"NSE5", 99}, {"NSE6", 100},
    {"NSE7", 101}, {"NSE8", 102}, {"NSE9", 98}, {"NSE10", 109}, {"NSE11", 116}, {"NSE12", 119},
    {"NSE13", 120}, {"NSE21", 94},
};
const std::pair<const char*, int> kLiveOnConfiguration[] = {{"EditA", 50}, {"EditB", 51}, {"EditC", 52}, {"EditU", 60}};
const std::pair<const char*, int> kBoxes[] = {{"CB1", 113}, {"CB2", 114}, {"CB3", 115}, {"CB4", 121}};
// Mask n of the tab's columns, left to right.
const int kMaskRegister[] = {96, 107, 97};

// Sixteen bits, most significant first, a blank after the eighth.
QString Bits(int word)
{
    QString text;
    for (int bit = 15; bit >= 0; --bit) {
        text += QLatin1Char((word >> bit) & 1 ? '1' : '0');
        if (bit == 8)
            text += QLatin1Char(' ');
    }
    return text;
}

struct BoundRegisters : SimWindowTest {
    std::map<int, int> regs;

    void SetUp() override
    {
        for (int r = 50; r <= 123; ++r)
            regs[r] = Distinct(r);
        for (auto [r, v] : kSmallValues)
            regs[r] = v;
        std::vector<std::string> args{"--no-pace", "--freeze", "--log", logPath.toStdString()};
        for (auto [r, v] : regs)
            args.insert(args.end(), {"--set", std::to_string(r) + "=" + std::to_string(v)});
        StartSim(args);
    }
    QString Text(const char* name) { return form.ControlAs<QLineEdit>(QLatin1String(name))->text(); }
    bool WaitFor(const std::function<bool()>& what) { return QTest::qWaitFor(what, 5000); }
    // The box's item for a register value: none past its list.
    static int Item(const QComboBox* box, int value) { return value < box->count() ? value : -1; }
};

TEST_F(BoundRegisters, EveryPageShowsEachRegisterInItsOwnControl)
{
    // Page 0, opened with the port.
    ASSERT_TRUE(WaitFor([&] { return Text("E0") == QString::number(regs[78]); }));
    for (auto [name, reg] : kPage0Fields)
        EXPECT_EQ(Text(name), QString::number(regs[reg])) << name;
    EXPECT_EQ(Text("E1"), Bits(regs[66]));
    EXPECT_EQ(form.ControlAs<QDateEdit>(QStringLiteral("DPicker"))->date().month(), 3);
    EXPECT_EQ(form.ControlAs<QDateEdit>(QStringLiteral("DPicker"))->date().day(), 15);
    EXPECT_EQ(form.ControlAs<QTimeEdit>(QStringLiteral("TPicker"))->time(), QTime(10, 20, 30));

    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return form.ControlAs<TSpinEdit>(QStringLiteral("SE0"))->Value() == regs[108]; }));
    for (auto [name, reg] : kSetpoints)
        EXPECT_EQ(form.ControlAs<TSpinEdit>(QLatin1String(name))->Value(), regs[reg]) << name;

    ui.SelectPage(2);
    ASSERT_TRUE(WaitFor([&] {
        return form.ControlAs<TSpinEdit>(QStringLiteral("NSE2"))->Value() == regs[111]
            && Text("EditU") == QString::number(regs[60]);
    }));
    for (auto [name, reg] : kConfiguration)
        EXPECT_EQ(form.ControlAs<TSpinEdit>(QLatin1String(name))->Value(), regs[reg]) << name;
    for (auto [name, reg] : kLiveOnConfiguration)
        EXPECT_EQ(Text(name), QString::number(regs[reg])) << name;
    for (auto [name, reg] : kBoxes) {
        const auto* box = form.ControlAs<QComboBox>(QLatin1String(name));
        EXPECT_EQ(box->currentIndex(), Item(box, regs[reg])) << name;
    }

    ui.SelectPage(7);
    ASSERT_TRUE(WaitFor([&] { return Text("EditMask1") == Bits(regs[96]); }));
    for (int mask = 1; mask <= 3; ++mask) {
        const int word = regs[kMaskRegister[mask - 1]];
        EXPECT_EQ(form.ControlAs<QLineEdit>(QStringLiteral("EditMask%1").arg(mask))->text(), Bits(word)) << mask;
        for (int k = 1; k <= 15; ++k)
            EXPECT_EQ(form.ControlAs<QCheckBox>(QStringLiteral("M%1CB%2").arg(mask).arg(k))->isChecked(),
                      bool((word >> (k - 1)) & 1))
                << "mask " << mask << " box " << k;
    }
}

}  // namespace
