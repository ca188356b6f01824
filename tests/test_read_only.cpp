// A watching station: the window with --read-only tried on every path to a
// write (a setting's ENTER, a selection box's ENTER, a mask's Ok, the clock,
// a settings load) sends none, which the simulator's log shows; the
// companion refuses a writing command as a usage error.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QProcess>

#include "CliOptions.h"
#include "app/SpinEdit.h"
#include "app/settings/Prompts.h"
#include "app/settings/SettingsActions.h"
#include "exchanges/Masks.h"
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
