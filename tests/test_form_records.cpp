// The four event-record tabs and their report files, driven as the user does
// against the relay simulator: each tab reads its own record, shows its
// moment (with the PC's clock put in), status bits, lamps and values, and its
// button writes the report file, also when the disk is full.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStatusBar>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTimer>

#include <cerrno>

#include "app/LedIndicator.h"
#include "exchanges/LocaleFormats.h"
#include "report/ReportFile.h"
#include "settings/AtomicFile.h"
#include "support/RelaySim.h"
#include "support/SimLog.h"
#include "support/SimWindow.h"

namespace {

// The working directory goes back to where it was: reports move into "TXT".
struct KeepWorkingDirectory {
    QString saved = QDir::currentPath();
    ~KeepWorkingDirectory() { QDir::setCurrent(saved); }
};

const QDateTime kSeventhOfDecember(QDate(2026, 12, 7), QTime(12, 0, 0));

struct RecordTabs : SimWindowTest {
    void Start(std::vector<std::string> args = {})
    {
        args.insert(args.end(), {"--no-pace", "--freeze", "--log", logPath.toStdString()});
        StartSim(args);
    }
    QString Text(const QString& name) { return form.ControlAs<QLineEdit>(name)->text(); }
    bool Lit(int record, int k)
    {
        return form.ControlAs<TLedIndicator>(QStringLiteral("P%1L%2").arg(record).arg(k))->Checked();
    }
    bool WaitFor(const std::function<bool()>& what, int ms = 5000) { return QTest::qWaitFor(what, ms); }
    // Selects the record's tab and waits for its values.
    bool ShowRecord(int record, const QString& phaseA)
    {
        ui.SelectPage(record + 2);
        return WaitFor([&] { return Text(QStringLiteral("P%1E2").arg(record)) == phaseA; });
    }
    static QString Date(int y, int m, int d) { return ShortDateText(QDate(y, m, d)); }
    static QString Time(int h, int m, int s) { return LongTimeText(QTime(h, m, s)); }
};

TEST_F(RecordTabs, EachTabReadsItsOwnRecordAndShowsMomentBitsLampsAndValues)
{
    form.SetNow([] { return kSeventhOfDecember; });
    Start();
    struct Expect {
        int record;
        QString date, time, status;
        QStringList values;
        std::vector<int> lit;   // lamps 1..16 lit
    };
    const Expect records[] = {
        // 31 December 23:59:58 would lie in the future: the year before.
        {1, Date(2025, 12, 31), Time(23, 59, 58), "00000010 00001000",
         {"131", "128", "137", "1850", "7", "11", "103", "39", "376", "591", "4210"}, {4, 10}},
        // 30 February exists in no year; hour 24 is out of range.
        {2, Date(2001, 1, 1), Time(0, 0, 0), "01000010 00010000",
         {"410", "402", "415", "2045", "22", "9", "85", "84", "372", "620", "6005"}, {5, 10, 15}},
        {3, Date(2001, 1, 1), Time(0, 0, 0), "00010010 01000000",
         {"104", "107", "101", "430", "13", "16", "55", "43", "383", "585", "3820"}, {7, 10, 13}},
        {4, Date(2026, 1, 19), Time(6, 25, 53), "10000010 00000001",
         {"812", "790", "805", "1780", "18", "21", "64", "41", "379", "604", "3900"}, {1, 10, 16}},
    };
    for (const Expect& e : records) {
        SCOPED_TRACE("record " + std::to_string(e.record));
        ASSERT_TRUE(ShowRecord(e.record, e.values[0]));
        EXPECT_EQ(LoggedFrames(logPath).back(), RelaySim::readRequest(1, uint16_t(128 + 17 * (e.record - 1)), 17));
        EXPECT_EQ(Text(QStringLiteral("DataP%1").arg(e.record)), e.date);
        EXPECT_EQ(Text(QStringLiteral("TimeP%1").arg(e.record)), e.time);
        EXPECT_EQ(Text(QStringLiteral("P%1E1").arg(e.record)), e.status);
        for (int k = 2; k <= 12; ++k)
            EXPECT_EQ(Text(QStringLiteral("P%1E%2").arg(e.record).arg(k)), e.values[k - 2]) << k;
        for (int k = 1; k <= 16; ++k)
            EXPECT_EQ(Lit(e.record, k), std::count(e.lit.begin(), e.lit.end(), k) == 1) << "lamp " << k;
    }
}

// Where the system has no regional settings the texts are numeric.
TEST(RecordFormats, NumericWithoutRegionalSettings)
{
    if (QLocale::system().language() != QLocale::C)
        GTEST_SKIP() << "the system has regional settings";
    EXPECT_EQ(ShortDateText(QDate(2025, 12, 31)), "31.12.2025");
    EXPECT_EQ(LongTimeText(QTime(6, 5, 3)), "06:05:03");
    EXPECT_EQ(LocalDateTimeText(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5))), "02.01.2026 03:04:05");
}

// The year rule around New Year: 31 December 23:59:58 read on 5 January is
// last year's; read on 31 December at 23:59:59 it is this year's.
TEST_F(RecordTabs, YearRuleAroundNewYear)
{
    QDateTime now(QDate(2027, 1, 5), QTime(9, 0, 0));
    form.SetNow([&] { return now; });
    Start();
    ASSERT_TRUE(ShowRecord(1, "131"));
    EXPECT_EQ(Text("DataP1"), Date(2026, 12, 31));
    now = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
    ASSERT_TRUE(WaitFor([&] { return Text("DataP1") == Date(2026, 12, 31) && Text("TimeP1") == Time(23, 59, 58); }));
    now = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 57));
    ASSERT_TRUE(WaitFor([&] { return Text("DataP1") == Date(2025, 12, 31); }));
}

// 29 February, read in a leap year before that day: the year before has no
// 29 February, so the record shows the last year that has one, and polling goes on.
TEST_F(RecordTabs, LeapDayStepsBackToTheLastYearThatHasIt)
{
    form.SetNow([] { return QDateTime(QDate(2028, 2, 28), QTime(10, 0, 0)); });
    Start({"--record", "2=2,29,10,30,0,1,2,3,4,5,6,7,8,9,10,11,12"});
    ASSERT_TRUE(ShowRecord(2, "2"));
    EXPECT_EQ(Text("DataP2"), Date(2024, 2, 29));
    EXPECT_EQ(Text("TimeP2"), Time(10, 30, 0));
    EXPECT_EQ(Text("P2E12"), "12");
    const size_t frames = LoggedFrames(logPath).size();
    ASSERT_TRUE(WaitFor([&] { return LoggedFrames(logPath).size() > frames + 3; }));
}

// A tab switch while a record's reply is on its way: that reply still goes
// to its own tab, and no tab ever shows another record's values.
TEST_F(RecordTabs, SwitchingTabsWhileAReplyIsOnItsWayNeverMixesRecords)
{
    form.SetNow([] { return kSeventhOfDecember; });
    Start();
    QStringList shownOnTab2;
    QObject scope;   // the hooks go with this test's locals, before the fixture's window
    QObject::connect(form.ControlAs<QLineEdit>(QStringLiteral("P2E2")), &QLineEdit::textChanged, &scope,
                     [&](const QString& t) { shownOnTab2 << t; });
    int switches = 0;
    QObject::connect(form.Timer(), &QTimer::timeout, &scope, [&] {
        // The moment a request for record 1 has gone out, the user goes to
        // record 2, and back once record 2's request has gone.
        if (form.Link().ReadyToSend != 0 || switches >= 6)
            return;
        if (form.Link().Sent.Register() == 128 && form.PageControl1()->currentIndex() == 3) {
            ui.SelectPage(4);
            ++switches;
        } else if (form.Link().Sent.Register() == 145 && form.PageControl1()->currentIndex() == 4) {
            ui.SelectPage(3);
            ++switches;
        }
    });
    ui.SelectPage(3);
    ASSERT_TRUE(WaitFor([&] { return switches >= 6; }, 10000));
    ASSERT_TRUE(WaitFor([&] { return Text("P1E2") == "131" && Text("P2E2") == "410"; }));
    for (const QString& t : shownOnTab2)
        EXPECT_EQ(t, "410");
    EXPECT_EQ(Text("P1E2"), "131");
    EXPECT_EQ(Text("DataP2"), Date(2001, 1, 1));
}

// ---- report files --------------------------------------------------------------

QString ReportText(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringDecoder decode("windows-1251");
    return decode(file.readAll());
}

TEST_F(RecordTabs, ReportButtonWritesTheTabIntoTxtAndAFullDiskKeepsTheEarlierReport)
{
    KeepWorkingDirectory keep;
    QTemporaryDir work;
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    form.SetNow([] { return kSeventhOfDecember; });
    Start();
    ASSERT_TRUE(ShowRecord(4, "812"));
    ui.Click("ButtonP4");
    EXPECT_TRUE(boxes.shown.empty());
    const QString report = work.filePath(QStringLiteral("TXT/Protokol4.txt"));
    auto* status = form.findChild<QStatusBar*>(QStringLiteral("StatusBar"));
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Отчет записан в файл ") + QFileInfo(report).canonicalFilePath());
    QFile raw(report);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    raw.close();
    EXPECT_EQ(bytes.left(11), QByteArray("\xCF\xD0\xCE\xD2\xCE\xCA\xCE\xCB \xB9" "4"));
    const QString expected = QStringLiteral(
        "ПРОТОКОЛ №4\r\n"
        "\r\n"
        "Дата: %1   Время: %2\r\n"
        "Статусный регистр              :  10000010 00000001\r\n"
        "Ток фазы А                     :  812%\r\n"
        "Ток фазы B                     :  790%\r\n"
        "Ток фазы C                     :  805%\r\n"
        "Значение сопротивления изоляции:  1780kOm\r\n"
        "Уровень несимметрии токов фаз  :  18%\r\n"
        "Пульсация токов фаз            :  21%\r\n"
        "Тепловой импульс               :  64%\r\n"
        "Тепловой импульс пуска         :  41%\r\n"
        "Напряжение питания             :  379B\r\n"
        "Пусковой ток                   :  604%\r\n")
                                 .arg(Date(2026, 1, 19), Time(6, 25, 53));
    EXPECT_EQ(ReportText(report), expected);

    // The disk fills up in the middle of the next report: the box says so,
    // the earlier report stays as it was and the poll cycle goes on.
    int lines = 0;
    SetWriteFaultHook([&](WriteStep step) { return step == WriteStep::Write && ++lines == 5 ? ENOSPC : 0; });
    ui.Click("ButtonP4");
    SetWriteFaultHook({});
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].text, QStringLiteral("Disk full"));
    EXPECT_EQ(status->currentMessage(), QStringLiteral("Отчет не записан: Disk full"));
    QFile again(report);
    ASSERT_TRUE(again.open(QIODevice::ReadOnly));
    EXPECT_EQ(again.readAll(), bytes);
    const size_t frames = LoggedFrames(logPath).size();
    ASSERT_TRUE(WaitFor([&] { return LoggedFrames(logPath).size() > frames + 3; }));
    EXPECT_EQ(form.Exchanges().PollMode, 7);
}

TEST(RecordReports, NeverFilledTabGivesLabelsAndUnitsOnly)
{
    KeepWorkingDirectory keep;
    QTemporaryDir work;
    ASSERT_TRUE(QDir::setCurrent(work.path()));
    MessageCatcher boxes;
    TForm1 form;
    form.show();
    WindowDriver ui{form};
    ui.SelectPage(5);
    ui.Click("ButtonP3");
    const QString text = ReportText(work.filePath(QStringLiteral("TXT/Protokol3.txt")));
    EXPECT_TRUE(text.startsWith(QStringLiteral("ПРОТОКОЛ №3\r\n\r\nДата:    Время: \r\n")));
    EXPECT_TRUE(text.contains(QStringLiteral("\r\nТок фазы А                     :  %\r\n")));
    EXPECT_TRUE(text.endsWith(QStringLiteral("Пусковой ток                   :  %\r\n")));
    EXPECT_EQ(text.count(QStringLiteral("\r\n")), 14);
    EXPECT_TRUE(boxes.shown.empty());
}

}  // namespace
