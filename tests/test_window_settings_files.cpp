// Settings files, the settings sheet and the journal of writes in the window,
// driven through the context menu and shortcuts of "Уставки" and "Настройки"
// against the relay simulator: a file saved here loads in the companion and
// the other way round; a comparison names exactly the settings changed on the
// relay; a load writes exactly the chosen ones and stops at a refusal; a bad
// file is refused with nothing sent; the sheet's text holds every caption and
// value; every write is journalled, and a journal that cannot be written is
// told once while the writes go on.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <QTimer>

#include <memory>

#include "app/QtTranslations.h"
#include "app/SpinEdit.h"
#include "app/settings/JournalDialog.h"
#include "app/settings/Prompts.h"
#include "app/settings/SettingsActions.h"
#include "app/settings/SettingsDialog.h"
#include "app/settings/SheetDialog.h"
#include "exchanges/LocaleFormats.h"
#include "exchanges/RegisterCatalog.h"
#include "settings/Journal.h"
#include "settings/SettingsFile.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {

constexpr int kWaitMs = 15000;

// The journal in a folder of the test's own, set before the window makes its recorder.
struct JournalHome {
    QTemporaryDir dir;
    JournalHome() { qputenv("XDG_DATA_HOME", QFile::encodeName(dir.path())); }
    ~JournalHome() { qunsetenv("XDG_DATA_HOME"); }
};

QString Simplified(QString text)
{
    return text.simplified();
}

// Pictures of the dialogs for the documentation, when asked for.
void Picture(QWidget* w, const char* name)
{
    const QString folder = qEnvironmentVariable("ZASHCHITA_PICTURES");
    if (!folder.isEmpty())
        w->grab().save(QDir(folder).filePath(QLatin1String(name)));
}

struct WindowSettings : ::testing::Test {
    JournalHome home;
    QTemporaryDir dir;
    QString logPath = dir.filePath(QStringLiteral("sim.log"));
    std::unique_ptr<RelaySim> sim;
    std::unique_ptr<PortEnv> env;
    MessageCatcher boxes;
    std::vector<Notice> notices;
    QString chosen;   // what the file chooser answers
    TForm1 form;
    WindowDriver ui{form};
    SettingsActions* actions = form.findChild<SettingsActions*>();

    WindowSettings()
    {
        SetFileChooserHook([this](FileChoice, const QString&) { return chosen; });
        SetNoticeHook([this](const Notice& n) { notices.push_back(n); });
    }
    ~WindowSettings() override
    {
        SetFileChooserHook({});
        SetNoticeHook({});
    }
    void TearDown() override
    {
        if (form.ComPort()->Connected())
            ui.Close();
    }

    // (Re)starts the simulator with `args` and opens the window's port on it.
    void Start(std::vector<std::string> args = {})
    {
        if (form.ComPort()->Connected()) {
            ASSERT_TRUE(ui.Close());
        }
        env.reset();
        sim.reset();
        args.insert(args.end(), {"--no-pace", "--freeze", "--log", logPath.toStdString()});
        sim = std::make_unique<RelaySim>(args);
        env = std::make_unique<PortEnv>(1, sim->path());
        form.show();
        QApplication::setActiveWindow(&form);
        ASSERT_TRUE(ui.Open());
    }
    void EnterPage(int index)
    {
        ui.SelectPage(index);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return form.Control(QStringLiteral("Panel%1").arg(index + 1))->isVisible(); }, kWaitMs));
    }
    std::vector<Frame> LoggedWrites() { return Writes(LoggedFrames(logPath)); }

    // The dialog a shortcut opened, once the relay has been read into it.
    SettingsDialog* Compared(int key)
    {
        QTest::keyClick(&form, Qt::Key(key), Qt::ControlModifier);
        SettingsDialog* dialog = nullptr;
        const bool ready = QTest::qWaitFor([&] {
            dialog = actions->OpenSettingsDialog();
            return dialog && !dialog->Busy() && dialog->DifferenceCount() >= 0;
        }, kWaitMs);
        return ready ? dialog : nullptr;
    }
    void Close(QDialog* dialog)
    {
        dialog->close();
        // As a window manager gives the activation back to the window.
        QApplication::setActiveWindow(&form);
        QTest::qWait(0);
    }
    // Writes a settings file holding the simulator's built-in values with `changes`.
    QString FileWith(const char* name, const std::map<int, int>& changes)
    {
        const std::map<int, int> regs = RelaySim::dumpRegisters();
        SettingsFile file;
        file.address = 1;
        for (const SettingSpec& d : SettingSpecs()) {
            const auto changed = changes.find(d.reg);
            file.settings.push_back({&d, uint16_t(changed != changes.end() ? changed->second : regs.at(d.reg))});
        }
        const QString path = dir.filePath(QLatin1String(name));
        QFile out(path);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(SettingsText(file, FormatForPath(path)));
        return path;
    }
    std::vector<JournalEntry> Journal() { return ReadJournal(JournalPath()).entries; }
};

// zashchita-cli against the simulator while the window's port is closed.
int RunCli(const QStringList& args, QString* out = nullptr)
{
    QProcess cli;
    cli.start(QStringLiteral(ZASHCHITA_CLI_PATH), args);
    if (!cli.waitForFinished(120000))
        return -1;
    if (out)
        *out = QString::fromUtf8(cli.readAllStandardOutput() + cli.readAllStandardError());
    return cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1;
}

}  // namespace

// Saved here, loaded by the companion, and the other way round; two settings
// changed on the relay are exactly the two compared and loaded; then none differ.
TEST_F(WindowSettings, SaveCompareAndLoadAgainstTheSimulatorAndTheCompanion)
{
    Start();
    // The right click on the page brings the menu; the pages keep their controls.
    EnterPage(1);
    QWidget* panel = form.Control(QStringLiteral("Panel2"));
    const int controlsBefore = int(panel->findChildren<QWidget*>().size());
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(300, 395), panel->mapToGlobal(QPoint(300, 395)));
    QApplication::sendEvent(panel, &click);
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget() != nullptr; }, kWaitMs));
    QStringList items;
    for (QAction* a : actions->Menu()->actions())
        if (!a->isSeparator())
            items << a->text();
    EXPECT_EQ(items, (QStringList{"Сохранить уставки в файл…", "Сравнить с файлом…", "Загрузить из файла…",
                                  "Лист уставок (PDF)…", "Журнал изменений…"}));
    QApplication::activePopupWidget()->close();
    EXPECT_EQ(int(panel->findChildren<QWidget*>().size()), controlsBefore);

    // Ctrl+S reads the relay afresh, not the controls: an unconfirmed edit is not saved.
    auto* se2 = form.ControlAs<TSpinEdit>(QStringLiteral("SE2"));
    se2->setFocus();
    se2->SetValue(4321);
    se2->setProperty("Tag", 111);
    chosen = dir.filePath(QStringLiteral("window.json"));
    QTest::keyClick(&form, Qt::Key_S, Qt::ControlModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.empty(); }, kWaitMs));
    EXPECT_EQ(notices.back().text, QStringLiteral("Уставки сохранены"));
    EXPECT_TRUE(notices.back().detail.startsWith(QStringLiteral("43 уставки защиты с адресом 1 сохранены")))
        << notices.back().detail.toStdString();
    const SettingsFileRead saved = ReadSettingsFile(chosen);
    ASSERT_TRUE(saved.ok) << saved.errors.join('\n').toStdString();
    const std::map<int, int> regs = RelaySim::dumpRegisters();
    ASSERT_EQ(saved.file.settings.size(), SettingSpecs().size());
    for (const SettingValue& s : saved.file.settings)
        EXPECT_EQ(s.value, regs.at(s.definition->reg)) << s.definition->name.toStdString();
    QFile json(chosen);
    ASSERT_TRUE(json.open(QIODevice::ReadOnly));
    const QByteArray text = json.readAll();
    EXPECT_TRUE(text.contains("\"program\": \"Защита 5.1\"")) << text.constData();
    EXPECT_TRUE(text.contains(("\"port\": \"COM1 (" + sim->path() + ")\"").c_str()));
    EXPECT_TRUE(LoggedWrites().empty());

    // The companion reads the window's file (the relay holds it) and saves an INI file the window reads.
    ASSERT_TRUE(ui.Close());
    const QString port = QString::fromStdString(sim->path());
    QString out;
    EXPECT_EQ(RunCli({"--port", port, "settings", "diff", chosen}, &out), 0) << out.toStdString();
    const QString ini = dir.filePath(QStringLiteral("companion.ini"));
    ASSERT_EQ(RunCli({"--port", port, "settings", "save", ini}, &out), 0) << out.toStdString();

    // Two settings changed on the relay.
    Start({"--set", "81=703", "--set", "112=9"});
    EnterPage(2);
    chosen = ini;
    SettingsDialog* dialog = Compared(Qt::Key_D);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->DialogMode(), SettingsDialog::Mode::Compare);
    EXPECT_EQ(dialog->DifferingNames(), (QStringList{"SE2", "NSE3"}));
    EXPECT_TRUE(dialog->windowTitle().endsWith(QStringLiteral("companion.ini — различий: 2")))
        << dialog->windowTitle().toStdString();
    const int row = dialog->RowOf(QStringLiteral("SE2"));
    EXPECT_EQ(dialog->Table()->item(row, SettingsDialog::kRelay)->text(), "703");
    EXPECT_EQ(dialog->Table()->item(row, SettingsDialog::kFile)->text(), QString::number(regs.at(81)));
    EXPECT_EQ(dialog->Table()->item(row, SettingsDialog::kUnit)->text(), "%");
    dialog->OnlyDifferences()->setChecked(true);
    int shown = 0;
    for (int r = 0; r < dialog->Table()->rowCount(); ++r)
        shown += dialog->Table()->isRowHidden(r) ? 0 : 1;
    EXPECT_EQ(shown, 2);
    Picture(dialog, "settings-compare.png");
    Close(dialog);

    // The load writes exactly those two, each with its echo, and compares again.
    chosen = dir.filePath(QStringLiteral("window.json"));
    dialog = Compared(Qt::Key_O);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->DialogMode(), SettingsDialog::Mode::Load);
    EXPECT_TRUE(dialog->Ticked("SE2") && dialog->Ticked("NSE3"));
    QTest::qWait(300);
    EXPECT_TRUE(LoggedWrites().empty()) << "nothing is written before the click";
    dialog->OnlyDifferences()->setChecked(true);
    Picture(dialog, "settings-load.png");
    QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->LastLoad() && !dialog->Busy(); }, kWaitMs));
    EXPECT_EQ(LoggedWrites(), (std::vector<Frame>{WriteFrame(81, regs.at(81)), WriteFrame(112, regs.at(112))}));
    EXPECT_TRUE(dialog->LastLoad()->stop.isEmpty());
    EXPECT_EQ(dialog->Progress()->value(), 2);
    EXPECT_EQ(dialog->DifferenceCount(), 0);
    EXPECT_TRUE(dialog->windowTitle().endsWith(QStringLiteral("различий: 0")));
    EXPECT_TRUE(dialog->Status()->toPlainText().endsWith(QStringLiteral("Прочитано из защиты после записи: различий 0.")))
        << dialog->Status()->toPlainText().toStdString();
    Close(dialog);

    dialog = Compared(Qt::Key_D);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->DifferenceCount(), 0);
    Close(dialog);

    // One journal line per write, with what the relay held before.
    const std::vector<JournalEntry> journal = Journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].name, "SE2");
    EXPECT_EQ(journal[0].before, std::optional<uint16_t>(703));
    EXPECT_EQ(journal[0].value, regs.at(81));
    EXPECT_EQ(journal[1].name, "NSE3");
    EXPECT_EQ(journal[1].before, std::optional<uint16_t>(9));
    for (const JournalEntry& e : journal) {
        EXPECT_EQ(e.outcome, Outcome::Echoed);
        EXPECT_EQ(e.program, "zashchita");
        EXPECT_EQ(e.device.toStdString(), sim->path());
        EXPECT_EQ(e.address, 1);
    }
    EXPECT_TRUE(boxes.shown.empty());
}

// A refusal mid-load stops it: the settings after it are not sent, the dialog
// names what was written and what was not, the journal holds the refusal.
// The relay's own address takes a tick of its own and warns.
TEST_F(WindowSettings, ARefusalStopsTheLoadAndTheAddressNeedsItsOwnTick)
{
    Start({"--refuse-writes", "82"});
    EnterPage(1);
    const std::map<int, int> regs = RelaySim::dumpRegisters();
    chosen = FileWith("changed.json", {{80, 5}, {81, 111}, {82, 222}, {83, 333}});
    SettingsDialog* dialog = Compared(Qt::Key_O);
    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->DifferingNames(), (QStringList{"NSE1", "SE2", "SE3", "SE4"}));
    EXPECT_FALSE(dialog->Ticked("NSE1"));
    EXPECT_TRUE(dialog->Ticked("SE2") && dialog->Ticked("SE3") && dialog->Ticked("SE4"));
    EXPECT_FALSE(dialog->AddressWarning()->isVisibleTo(dialog));
    dialog->SetTicked("NSE1", true);
    EXPECT_TRUE(dialog->AddressWarning()->isVisibleTo(dialog));
    EXPECT_TRUE(dialog->AddressWarning()->text().contains("1 → 5"));
    dialog->SetTicked("NSE1", false);
    EXPECT_FALSE(dialog->AddressWarning()->isVisibleTo(dialog));

    QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->LastLoad() && !dialog->Busy(); }, kWaitMs));
    EXPECT_EQ(LoggedWrites(), (std::vector<Frame>{WriteFrame(81, 111), WriteFrame(82, 222)}));
    const LoadOutcome& outcome = *dialog->LastLoad();
    ASSERT_EQ(outcome.written.size(), 1u);
    ASSERT_EQ(outcome.notWritten.size(), 2u);
    EXPECT_EQ(outcome.notWritten[0].definition->name, "SE3");
    EXPECT_EQ(outcome.notWritten[1].definition->name, "SE4");
    const QString status = dialog->Status()->toPlainText();
    EXPECT_TRUE(status.contains(QStringLiteral("Записано 1 из 3"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("исключение 4")));
    EXPECT_TRUE(status.contains(QStringLiteral("Не записано:\n  ✗ SE3 (82)")));
    EXPECT_TRUE(status.contains(QStringLiteral("✗ SE4 (83)")));
    EXPECT_EQ(dialog->DifferenceCount(), 3);   // read back: the address, SE3 and SE4
    Picture(dialog, "settings-load-refused.png");
    Close(dialog);

    const std::vector<JournalEntry> journal = Journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].reg, 81);
    EXPECT_EQ(journal[0].outcome, Outcome::Echoed);
    EXPECT_EQ(journal[0].before, std::optional<uint16_t>(regs.at(81)));
    EXPECT_EQ(journal[1].reg, 82);
    EXPECT_EQ(journal[1].outcome, Outcome::Refused);
    EXPECT_EQ(journal[1].exceptionCode, 4);

    // The journal's dialog: newest first.
    actions->JournalAction()->trigger();
    JournalDialog* shown = actions->OpenJournalDialog();
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->Table()->rowCount(), 2);
    EXPECT_EQ(shown->Table()->item(0, JournalDialog::kRegister)->text(), "82");
    EXPECT_EQ(shown->Table()->item(0, JournalDialog::kOutcome)->text(), QStringLiteral("отказ, исключение 4"));
    EXPECT_EQ(shown->Table()->item(1, JournalDialog::kSetting)->text(), QStringLiteral("SE2 Ток МТЗ (отсечка)"));
    Picture(shown, "journal.png");
    Close(shown);
}

// A second load from the dialog goes where the relay answers: at its new
// address once the first load changed it (unless the relay takes that only
// on restart), else where it was.
TEST_F(WindowSettings, ASecondLoadGoesWhereTheRelayAnswers)
{
    const struct {
        const char* what;
        std::vector<std::string> sim;
        std::map<int, int> changes;  // besides SE3, which the second load writes
        int address;                 // where that write goes
    } cases[] = {
        {"the address changed", {"--address-change", "after-echo"}, {{80, 5}, {81, 111}}, 5},
        {"the address taken on restart", {"--address-change", "keep"}, {{80, 5}, {81, 111}}, 1},
        {"the new address another relay's", {"--address", "1", "--address", "5"}, {{80, 5}, {81, 111}}, 1},
        {"the address kept", {"--address-change", "after-echo"}, {{81, 111}}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Start(c.sim);
        EnterPage(1);
        std::map<int, int> changes = c.changes;
        changes[82] = 222;
        chosen = FileWith("second.json", changes);
        SettingsDialog* dialog = Compared(Qt::Key_O);
        ASSERT_TRUE(dialog);
        dialog->SetTicked("NSE1", true);
        dialog->SetTicked("SE3", false);
        for (int load = 0; load < 2; ++load) {
            QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
            ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->Busy(); }, kWaitMs));
        }
        EXPECT_EQ(LoggedWrites().back(), RelaySim::writeRequest(uint8_t(c.address), 82, 222));
        EXPECT_EQ(dialog->LastLoad()->written.size(), 1u) << dialog->Status()->toPlainText().toStdString();
        Close(dialog);
    }
}

// A journal longer than the dialog keeps: the newest entries shown, all of them counted.
TEST_F(WindowSettings, TheJournalDialogShowsTheNewestOfALongJournal)
{
    const int total = int(kJournalKeptEntries) + 1;
    QByteArray lines;
    JournalEntry e;
    e.reg = 81;
    e.outcome = Outcome::Echoed;
    for (int i = 0; i < total; ++i) {
        e.value = uint16_t(i);
        lines += JournalLine(e);
    }
    ASSERT_TRUE(QDir().mkpath(QFileInfo(JournalPath()).path()));
    QFile file(JournalPath());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(lines) == lines.size());
    file.close();
    actions->JournalAction()->trigger();
    JournalDialog* shown = actions->OpenJournalDialog();
    ASSERT_TRUE(shown);
    ASSERT_EQ(shown->Table()->rowCount(), int(kJournalKeptEntries));
    EXPECT_EQ(shown->Table()->item(0, JournalDialog::kValue)->text(), QString::number(total - 1));
    EXPECT_TRUE(shown->Status()->text().contains(
        QStringLiteral("записей %1, показаны последние %2").arg(total).arg(kJournalKeptEntries)))
        << shown->Status()->text().toStdString();
    Close(shown);
}

// A relay that stores another value than asked for stops the load as a refusal does.
TEST_F(WindowSettings, AClampedEchoStopsTheLoad)
{
    Start({"--clamp", "5000"});
    EnterPage(1);
    chosen = FileWith("clamped.json", {{82, 6000}, {83, 333}});
    SettingsDialog* dialog = Compared(Qt::Key_O);
    ASSERT_TRUE(dialog);
    QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->LastLoad() && !dialog->Busy(); }, kWaitMs));
    EXPECT_EQ(LoggedWrites(), (std::vector<Frame>{WriteFrame(82, 6000)}));
    EXPECT_TRUE(dialog->Status()->toPlainText().contains(QStringLiteral("защита записала 5000 мс вместо 6000 мс")))
        << dialog->Status()->toPlainText().toStdString();
    ASSERT_EQ(dialog->LastLoad()->notWritten.size(), 2u);
    Close(dialog);
    const std::vector<JournalEntry> journal = Journal();
    ASSERT_EQ(journal.size(), 1u);
    EXPECT_EQ(journal[0].outcome, Outcome::Altered);
    EXPECT_EQ(journal[0].stored, 5000);
}

// The line lost right after a write went out: that write is "не подтверждено"
// on screen and in the journal, never "не записано", the one after it is not
// sent, and "Уставки" shows its values as unknown (the no-link look) until
// the link is back and they are read afresh.
TEST_F(WindowSettings, ALineLostAfterAWriteLeftLeavesItUnconfirmed)
{
    // Paced, with a turnaround inside the window's time-out: the echo is still due when the line goes.
    sim = std::make_unique<RelaySim>(
        std::vector<std::string>{"--turnaround-ms", "120", "--freeze", "--log", logPath.toStdString()});
    env = std::make_unique<PortEnv>(1, sim->path());
    form.show();
    QApplication::setActiveWindow(&form);
    ASSERT_TRUE(ui.Open());
    EnterPage(1);
    auto* se2 = form.ControlAs<TSpinEdit>(QStringLiteral("SE2"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return se2->Value() == 600; }, kWaitMs));
    chosen = FileWith("three.json", {{81, 111}, {82, 222}, {83, 333}});
    SettingsDialog* dialog = Compared(Qt::Key_O);
    ASSERT_TRUE(dialog);
    QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return LoggedWrites().size() >= 2; }, kWaitMs));
    sim->stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->LastLoad() && !dialog->Busy(); }, kWaitMs));
    const LoadOutcome& outcome = *dialog->LastLoad();
    ASSERT_EQ(outcome.written.size(), 1u);
    ASSERT_EQ(outcome.unconfirmed.size(), 1u);
    EXPECT_EQ(outcome.unconfirmed[0].definition->name, "SE3");
    ASSERT_EQ(outcome.notWritten.size(), 1u);
    EXPECT_EQ(outcome.notWritten[0].definition->name, "SE4");
    const QString status = dialog->Status()->toPlainText();
    EXPECT_TRUE(status.contains(QStringLiteral("не подтверждена"))) << status.toStdString();
    EXPECT_TRUE(status.contains(QStringLiteral("Не подтверждено (отправлено; защита может хранить любое из значений):\n"
                                               "  ? SE3 (82)")));
    EXPECT_TRUE(status.contains(QStringLiteral("Не записано:\n  ✗ SE4 (83)")));
    const std::vector<JournalEntry> journal = Journal();
    ASSERT_EQ(journal.size(), 2u);
    EXPECT_EQ(journal[0].outcome, Outcome::Echoed);
    EXPECT_EQ(journal[1].reg, 82);
    EXPECT_EQ(journal[1].outcome, Outcome::Unconfirmed);
    EXPECT_EQ(se2->Value(), se2->MinValue());   // not 600, read before the load, nor 111
    Close(dialog);

    // The link is back: the page is read afresh.
    Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return se2->Value() == 600; }, kWaitMs));
}

// A damaged file, or one naming a setting there is none of, is refused with
// the companion's messages before anything is sent; a value the window could
// not write refuses the whole load.
TEST_F(WindowSettings, BadFilesAreRefusedBeforeAnythingIsSent)
{
    Start();
    EnterPage(2);
    const QString good = FileWith("good.json", {});
    QFile in(good);
    ASSERT_TRUE(in.open(QIODevice::ReadOnly));
    const QByteArray bytes = in.readAll();
    const auto writeFile = [&](const char* name, const QByteArray& content) {
        QFile f(dir.filePath(QLatin1String(name)));
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(content);
        return f.fileName();
    };
    const QString unknown = writeFile("unknown.json", QByteArray(bytes).replace("\"SE2\"", "\"SE99\""));
    const QString cut = writeFile("cut.json", bytes.left(bytes.size() / 2));
    for (const QString& path : {unknown, cut}) {
        boxes.shown.clear();
        chosen = path;
        QTest::keyClick(&form, Qt::Key_O, Qt::ControlModifier);
        ASSERT_EQ(boxes.shown.size(), 1u);
        EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Файл уставок отклонён"));
        EXPECT_TRUE(boxes.shown[0].detail.endsWith(path + ": refused; nothing was sent to the relay"));
        EXPECT_FALSE(actions->OpenSettingsDialog());
    }
    EXPECT_TRUE(boxes.shown[0].detail.startsWith(cut + ": damaged JSON at byte"));
    boxes.shown.clear();
    chosen = unknown;
    QTest::keyClick(&form, Qt::Key_D, Qt::ControlModifier);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_TRUE(boxes.shown[0].detail.startsWith(unknown + ": SE99 (settings[1]): no setting has that name"))
        << boxes.shown[0].detail.toStdString();

    // CB1 can only be 0 or 1 in the window: 7 refuses the load whole.
    chosen = FileWith("range.json", {{113, 7}, {81, 600}});
    SettingsDialog* dialog = Compared(Qt::Key_O);
    ASSERT_TRUE(dialog);
    EXPECT_FALSE(dialog->WriteButton()->isEnabled());
    EXPECT_TRUE(dialog->Status()->toPlainText().contains(chosen + ": refused; nothing was written to the relay"));
    QTest::mouseClick(dialog->WriteButton(), Qt::LeftButton);
    QTest::qWait(300);
    Close(dialog);
    EXPECT_TRUE(LoggedWrites().empty());
}

// The sheet, read back with pdftotext: the header, every setting's caption,
// value and unit, the masks' bits and the relay's clock.
TEST_F(WindowSettings, TheSheetHoldsEveryCaptionAndValue)
{
    Start({"--set", "96=16475", "--set", "97=32769", "--set", "107=32767", "--set", "113=1", "--set", "121=3",
           "--set", "67=11", "--set", "68=23", "--set", "69=10", "--set", "70=11", "--set", "71=12",
           "--set", "122=4321"});
    EnterPage(1);
    actions->SheetAction()->trigger();
    SheetDialog* dialog = actions->OpenSheetDialog();
    ASSERT_TRUE(dialog);
    const QString pdf = dir.filePath(QStringLiteral("sheet.pdf"));
    dialog->ObjectName()->setText(QStringLiteral("Насосная №2, двигатель Н-3"));
    dialog->FilePath()->setText(pdf);
    Picture(dialog, "settings-sheet.png");
    bool ok = false, done = false;
    QObject::connect(dialog, &SheetDialog::done, [&](bool result) { ok = result; done = true; });
    QTest::mouseClick(dialog->SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, kWaitMs));
    ASSERT_TRUE(ok) << dialog->Status()->text().toStdString();
    Close(dialog);
    if (const QString folder = qEnvironmentVariable("ZASHCHITA_PICTURES"); !folder.isEmpty())
        QFile::copy(pdf, QDir(folder).filePath(QStringLiteral("settings-sheet.pdf")));

    auto pdfText = [](const QString& path) {
        QProcess pdftotext;
        pdftotext.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), path, QStringLiteral("-")});
        EXPECT_TRUE(pdftotext.waitForFinished(60000));
        EXPECT_EQ(pdftotext.exitCode(), 0) << "pdftotext (poppler-utils) is needed";
        return Simplified(QString::fromUtf8(pdftotext.readAllStandardOutput()));
    };
    const QString text = pdfText(pdf);
    const std::map<int, int> regs = RelaySim::dumpRegisters({"--set", "113=1", "--set", "121=3", "--set", "122=4321"});
    for (const QString& expected :
         {QStringLiteral("Насосная №2, двигатель Н-3"), QStringLiteral("Защита 5.1"), QStringLiteral("Адрес защиты: 1"),
          QStringLiteral("COM1 (%1)").arg(QString::fromStdString(sim->path())),
          Simplified(LongTimeText(QTime(10, 11, 12))), QStringLiteral("разрешить"),
          Simplified(QStringLiteral("3 - Iном = (128..64)А,   Ктт=8000, R=18 Ом")),
          QStringLiteral("Маска защит на отключение (регистр 96): 01000000 01011011"),
          QStringLiteral("Маска формирования протоколов (регистр 107): 01111111 11111111"),
          QStringLiteral("Маска защит на сигнал (регистр 97): 10000000 00000001"), QStringLiteral("Затянувшийся пуск"),
          QStringLiteral("Rизоляции < Rноминал")})
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString();
    for (const SettingSpec& d : SettingSpecs()) {
        EXPECT_TRUE(text.contains(Simplified(d.caption))) << d.caption.toStdString();
        if (d.kind == SettingKind::Number && d.name != QLatin1String("NSE4")) {
            const QString row = Simplified(d.caption + ' ' + QString::number(regs.at(d.reg)) + ' ' + d.unit);
            EXPECT_TRUE(text.contains(row)) << row.toStdString();
        }
    }

    // The relay's password: masked unless the box is ticked.
    const QString password = QStringLiteral("Пароль системы ");
    EXPECT_TRUE(text.contains(password + QStringLiteral("******"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("4321")));
    actions->SheetAction()->trigger();
    ASSERT_TRUE((dialog = actions->OpenSheetDialog()));
    dialog->FilePath()->setText(dir.filePath(QStringLiteral("clear.pdf")));
    dialog->PrintPassword()->click();
    QTest::mouseClick(dialog->SaveButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !dialog->Busy(); }, kWaitMs));
    Close(dialog);
    EXPECT_TRUE(pdfText(dir.filePath(QStringLiteral("clear.pdf"))).contains(password + QStringLiteral("4321")));
}

// A setting read from page 0's exchange: the fresh read goes to the file and
// is no reply of the current parameters (whose clock it does not carry).
TEST_F(WindowSettings, ASaveWhileTheCurrentParametersArePolledLeavesThemAlone)
{
    Start({"--set", "67=6", "--set", "68=15"});
    auto* date = form.ControlAs<QDateEdit>(QStringLiteral("DPicker"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return date->date().month() == 6 && date->date().day() == 15; }, kWaitMs));
    chosen = dir.filePath(QStringLiteral("page0.ini"));
    actions->Save();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notices.empty() || !boxes.shown.empty(); }, kWaitMs));
    EXPECT_TRUE(ReadSettingsFile(chosen).ok);
    EXPECT_EQ(date->date().month(), 6);
    EXPECT_EQ(date->date().day(), 15);
}

// A journal that cannot be written is told once; the writes go on.
TEST_F(WindowSettings, AJournalThatCannotBeWrittenIsToldOnceAndWritesGoOn)
{
    // A file where the journal's folder should be: no one may create it, root included.
    QFile blocker(home.dir.filePath(QStringLiteral("zashchita")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Start();
    EnterPage(1);
    auto* se3 = form.ControlAs<TSpinEdit>(QStringLiteral("SE3"));
    for (const char* value : {"1234", "2345"}) {
        QTest::mouseClick(se3, Qt::LeftButton);
        se3->setFocus(Qt::MouseFocusReason);
        se3->selectAll();
        QTest::keyClicks(se3, QLatin1String(value));
        QTest::keyClick(se3, Qt::Key_Return);
        const Frame wanted = WriteFrame(82, QString::fromLatin1(value).toInt());
        ASSERT_TRUE(QTest::qWaitFor([&] {
            const auto writes = LoggedWrites();
            return std::find(writes.begin(), writes.end(), wanted) != writes.end();
        }, kWaitMs));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.empty(); }, kWaitMs));
    QTest::qWait(300);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Журнал изменений не записан"));
    EXPECT_TRUE(boxes.shown[0].detail.contains(QStringLiteral("Not a directory"))) << boxes.shown[0].detail.toStdString();
}

// Qt's own texts in Russian: the edit field's context menu beside the
// window's own item, and the window's file dialog.
TEST_F(WindowSettings, QtsOwnTextsAreRussian)
{
    ASSERT_TRUE(InstallQtTranslations(*QCoreApplication::instance()));
    Start();
    auto* address = form.ControlAs<QLineEdit>(QStringLiteral("SEAddres"));
    emit address->customContextMenuRequested(address->rect().center());
    QStringList texts;   // without accelerators and shortcuts
    auto take = [&texts](const QString& text) { texts << QString(text).remove(QLatin1Char('&')).section('\t', 0, 0); };
    ASSERT_TRUE(QTest::qWaitFor([] { return QApplication::activePopupWidget(); }, kWaitMs));
    for (const QAction* action : QApplication::activePopupWidget()->actions())
        take(action->text());
    QApplication::activePopupWidget()->close();
    SetFileChooserHook({});
    QTimer::singleShot(500, [&] {
        for (const QWidget* child : QApplication::activeModalWidget()->findChildren<QWidget*>())
            take(child->property("text").toString());
        qobject_cast<QDialog*>(QApplication::activeModalWidget())->reject();
    });
    ChooseFile(&form, FileChoice::Save, QStringLiteral("Сохранить уставки в файл"));
    for (const char* text : {"Отменить действие", "Выделить всё", "Найти адрес реле…", "Имя файла:", "Отмена"})
        EXPECT_TRUE(texts.contains(QString::fromUtf8(text))) << texts.join(QLatin1Char('|')).toStdString();
}
