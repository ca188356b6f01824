// A watching station: the window with --read-only tried on every path to a
// write (a setting's ENTER, a selection box's ENTER, a mask's Ok, the clock,
// a settings load) sends none, which the simulator's log shows; the
// companion refuses a writing command as a usage error.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProcess>
#include <QToolButton>

#include "CliOptions.h"
#include "app/SpinEdit.h"
#include "app/settings/Prompts.h"
#include "app/settings/SettingsActions.h"
#include "exchanges/Masks.h"
#include "exchanges/SetpointsConfig.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {
struct ReadOnlyWindow : SimWindowTest {};
}  // namespace

TEST_F(ReadOnlyWindow, NoPathWritesAndTheWindowSaysSo)
{
    form.SetReadOnly(true);
    StartSim({"--no-pace", "--freeze", "--log", logPath.toStdString()});
    EXPECT_TRUE(form.windowTitle().contains(QStringLiteral("только просмотр")));

    ui.SelectPage(1);
    auto* spin = form.ControlAs<TSpinEdit>(QStringLiteral("SE2"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !spin->text().isEmpty(); }, 5000));
    const QString before = spin->text();
    QTest::mouseClick(spin, Qt::LeftButton);
    QTest::keyClicks(spin, "11");
    QTest::keyClick(spin, Qt::Key_Up);
    EXPECT_EQ(spin->text(), before) << "the edit takes no typing";
    QTest::keyClick(spin, Qt::Key_Return);

    ui.SelectPage(2);
    auto* box = form.ControlAs<QComboBox>(QStringLiteral("CB1"));
    EXPECT_FALSE(box->isEnabled());
    form.CB1KeyDown(box, Qt::Key_Return);

    ui.SelectPage(kMasksPage);
    QTest::qWait(500);
    form.ButtonM1Click();
    form.ButtonSysClick(form.Control(QStringLiteral("ButtonSys")));
    EXPECT_TRUE(form.Control(QStringLiteral("ButtonSys"))->isHidden());

    int filesAsked = 0;
    const FileChooserHook earlier = SetFileChooserHook([&](FileChoice, const QString&) {
        ++filesAsked;
        return QString();
    });
    auto* actions = form.findChild<SettingsActions*>(QStringLiteral("SettingsActions"));
    ui.SelectPage(1);
    EXPECT_FALSE(actions->LoadAction()->isVisible());
    actions->Load();
    SetFileChooserHook(earlier);
    EXPECT_EQ(filesAsked, 0) << "a load is not even begun";

    QTest::qWait(1000);
    const std::vector<Frame> frames = LoggedFrames(logPath);
    EXPECT_FALSE(frames.empty());
    EXPECT_TRUE(Writes(frames).empty()) << Writes(frames).size() << " writes reached the relay";
}

// Every write control's look for each (line open, link, watching station),
// a closed line reached with the link up and with it lost: the settings, the
// masks' boxes and Ok, the clock, the notes about ENTER and "Ок", the load.
TEST(WriteControls, FollowTheLineTheLinkAndTheMode)
{
    for (int bits = 0; bits < 8; ++bits) {
        const bool open = bits & 1, link = bits & 2, readOnly = bits & 4;
        SCOPED_TRACE(testing::Message() << "open " << open << ", link " << link << ", read-only " << readOnly);
        RelaySim sim({link ? "--no-pace" : "--silent"});
        PortEnv env(1, sim.path());
        MessageCatcher boxes;
        TForm1 form;
        WindowDriver ui{form};
        form.SetReadOnly(readOnly);
        form.show();
        ui.Click("ButtonCOM");
        ASSERT_TRUE(QTest::qWaitFor([&] { return link ? !ui.Text("E0").isEmpty() : form.Timer3()->isActive(); }, 10000));
        ASSERT_TRUE(open || ui.Close());

        const bool usable = !readOnly, clock = usable && open && link;
        for (int page : {kSetpointsPage, kConfigurationPage, kMasksPage})
            for (const BoundControl& c : form.Registers().Page(page)) {
                if (c.row->kind == ControlKind::ValueField)
                    continue;   // shown only
                SCOPED_TRACE(c.row->name.toStdString());
                EXPECT_EQ(c.widget->isEnabled(), usable && c.row->enabled) << "a box of a fixed bit never";
                EXPECT_EQ(c.widget->isHidden(), c.row->kind == ControlKind::Button) << "no mask under edit";
                const auto* spin = qobject_cast<TSpinEdit*>(c.widget);
                EXPECT_TRUE(!spin || spin->UpButton()->isHidden() == readOnly) << "the arrows";
            }
        for (const char* name : {"ButtonSys", "DPicker", "TPicker", "ButtonDT"})
            EXPECT_EQ(form.Control(QLatin1String(name))->isEnabled(), clock) << name;
        EXPECT_EQ(form.Control(QStringLiteral("ButtonSys"))->isHidden(), !clock);
        EXPECT_TRUE(form.Control(QStringLiteral("ButtonDT"))->isHidden()) << "no clock picked";
        for (int n = 1; n <= 6; ++n) {
            const QWidget* note = form.Control(QStringLiteral("HelpNote%1").arg(n));
            EXPECT_EQ(note->isHidden(), readOnly) << n;
            EXPECT_TRUE(note->isEnabled()) << n << ": a note shown is read in its colours, never greyed";
        }
        auto* actions = form.findChild<SettingsActions*>(QStringLiteral("SettingsActions"));
        EXPECT_EQ(actions->LoadAction()->isVisible(), usable);
        auto* mark = form.findChild<QLabel*>(QStringLiteral("ReadOnlyMark"));
        EXPECT_EQ(mark && mark->isVisibleTo(&form) && mark->text() == QStringLiteral("Только просмотр"),
                  readOnly);
        EXPECT_TRUE(!open || ui.Close());
    }
}

TEST(ReadOnlyCompanion, WritingCommandsAreUsageErrors)
{
    struct Case {
        QStringList words;
        bool variable;   // ZASHCHITA_READ_ONLY=1 instead of the option
        bool runs;
    } const cases[] = {
        {{"--read-only", "settings", "load", "a.ini", "--yes"}, false, false},
        {{"--read-only", "settings", "load", "a.ini"}, false, false},
        {{"settings", "load", "a.ini", "--yes"}, true, false},
        {{"--read-only", "settings", "diff", "a.ini"}, false, true},
        {{"--read-only", "monitor"}, false, true},
        {{"settings", "load", "a.ini", "--yes"}, false, true},
    };
    for (const Case& c : cases) {
        if (c.variable)
            qputenv("ZASHCHITA_READ_ONLY", "1");
        const ParsedCommandLine p = ParseCommandLine(QStringList{QStringLiteral("zashchita-cli")} + c.words);
        qunsetenv("ZASHCHITA_READ_ONLY");
        EXPECT_EQ(p.outcome == ParsedCommandLine::Outcome::Run, c.runs) << c.words.join(' ').toStdString();
    }

    QProcess cli;
    cli.start(QStringLiteral(ZASHCHITA_CLI_PATH),
              {QStringLiteral("--read-only"), QStringLiteral("settings"), QStringLiteral("load"), QStringLiteral("a.ini"),
               QStringLiteral("--yes")});
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_EQ(cli.exitCode(), 2);
    EXPECT_TRUE(cli.readAllStandardError().contains("read-only"));
}
