// Faults an operator met in the window, driven as the user does against the
// relay simulator: an edit kept while the window is away for a while, leap
// days placed in a year that has them, the report's leftovers and warnings,
// and selection boxes showing values past their lists.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimeEdit>
#include <QTimer>

#include <sys/wait.h>
#include <unistd.h>

#include "exchanges/LocaleFormats.h"
#include "app/SpinEdit.h"
#include "exchanges/RelayClock.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {

struct OperatorWindow : SimWindowTest {
    void Start(std::vector<std::string> args = {})
    {
        args.insert(args.end(), {"--no-pace", "--freeze", "--log", logPath.toStdString()});
        StartSim(args);
    }
    template <class T> T* As(const char* name) { return form.ControlAs<T>(QLatin1String(name)); }
    // Selects a page and waits until its content shows: a page entered with
    // the link up stays blank until its first reply is due.
    void EnterPage(int index)
    {
        ui.SelectPage(index);
        ASSERT_TRUE(WaitFor([&] { return form.Control(QStringLiteral("Panel%1").arg(index + 1))->isVisible(); }));
    }
    static int Tag(QWidget* w) { return w->property("Tag").toInt(); }
    bool WaitFor(const std::function<bool()>& what, int ms = 5000) { return QTest::qWaitFor(what, ms); }
    std::vector<Frame> Logged() { return LoggedFrames(logPath); }
    // Lets the relay answer `count` more requests.
    bool Reads(size_t count)
    {
        const size_t from = Logged().size();
        return WaitFor([&] { return Logged().size() >= from + count; });
    }
    bool Wrote(const Frame& frame)
    {
        return WaitFor([&] {
            const auto writes = Writes(Logged());
            return std::find(writes.begin(), writes.end(), frame) != writes.end();
        });
    }
    void Type(TSpinEdit* spin, const QString& text)
    {
        QTest::mouseClick(spin, Qt::LeftButton);
        spin->setFocus(Qt::MouseFocusReason);
        spin->selectAll();
        QTest::keyClicks(spin, text);
    }
    // A message box takes the window's activation while the relay answers a
    // few reads, then goes, and the window is active again.
    void DialogForAWhile()
    {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Защита"), QStringLiteral("..."));
        box.show();
        QApplication::setActiveWindow(&box);
        EXPECT_TRUE(Reads(3));
        box.close();
        QApplication::setActiveWindow(&form);
    }
    // Opens the control's context menu as a right click does, lets the relay
    // answer a few reads while it is open, and closes it.
    void ContextMenuForAWhile(QWidget* w)
    {
        const size_t from = Logged().size();
        bool closed = false;
        QTimer closer;
        QObject::connect(&closer, &QTimer::timeout, [&] {
            QWidget* popup = QApplication::activePopupWidget();
            if (popup && !closed && Logged().size() >= from + 3) {
                popup->close();
                closed = true;
            }
        });
        closer.start(10);
        const QPoint at = w->rect().center();
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, w->mapToGlobal(at));
        QApplication::sendEvent(w, &event);
        EXPECT_TRUE(WaitFor([&] { return closed; }));
    }
};

// ------------------------------------------------ an edit is not dropped

// Another application, a message box or the field's context menu take the
// focus only for a while: the typed value stays under edit, the reads leave
// it alone, and ENTER then writes what was typed.
TEST_F(OperatorWindow, TypedSettingSurvivesAnotherWindowADialogAndTheContextMenu)
{
    Start({"--set", "84=1111"});
    EnterPage(1);
    auto* se5 = As<TSpinEdit>("SE5");
    ASSERT_TRUE(WaitFor([&] { return se5->text() == "1111"; }));
    Type(se5, "2222");
    ASSERT_EQ(Tag(se5), 111);

    QWidget otherApplication;
    otherApplication.show();
    QApplication::setActiveWindow(&otherApplication);
    ASSERT_FALSE(se5->hasFocus());
    ASSERT_TRUE(Reads(3));
    EXPECT_EQ(se5->text(), "2222");
    EXPECT_EQ(Tag(se5), 111);
    QApplication::setActiveWindow(&form);
    EXPECT_TRUE(se5->hasFocus());

    DialogForAWhile();
    EXPECT_EQ(se5->text(), "2222");
    EXPECT_EQ(Tag(se5), 111);

    ContextMenuForAWhile(se5);
    EXPECT_EQ(se5->text(), "2222");
    EXPECT_EQ(Tag(se5), 111);
    EXPECT_TRUE(Writes(Logged()).empty()) << "nothing written without ENTER";

    QTest::keyClick(se5, Qt::Key_Return);
    ASSERT_TRUE(Wrote(WriteFrame(84, 2222)));
    EXPECT_EQ(Writes(Logged()).size(), 1u);
    ASSERT_TRUE(Reads(3));
    EXPECT_EQ(se5->text(), "2222");
}

TEST_F(OperatorWindow, ChosenItemSurvivesADialogAndLeavingStillDropsIt)
{
    Start({"--set", "114=0", "--set", "115=0"});
    EnterPage(2);
    auto* cb2 = As<QComboBox>("CB2");
    auto* cb3 = As<QComboBox>("CB3");
    ASSERT_TRUE(WaitFor([&] { return cb2->currentIndex() == 0 && cb3->currentIndex() == 0; }));
    cb2->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cb2, Qt::Key_Down);
    ASSERT_EQ(cb2->currentIndex(), 1);
    ASSERT_EQ(Tag(cb2), 111);

    DialogForAWhile();
    EXPECT_EQ(cb2->currentIndex(), 1);
    EXPECT_EQ(Tag(cb2), 111);
    EXPECT_TRUE(cb2->hasFocus());
    QTest::keyClick(cb2, Qt::Key_Return);
    ASSERT_TRUE(Wrote(WriteFrame(114, 1)));

    // Going on to another control is leaving: the choice not confirmed is
    // dropped and the relay's value comes back.
    cb3->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cb3, Qt::Key_Down);
    ASSERT_EQ(Tag(cb3), 111);
    cb2->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(Tag(cb3), 0);
    ASSERT_TRUE(WaitFor([&] { return cb3->currentIndex() == 0; }));
    EXPECT_EQ(Writes(Logged()).size(), 1u);
}

// ------------------------------------------------ leap days

// 29 February read in a year without it goes to the latest year, not in the
// future, that has it; a day that exists in no year keeps the fallback. The
// relay's clock on page 0 shows its 29 February the same way.
TEST_F(OperatorWindow, LeapDayIsPlacedInTheLatestYearThatHasIt)
{
    form.SetNow([] { return QDateTime(QDate(2029, 3, 1), QTime(12, 0, 0)); });
    Start({"--record", "2=2,29,10,30,0,1,2,3,4,5,6,7,8,9,10,11,12",
           "--record", "3=4,31,10,30,0,1,3,3,4,5,6,7,8,9,10,11,12",
           "--set", "67=2", "--set", "68=29", "--set", "69=8", "--set", "70=15", "--set", "71=0"});
    auto* dPicker = As<QDateEdit>("DPicker");
    auto* tPicker = As<QTimeEdit>("TPicker");
    ASSERT_TRUE(WaitFor([&] { return dPicker->date() == QDate(2028, 2, 29); }));
    EXPECT_EQ(tPicker->time(), QTime(8, 15, 0));

    ui.SelectPage(4);
    ASSERT_TRUE(WaitFor([&] { return ui.Text("P2E2") == "2"; }));
    EXPECT_EQ(ui.Text("DataP2"), ShortDateText(QDate(2028, 2, 29)));
    EXPECT_EQ(ui.Text("TimeP2"), LongTimeText(QTime(10, 30, 0)));

    // Read on 28 February 2029 the day of 2028 is still the latest; read on
    // 28 February 2028 that day is in the future, so 2024.
    form.SetNow([] { return QDateTime(QDate(2028, 2, 28), QTime(12, 0, 0)); });
    ASSERT_TRUE(WaitFor([&] { return ui.Text("DataP2") == ShortDateText(QDate(2024, 2, 29)); }));

    ui.SelectPage(5);
    ASSERT_TRUE(WaitFor([&] { return ui.Text("P3E2") == "3"; }));
    EXPECT_EQ(ui.Text("DataP3"), ShortDateText(QDate(2001, 1, 1)));
    EXPECT_EQ(ui.Text("TimeP3"), LongTimeText(QTime(0, 0, 0)));
}

// 2100 has no 29 February: read on 28 February 2104, before that year's,
// the latest is 2096's, eight years back.
TEST(LeapDay, ACenturyWithoutItStillFindsTheLatestOne)
{
    const QDateTime leapDay(QDate(2096, 2, 29), QTime(1, 0, 0));
    EXPECT_EQ(RecordMoment(QDateTime(QDate(2104, 2, 28), QTime(12, 0)), {2, 29, 1, 0, 0}), leapDay);
    EXPECT_EQ(RelayClockMoment(QDate(2103, 6, 1), {2, 29, 1, 0, 0}), leapDay);
}

// ------------------------------------------------ reports

// A report killed mid-write left its temporary; the next report removes
// ours whose writer is gone, and nothing else.
TEST_F(OperatorWindow, NextReportRemovesOnlyOurStaleTemporaries)
{
    struct KeepWorkingDirectory {
        QString saved = QDir::currentPath();
        ~KeepWorkingDirectory() { QDir::setCurrent(saved); }
    } keep;
    QTemporaryDir work;
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    ASSERT_TRUE(QDir(work.path()).mkdir(QStringLiteral("TXT")));

    const pid_t gone = fork();
    if (gone == 0)
        _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);

    Start();
    const QString dead = QStringLiteral("Protokol1.txt.%1.tmp").arg(gone);
    const QString own = QStringLiteral("Protokol3.txt.%1.tmp").arg(getpid());
    const QStringList kept = {
        QStringLiteral("Protokol2.txt.%1.tmp").arg(sim->pid()),   // its writer is alive
        QStringLiteral("Protokol2.txt.tmp"),
        QStringLiteral("Protokol5.txt.%1.tmp").arg(gone),
        QStringLiteral("notes.%1.tmp").arg(gone),
        QStringLiteral("Protokol4.txt.%1.tmp.bak").arg(gone),
    };
    for (const QString& name : QStringList{dead, own} + kept) {
        QFile file(work.filePath(QStringLiteral("TXT/") + name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("ПРОТОКОЛ");
    }

    ui.SelectPage(3);
    ui.Click("ButtonP1");
    EXPECT_TRUE(boxes.shown.empty());
    const QDir txt(work.filePath(QStringLiteral("TXT")));
    EXPECT_TRUE(txt.exists(QStringLiteral("Protokol1.txt")));
    EXPECT_FALSE(txt.exists(dead));
    EXPECT_FALSE(txt.exists(own));
    for (const QString& name : kept)
        EXPECT_TRUE(txt.exists(name)) << name.toStdString();
}

// A report click says nothing on the side: no Qt warning of any kind.
TEST_F(OperatorWindow, ReportClickLogsNoWarning)
{
    struct KeepWorkingDirectory {
        QString saved = QDir::currentPath();
        ~KeepWorkingDirectory() { QDir::setCurrent(saved); }
    } keep;
    QTemporaryDir work;
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    Start();
    ui.SelectPage(3);
    ASSERT_TRUE(WaitFor([&] { return !ui.Text("P1E2").isEmpty(); }));

    static QStringList logged;
    logged.clear();
    const QtMessageHandler usual = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& message) { logged << message; });
    ui.Click("ButtonP1");
    qInstallMessageHandler(usual);
    EXPECT_TRUE(logged.isEmpty()) << logged.join(QLatin1Char('\n')).toStdString();
    EXPECT_TRUE(QFile::exists(work.filePath(QStringLiteral("TXT/Protokol1.txt"))));
}

// ------------------------------------------------ values past the lists

// CB4's last item stands for every value above 9; CB1 has no item for one
// past its two. The boxes are put elsewhere first, so only a read can
// bring them where they must be.
TEST_F(OperatorWindow, ElevenShowsTheLastRangeAndTheTopValueNoBlocking)
{
    Start({"--set", "121=11", "--set", "113=65535"});
    ui.SelectPage(2);
    auto* cb1 = As<QComboBox>("CB1");
    auto* cb4 = As<QComboBox>("CB4");
    cb1->setCurrentIndex(1);
    cb4->setCurrentIndex(3);
    ASSERT_TRUE(WaitFor([&] { return cb4->currentIndex() == 10 && cb1->currentIndex() == -1; }));
    EXPECT_EQ(cb4->currentText(), QStringLiteral("10 - Устр-во не поддерж-т данную функцию"));
}

TEST_F(OperatorWindow, TopValueShowsTheLastRange)
{
    Start({"--set", "121=65535"});
    ui.SelectPage(2);
    auto* cb4 = As<QComboBox>("CB4");
    cb4->setCurrentIndex(3);
    ASSERT_TRUE(WaitFor([&] { return cb4->currentIndex() == 10; }));
}

}  // namespace
