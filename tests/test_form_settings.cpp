// "Уставки" and "Настройки" driven as the user does against the relay
// simulator: every control filled from its register, the live values in turn
// with the configuration, edits protected from the reads, and ENTER writing
// one register whose echo is checked and whose page is read back.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>

#include "app/LayoutTables.h"
#include "app/SpinEdit.h"
#include "support/ModbusFrames.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {

// Register values no two controls share: 1000 + the register, but for the
// relay's address and the four selection boxes, which have small ranges.
std::map<int, int> DistinctSettings()
{
    std::map<int, int> regs;
    for (int r = 80; r <= 123; ++r)
        regs[r] = 1000 + r;
    regs[80] = 17;    // NSE1
    regs[113] = 1;    // CB1 "разрешить"
    regs[114] = 0;    // CB2 "включено"
    regs[115] = 0;    // CB3 "отключено"
    regs[121] = 4;    // CB4 item 4
    regs[50] = 501;   // the live block beside the configuration
    regs[51] = 502;
    regs[52] = 503;
    regs[60] = 560;
    return regs;
}

std::vector<std::string> SimArgs(const std::map<int, int>& regs, const std::string& log,
                                 std::vector<std::string> extra = {})
{
    std::vector<std::string> args{"--no-pace", "--freeze", "--log", log};
    for (auto [r, v] : regs) {
        args.push_back("--set");
        args.push_back(std::to_string(r) + "=" + std::to_string(v));
    }
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

struct SettingsWindow : SimWindowTest {
    std::map<int, int> regs = DistinctSettings();

    void Start(std::vector<std::string> extra = {})
    {
        StartSim(SimArgs(regs, logPath.toStdString(), std::move(extra)));
    }

    TSpinEdit* Spin(const QString& name) { return form.ControlAs<TSpinEdit>(name); }
    QComboBox* Box(const char* name) { return form.ControlAs<QComboBox>(QLatin1String(name)); }
    int Reg(const QString& name) { return FindRow(name)->reg; }
    std::vector<const ControlRow*> SpinRows(int page)
    {
        std::vector<const ControlRow*> rows;
        for (const ControlRow& row : LayoutTables().at(size_t(page)).rows)
            if (row.kind == ControlKind::SpinEdit)
                rows.push_back(&row);
        return rows;
    }
    // Types into a spin edit as the user does: click into it, select all, type.
    void Type(TSpinEdit* spin, const QString& text)
    {
        QTest::mouseClick(spin, Qt::LeftButton);
        spin->setFocus();
        spin->selectAll();
        QTest::keyClicks(spin, text);
    }
    void Enter(QWidget* w) { QTest::keyClick(w, Qt::Key_Return); }
    bool WaitFor(const std::function<bool()>& what, int ms = 5000) { return QTest::qWaitFor(what, ms); }
    std::vector<Frame> Logged() { return LoggedFrames(logPath); }
};

TEST_F(SettingsWindow, SetpointsPageFillsEveryControlFromItsOwnRegister)
{
    regs[117] = 0;   // SE14: the integrator and cooling settings apply
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE0")->text() == "1108"; }));
    for (const ControlRow* row : SpinRows(1))
        EXPECT_EQ(Spin(row->name)->Value(), regs[row->reg]) << row->name.toStdString();
    for (const char* name : {"SE15", "SE16", "SE17", "SE19"})
        EXPECT_TRUE(Spin(QLatin1String(name))->isEnabled()) << name;
    // Every request on this page reads the 44-register block from 80.
    const Frame block = RelaySim::readRequest(1, 80, 44);
    EXPECT_EQ(Logged().back(), block);
}

TEST_F(SettingsWindow, NonZeroOverloadTimeDisablesTheIntegratorAndCoolingSettings)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE14")->text() == "1117"; }));
    for (const char* name : {"SE15", "SE16", "SE17", "SE19"})
        EXPECT_FALSE(Spin(QLatin1String(name))->isEnabled()) << name;
    for (const char* name : {"SE13", "SE18", "SE22"})
        EXPECT_TRUE(Spin(QLatin1String(name))->isEnabled()) << name;
}

TEST_F(SettingsWindow, ConfigurationPageAlternatesLiveValuesFirstThenTheBlock)
{
    Start();
    const size_t before = Logged().size();
    ui.SelectPage(2);
    ASSERT_TRUE(WaitFor([&] { return Spin("NSE2")->text() == "1111" && ui.Text("EditU") == "560"; }));
    ASSERT_TRUE(WaitFor([&] { return Logged().size() >= before + 6; }));
    for (const ControlRow* row : SpinRows(2)) {
        if (row->name != QLatin1String("NSE1")) {
            EXPECT_EQ(Spin(row->name)->Value(), regs[row->reg]) << row->name.toStdString();
        }
    }
    EXPECT_EQ(Spin("NSE1")->Value(), 17);
    EXPECT_EQ(ui.Text("EditA"), "501");
    EXPECT_EQ(ui.Text("EditB"), "502");
    EXPECT_EQ(ui.Text("EditC"), "503");
    EXPECT_EQ(Box("CB1")->currentText(), QStringLiteral("разрешить"));
    EXPECT_EQ(Box("CB2")->currentText(), QStringLiteral("включено"));
    EXPECT_EQ(Box("CB3")->currentText(), QStringLiteral("отключено"));
    EXPECT_EQ(Box("CB4")->currentIndex(), 4);

    // On the wire: the request in flight when the page changed, then live,
    // block, live, block...
    const Frame live = RelaySim::readRequest(1, 50, 11), block = RelaySim::readRequest(1, 80, 44);
    const auto frames = Logged();
    size_t first = before;
    while (first < frames.size() && frames[first] != live)
        ++first;
    ASSERT_LE(first, before + 1);
    for (size_t i = first; i < frames.size() && i < first + 6; ++i)
        EXPECT_EQ(frames[i], (i - first) % 2 == 0 ? live : block) << "request " << i - first;
}

// Values past the lists: no item in CB1 to CB3, the last item in CB4; the
// relay's address held within 1 to 246.
TEST_F(SettingsWindow, SelectionBoxesAndAddressShowOutOfListValuesAsDesigned)
{
    regs[113] = 2;
    regs[114] = 1;
    regs[115] = 1;
    regs[121] = 10;
    regs[80] = 300;
    Start();
    ui.SelectPage(2);
    ASSERT_TRUE(WaitFor([&] { return Spin("NSE2")->text() == "1111"; }));
    EXPECT_EQ(Box("CB1")->currentIndex(), -1);
    EXPECT_EQ(Box("CB2")->currentText(), QStringLiteral("отключено"));
    EXPECT_EQ(Box("CB3")->currentText(), QStringLiteral("включено"));
    EXPECT_EQ(Box("CB4")->currentText(), QStringLiteral("10 - Устр-во не поддерж-т данную функцию"));
    EXPECT_EQ(Spin("NSE1")->Value(), 246);
}

TEST_F(SettingsWindow, AValueBeingTypedSurvivesTheReadsWhileEveryOtherSettingFollowsTheRelay)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084"; }));
    TSpinEdit* se5 = Spin("SE5");
    Type(se5, "4321");
    ASSERT_TRUE(se5->hasFocus());
    EXPECT_EQ(se5->property("Tag").toInt(), 111);

    // Every other setpoint is put off the relay's value; the reads bring them
    // back although a control has the focus, and never mark them as edited.
    for (const ControlRow* row : SpinRows(1))
        if (row->name != QLatin1String("SE5"))
            Spin(row->name)->SetValue(7);
    ASSERT_TRUE(WaitFor([&] {
        for (const ControlRow* row : SpinRows(1))
            if (row->name != QLatin1String("SE5") && Spin(row->name)->Value() != regs[row->reg])
                return false;
        return true;
    }));
    for (const ControlRow* row : SpinRows(1)) {
        if (row->name != QLatin1String("SE5")) {
            EXPECT_EQ(Spin(row->name)->property("Tag").toInt(), 0) << row->name.toStdString();
        }
    }
    EXPECT_EQ(se5->text(), "4321");
    EXPECT_TRUE(Writes(Logged()).empty()) << "nothing written without ENTER";

    // Leaving the control drops the edit: the relay's value comes back.
    QTest::mouseClick(Spin("SE0"), Qt::LeftButton);
    Spin("SE0")->setFocus();
    ASSERT_TRUE(WaitFor([&] { return se5->text() == "1084"; }));
    EXPECT_EQ(se5->property("Tag").toInt(), 0);
    EXPECT_TRUE(Writes(Logged()).empty());
}

TEST_F(SettingsWindow, EnterWritesTheExactFrameAndThePageReadsTheRelaysValueBack)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084"; }));
    Type(Spin("SE5"), "2500");
    Enter(Spin("SE5"));
    EXPECT_EQ(QApplication::focusWidget(), nullptr) << "ENTER takes the focus away";
    EXPECT_EQ(form.Exchanges().WriteUstRequest, 1);
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    EXPECT_EQ(Writes(Logged()).front(), WriteFrame(84, 2500));
    EXPECT_EQ(Writes(Logged()).front(),
              (Frame{0x01, 0x06, 0x00, 0x54, 0x09, 0xC4, Writes(Logged()).front()[6], Writes(Logged()).front()[7]}));
    // After the echo the block is read again and shows the stored value.
    ASSERT_TRUE(WaitFor([&] { return form.Exchanges().PollMode == 1; }));
    const size_t afterWrite = Logged().size();
    ASSERT_TRUE(WaitFor([&] { return Logged().size() > afterWrite + 1; }));
    EXPECT_EQ(Spin("SE5")->text(), "2500");
    EXPECT_EQ(Writes(Logged()).size(), 1u);
    EXPECT_EQ(Logged().back(), RelaySim::readRequest(1, 80, 44));
}

TEST_F(SettingsWindow, RangeComesBeforeTheValueAndTheAddressWriteLeavesTheAddressTalkedTo)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084"; }));
    struct Case {
        const char* control;
        const char* typed;
        int written;
    };
    const Case cases[] = {{"SE5", "70000", 65535}, {"SE6", "-5", 0}, {"SE7", "-", 0}};
    for (const Case& c : cases) {
        const size_t writes = Writes(Logged()).size();
        Type(Spin(QLatin1String(c.control)), QLatin1String(c.typed));
        Enter(Spin(QLatin1String(c.control)));
        ASSERT_TRUE(WaitFor([&] { return Writes(Logged()).size() > writes; })) << c.control;
        EXPECT_EQ(Writes(Logged()).back(), WriteFrame(Reg(QLatin1String(c.control)), c.written)) << c.control;
        ASSERT_TRUE(WaitFor([&] { return Spin(QLatin1String(c.control))->Value() == c.written; })) << c.control;
    }

    ui.SelectPage(2);
    ASSERT_TRUE(WaitFor([&] { return Spin("NSE1")->text() == "17"; }));
    const size_t writes = Writes(Logged()).size();
    Type(Spin("NSE1"), "-");
    Enter(Spin("NSE1"));
    ASSERT_TRUE(WaitFor([&] { return Writes(Logged()).size() > writes; }));
    EXPECT_EQ(Writes(Logged()).back(), WriteFrame(80, 1));
    EXPECT_EQ(form.Link().SlaveAddress, 1);
    // The relay goes on answering at the address the window talks to.
    ASSERT_TRUE(WaitFor([&] { return Spin("NSE1")->text() == "1"; }));
    EXPECT_EQ(Logged().back()[0], 1);
}

TEST_F(SettingsWindow, SelectionBoxWritesTheChosenItemsIndex)
{
    Start();
    ui.SelectPage(2);
    ASSERT_TRUE(WaitFor([&] { return Box("CB4")->currentIndex() == 4; }));
    QComboBox* cb4 = Box("CB4");
    cb4->setFocus();
    // The user picks item 7 with the keyboard, then confirms.
    for (int i = 0; i < 3; ++i)
        QTest::keyClick(cb4, Qt::Key_Down);
    EXPECT_EQ(cb4->currentIndex(), 7);
    EXPECT_EQ(cb4->property("Tag").toInt(), 111);
    Enter(cb4);
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    EXPECT_EQ(Writes(Logged()).back(), WriteFrame(121, 7));
    ASSERT_TRUE(WaitFor([&] { return form.Exchanges().PollMode == 1; }));
    EXPECT_EQ(cb4->currentIndex(), 7);
}

// The second ENTER before the first write's frame was built: only the second
// value goes out. The second one while the first is in flight: both go, in turn.
TEST_F(SettingsWindow, TwoQuickEntersWriteTheLatestOrBothInTurn)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE2")->text() == "1081"; }));
    Type(Spin("SE2"), "11");
    Enter(Spin("SE2"));
    Type(Spin("SE3"), "22");
    Enter(Spin("SE3"));   // no receive event in between
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    ASSERT_TRUE(WaitFor([&] { return form.Exchanges().PollMode == 1 && Spin("SE3")->text() == "22"; }));
    EXPECT_EQ(Writes(Logged()), std::vector<Frame>{WriteFrame(82, 22)});
    EXPECT_EQ(Spin("SE2")->text(), "1081") << "the first edit was replaced, the relay's value shows";

    // The second ENTER comes in the very tick that sent the first write, so
    // the first is surely in flight: its echo must change nothing.
    Type(Spin("SE4"), "33");
    bool second = false;
    QObject scope;   // the hook goes with this test's locals, before the fixture's window
    QObject::connect(form.Timer(), &QTimer::timeout, &scope, [&] {
        if (!second && form.Link().Sent.IsWrite() && form.Link().Sent.Register() == 83 && form.Link().ReadyToSend == 0) {
            second = true;
            Type(Spin("SE6"), "44");
            Enter(Spin("SE6"));
        }
    });
    Enter(Spin("SE4"));
    ASSERT_TRUE(WaitFor([&] { return Writes(Logged()).size() >= 3 && form.Exchanges().PollMode == 1; }));
    ASSERT_TRUE(second);
    const size_t reads = Logged().size();
    ASSERT_TRUE(WaitFor([&] { return Logged().size() > reads + 1; }));
    EXPECT_EQ(Spin("SE4")->text(), "33");
    EXPECT_EQ(Spin("SE6")->text(), "44");
    const auto writes = Writes(Logged());
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[1], WriteFrame(83, 33));
    EXPECT_EQ(writes[2], WriteFrame(85, 44));
}

// With the port open and no answer, ENTER raises the request; the write goes
// out once the relay's bytes come again.
TEST_F(SettingsWindow, EnterWhileTheRelayIsSilentWaitsForItsBytes)
{
    Start();
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE8")->text() == "1087"; }));
    kill(sim->pid(), SIGSTOP);
    ASSERT_TRUE(WaitFor([&] { return form.Link().LinkLost(); }));
    Type(Spin("SE8"), "55");
    Enter(Spin("SE8"));
    QTest::qWait(400);
    EXPECT_EQ(form.Exchanges().WriteUstRequest, 1);
    EXPECT_EQ(form.Exchanges().PollMode, 1);
    kill(sim->pid(), SIGCONT);
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    EXPECT_EQ(Writes(Logged()).front(), WriteFrame(87, 55));
    ASSERT_TRUE(WaitFor([&] { return Spin("SE8")->text() == "55" && !form.Link().LinkLost(); }));
}

// A relay that clamps echoes the value it stored; that is its final word: one
// write frame, then the page shows the clamped value.
TEST_F(SettingsWindow, ClampedEchoEndsTheWriteAndTheStoredValueShows)
{
    Start({"--clamp", "2000"});
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084"; }));
    Type(Spin("SE5"), "2500");
    Enter(Spin("SE5"));
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "2000"; }));
    QTest::qWait(300);
    EXPECT_EQ(Writes(Logged()), std::vector<Frame>{WriteFrame(84, 2500)});
    EXPECT_EQ(form.Exchanges().PollMode, 1);
}

// A relay that refuses the write with an exception: no more write frames, and
// the page shows what the relay holds.
TEST_F(SettingsWindow, RefusedWriteEndsWithTheRelaysValueShown)
{
    Start({"--refuse-writes", "84"});
    ui.SelectPage(1);
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084"; }));
    Type(Spin("SE5"), "2500");
    Enter(Spin("SE5"));
    ASSERT_TRUE(WaitFor([&] { return !Writes(Logged()).empty(); }));
    ASSERT_TRUE(WaitFor([&] { return Spin("SE5")->text() == "1084" && form.Exchanges().PollMode == 1; }));
    QTest::qWait(400);
    EXPECT_EQ(Writes(Logged()).size(), 1u);
    EXPECT_FALSE(form.Link().LinkLost());
}

TEST_F(SettingsWindow, PortClosedEnterWritesNothingAndTheMarkStays)
{
    form.show();
    QApplication::setActiveWindow(&form);
    ui.SelectPage(1);
    Type(Spin("SE5"), "123");
    Enter(Spin("SE5"));
    EXPECT_EQ(form.Exchanges().WriteUstRequest, 0);
    EXPECT_EQ(Spin("SE5")->property("Tag").toInt(), 111);
}

}  // namespace
