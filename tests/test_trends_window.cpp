// The trend window and the motor start records against the simulator: a
// played start kept once with the figures the simulator played and the relay
// it is of, the history and the starts back after a restart, a damaged
// history set aside; the lines broken where the link was lost; exports
// holding what is shown, live or the starts compared, in the user's style
// and with the umask's permissions; starts of different relays apart.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QLineSeries>
#include <QListWidget>
#include <QProcess>
#include <QSettings>
#include <QSignalSpy>
#include <QChartView>

#include <sys/stat.h>

#include "app/SpinEdit.h"
#include "app/trends/TrendChart.h"
#include "app/trends/TrendWindow.h"
#include "history/ReadingsCsv.h"
#include "history/StartFiles.h"
#include "history/TrendRecorder.h"
#include "support/SimWindow.h"

namespace {

struct TrendsWindowTest : SimWindowTest {
    QTemporaryDir starts;
    void SetUp() override
    {
        // The window's settings (relay names, the last relay) of this test alone.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, starts.filePath(QStringLiteral("config")));
        form.Trends().SetStartsFolder(starts.path());
        form.Trends().SetHistoryFolder(starts.filePath(QStringLiteral("history")));
    }
    // Names the relay polled now in the trend window, as the user types it.
    void NameRelay(TrendWindow* window, const QString& name)
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return form.Trends().Relay().Known(); }, 10000));
        auto* entry = window->findChild<QLineEdit*>(QStringLiteral("RelayName"));
        entry->setFocus();
        entry->selectAll();
        for (QChar c : name)   // keyClicks takes Latin letters only
            QTest::sendKeyEvent(QTest::Click, entry, Qt::Key_unknown, QString(c), Qt::NoModifier);
        QTest::keyClick(entry, Qt::Key_Return);
    }
};

// The data folder of a test, in place of the suite's.
struct DataHome {
    QByteArray before = qgetenv("XDG_DATA_HOME");
    explicit DataHome(const QString& path) { qputenv("XDG_DATA_HOME", QFile::encodeName(path)); }
    ~DataHome() { qputenv("XDG_DATA_HOME", before); }
};

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString PdfText(const QString& path)
{
    QProcess pdftotext;
    pdftotext.start(QStringLiteral("pdftotext"), {path, QStringLiteral("-")});
    EXPECT_TRUE(pdftotext.waitForFinished(60000));
    EXPECT_EQ(pdftotext.exitCode(), 0) << "pdftotext (poppler-utils) is needed";
    return QString::fromUtf8(pdftotext.readAllStandardOutput()).simplified();
}

mode_t Mode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

}  // namespace

// The simulator plays (tools/relay-sim/MotorStart.h): peaks 612, 598 and
// 605 %, "Пуск закончен" 3 s after the switch-on, the thermal impulse 18 %
// higher after it, the relay's start impulse 21 %; rated current 42.50 A.
TEST_F(TrendsWindowTest, APlayedStartIsKeptOnceWithWhatWasPlayedAndComesBackAfterARestart)
{
    // The folders a window started afresh finds by itself.
    const DataHome home(starts.filePath(QStringLiteral("data")));
    form.Trends().SetStartsFolder(StartsFolder());
    form.Trends().SetHistoryFolder(HistoryFile::DefaultFolder());
    QSignalSpy kept(&form.Trends(), &TrendRecorder::startKept);
    StartSim({"--freeze", "--motor-start", "6", "--log", logPath.toStdString()});
    NameRelay(form.OpenTrends(), QStringLiteral("Насос 3"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept.count() > 0; }, 40000));
    QTest::qWait(1500);
    ASSERT_EQ(kept.count(), 1);

    const std::vector<StoredStart> stored = ListStarts(StartsFolder());
    ASSERT_EQ(stored.size(), 1u);
    const StartSummary& s = stored[0].summary;
    EXPECT_EQ(s.end, StartEnd::Finished);
    EXPECT_EQ(s.peakPercent, (std::array<uint16_t, 3>{612, 598, 605}));
    EXPECT_NEAR(double(s.TimeToFinishMs()), 3000.0, 300.0);
    EXPECT_EQ(s.thermalAfter - s.thermalBefore, 18);
    EXPECT_EQ(s.relayStartImpulse, 21);
    EXPECT_FALSE(s.heavy || s.prolonged);
    EXPECT_EQ(stored[0].ratedCentiAmps, 4250) << "the rated current is read for the record";

    const std::vector<BlockSample> samples = ReadStartSamples(stored[0].folder);
    ASSERT_FALSE(samples.empty());
    EXPECT_LE(samples.front().ms, s.switchOnMs - 4500) << "5 s before the switch-on";
    EXPECT_GE(samples.back().ms, s.finishedMs + 5000) << "5 s after the finish";
    EXPECT_TRUE(FileBytes(stored[0].folder + QStringLiteral("/start.png")).startsWith("\x89PNG"));

    const RelayId relay{QString::fromStdString(sim->path()), 1, QStringLiteral("Насос 3")};
    const QJsonObject summary = QJsonDocument::fromJson(FileBytes(stored[0].folder + QStringLiteral("/summary.json"))).object();
    EXPECT_EQ(summary[QStringLiteral("port")].toString(), relay.port);
    EXPECT_EQ(summary[QStringLiteral("address")].toInt(), 1);
    EXPECT_EQ(summary[QStringLiteral("relayName")].toString(), relay.name);
    EXPECT_EQ(summary[QStringLiteral("ratedCurrentA")].toDouble(), 42.5) << "the fields readers know stay";

    TrendWindow* window = form.OpenTrends();
    EXPECT_EQ(window->Starts().size(), 1u);

    // The window closed and started again: the relay's history and its start back.
    ui.Close();
    form.Trends().FlushHistory();
    const TrendHistory& before = form.Trends().History();
    {
        TForm1 again;
        const TrendHistory& after = again.Trends().History();
        EXPECT_TRUE(again.Trends().Relay().SameRelay(relay));
        EXPECT_EQ(again.Trends().Relay().name, relay.name);
        EXPECT_EQ(after.LastMs(), before.LastMs());
        EXPECT_EQ(after.FullRate().size() + after.Seconds().size(), before.FullRate().size() + before.Seconds().size());
        TrendWindow* shown = again.OpenTrends();
        ASSERT_EQ(shown->Starts().size(), 1u);
        EXPECT_TRUE(shown->findChild<QComboBox*>(QStringLiteral("RelayFilter"))->currentText().contains(relay.name));
        EXPECT_FALSE(shown->findChild<QListWidget*>(QStringLiteral("StartsList"))->item(0)->isHidden());
    }

    // A damaged history: set aside with a message, the start record kept.
    const QString path = HistoryFile::PathFor(HistoryFile::DefaultFolder(), relay);
    QByteArray damaged = FileBytes(path);
    damaged[damaged.size() / 2] = char(~damaged[damaged.size() / 2]);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(damaged);
    file.close();
    boxes.shown.clear();
    TForm1 third;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !boxes.shown.empty(); }, 5000));
    EXPECT_TRUE(boxes.shown.front().text.contains(QStringLiteral("поврежден"))) << boxes.shown.front().text.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_EQ(QDir(HistoryFile::DefaultFolder()).entryList({QStringLiteral("*.damaged-*")}).size(), 1);
    EXPECT_EQ(third.OpenTrends()->Starts().size(), 1u);
}

TEST_F(TrendsWindowTest, ALostLinkBreaksTheLines)
{
    // The relay stops answering: the window is set to an address nobody
    // has, until the link shows lost, then back to the relay's.
    StartSim({"--freeze"});
    QTest::qWait(1000);
    auto* address = form.ControlAs<TSpinEdit>(QStringLiteral("SEAddres"));
    const auto setAddress = [&](const char* text) {
        address->setFocus();
        address->selectAll();
        QTest::keyClicks(address, text);
        QTest::keyClick(address, Qt::Key_Return);
    };
    setAddress("2");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Timer3()->isActive(); }, 10000)) << "the link shows lost";
    const qint64 lostAt = form.Trends().History().LastMs();
    setAddress("1");
    ASSERT_TRUE(QTest::qWaitFor([&] { return form.Trends().History().LastMs() > lostAt + 1000; }, 10000));

    TrendWindow* window = form.OpenTrends();
    window->Refresh();
    for (int channel : {int(tcPhaseA), int(tcInsulation)}) {
        const std::vector<QLineSeries*> lines = window->Chart().Lines(channel);
        ASSERT_EQ(lines.size(), 2u) << channel;
        EXPECT_LE(lines[0]->at(lines[0]->count() - 1).x(), double(lostAt));
        EXPECT_GT(lines[1]->at(0).x(), double(lostAt + 300)) << "no line bridges the gap";
    }
}

TEST_F(TrendsWindowTest, ExportHoldsWhatIsShownAsTheUserExpectsIt)
{
    StartSim({"--log", logPath.toStdString()});
    TrendWindow* window = form.OpenTrends();
    NameRelay(window, QStringLiteral("Насос 3"));
    QTest::qWait(3000);
    const TrendHistory& history = form.Trends().History();
    window->ShowSpan(history.FirstMs() + 700, history.LastMs() - 700);

    std::vector<QPointF> shown;
    for (const QLineSeries* line : window->Chart().Lines(tcPhaseA))
        for (const QPointF& p : line->points())
            shown.push_back(p);
    ASSERT_GT(shown.size(), 10u);

    // The dialog offers the last folder, and a name of the relay and the day.
    QString path, offered;
    const QString folder = dir.filePath(QStringLiteral("exports"));
    QDir().mkpath(folder);
    window->AskSavePath = [&](const QString&, const QString& filter, const QString& suggested) {
        offered = suggested;
        return path = folder + QStringLiteral("/shown.") + filter.section(QLatin1Char('.'), 1).chopped(1);
    };
    const QString today = QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd"));
    // The umask, the locale and the style chosen as they were, whatever fails.
    struct Restore {
        mode_t umask = ::umask(027);
        QLocale locale;
        ~Restore()
        {
            ::umask(umask);
            QLocale::setDefault(locale);
            qunsetenv("ZASHCHITA_CSV");
        }
    } const restore;
    struct Style {
        const char* chosen;   // ZASHCHITA_CSV
        QLocale locale;
        char separator;
    } const styles[] = {
        {"", QLocale(QLocale::Russian, QLocale::Russia), ';'},
        {"", QLocale::c(), ','},
        {"comma", QLocale(QLocale::Russian, QLocale::Russia), ','},
        {"semicolon", QLocale::c(), ';'},
    };
    for (const Style& style : styles) {
        SCOPED_TRACE(std::string(style.chosen) + " " + style.locale.name().toStdString());
        qputenv("ZASHCHITA_CSV", style.chosen);
        QLocale::setDefault(style.locale);
        QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportCSV")), Qt::LeftButton);
        const QByteArray text = FileBytes(path);
        EXPECT_TRUE(text.contains(QStringLiteral("Время ПК%1").arg(QLatin1Char(style.separator)).toUtf8()));
        const auto rows = ParseReadingsCsv(text);
        ASSERT_TRUE(rows.has_value()) << path.toStdString();
        ASSERT_EQ(rows->size(), shown.size()) << "one row per sample drawn";
        for (size_t n = 0; n < shown.size(); ++n) {
            EXPECT_EQ(double((*rows)[n].ms), shown[n].x());
            EXPECT_EQ(double((*rows)[n].At(50)), shown[n].y());
        }
    }
    EXPECT_TRUE(offered.contains(QStringLiteral("Насос_3_%1").arg(today))) << offered.toStdString();
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportPNG")), Qt::LeftButton);
    const QImage png = QImage::fromData(FileBytes(path), "PNG");
    ASSERT_FALSE(png.isNull());
    EXPECT_EQ(png.pixel(0, 0), qRgb(255, 255, 255)) << "a white sheet round the chart, not what memory held";
    EXPECT_EQ(png.pixel(png.width() - 1, png.height() - 1), qRgb(255, 255, 255));
    EXPECT_EQ(QFileInfo(offered).absolutePath(), folder) << "the last folder, offered again";
    EXPECT_TRUE(offered.endsWith(QStringLiteral(".png")));
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportPDF")), Qt::LeftButton);
    EXPECT_EQ(Mode(path), 0640u) << "as the umask gives";
    const QString text = PdfText(path);
    for (const QString& expected : {QStringLiteral("Тренды: Насос 3"), QStringLiteral("адрес 1"),
                                    QStringLiteral("Интервал: %1").arg(RussianMoment(window->ShownFromMs())),
                                    QStringLiteral("Сформировано:"), QStringLiteral("Сопротивление изоляции, кОм")})
        EXPECT_TRUE(text.contains(expected)) << expected.toStdString() << " in " << text.toStdString();
}

// Starts of two relays: listed apart, drawn together only when the user says
// so; while any is shown, the readout and the exports are of the starts.
TEST_F(TrendsWindowTest, StartsOfDifferentRelaysAreComparedOnlyWhenAsked)
{
    const RelayId first{QStringLiteral("/dev/ttyUSB0"), 1, QStringLiteral("Насос 1")};
    const RelayId second{QStringLiteral("/dev/ttyUSB0"), 2, QStringLiteral("Насос 2")};
    const qint64 t0 = QDateTime::currentMSecsSinceEpoch() - 3600'000;
    int written = 0;
    for (const RelayId& relay : {first, first, second}) {
        StartRecord record;
        record.summary.switchOnMs = t0 + 60'000 * written++;
        for (int n = -12; n < 40; ++n) {
            BlockSample s;
            s.ms = record.summary.switchOnMs + n * 83;
            s.Set(50, uint16_t(n < 0 ? 0 : n < 10 ? 60 * n : 100));
            record.samples.push_back(s);
        }
        ASSERT_TRUE(WriteStartRecord(starts.path(), record, 0, relay, {}, nullptr, nullptr));
    }
    form.Trends().SetRelay(first);
    TrendWindow* window = form.OpenTrends();
    auto* filter = window->findChild<QComboBox*>(QStringLiteral("RelayFilter"));
    auto* list = window->findChild<QListWidget*>(QStringLiteral("StartsList"));
    ASSERT_EQ(filter->count(), 3) << "all, and each relay";
    EXPECT_TRUE(filter->currentText().contains(first.name)) << "the relay polled";
    ASSERT_EQ(list->count(), 3);
    EXPECT_TRUE(list->item(2)->isHidden());

    list->item(0)->setCheckState(Qt::Checked);
    ASSERT_TRUE(window->ShowsStarts());
    auto* view = window->findChild<QChartView*>(QStringLiteral("TrendView"));
    const QPointF at = view->chart()->mapToPosition(QPointF(0.5, 300));
    QTest::mouseMove(view->viewport(), at.toPoint());
    EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("Readout"))->text().contains(QStringLiteral("с от включения")));

    QString path;
    window->AskSavePath = [&](const QString&, const QString& filter, const QString&) {
        return path = dir.filePath(QStringLiteral("starts.") + filter.section(QLatin1Char('.'), 1).chopped(1));
    };
    qputenv("ZASHCHITA_CSV", "semicolon");
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportCSV")), Qt::LeftButton);
    qunsetenv("ZASHCHITA_CSV");
    const std::vector<QStringList> rows = SplitCsv(FileBytes(path));
    ASSERT_EQ(rows.size(), 53u) << "the header and the start's 52 samples";
    EXPECT_EQ(rows[0].value(0), QStringLiteral("Пуск"));
    EXPECT_EQ(rows[1].mid(1, 5), (QStringList{first.name, first.port, QStringLiteral("1"), QStringLiteral("-0,996"),
                                              QStringLiteral("0")}));
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportPDF")), Qt::LeftButton);
    EXPECT_TRUE(PdfText(path).contains(QStringLiteral("Сравнение пусков: Насос 1")));

    QStringList asked;
    bool answer = false;
    window->AskToCompare = [&](const QString& question) {
        asked << question;
        return answer;
    };
    filter->setCurrentIndex(0);
    ASSERT_FALSE(list->item(2)->isHidden());
    list->item(1)->setCheckState(Qt::Checked);
    EXPECT_TRUE(asked.isEmpty()) << "the same relay's starts";
    list->item(2)->setCheckState(Qt::Checked);
    ASSERT_EQ(asked.size(), 1);
    EXPECT_TRUE(asked[0].contains(second.name) && asked[0].contains(first.name)) << asked[0].toStdString();
    EXPECT_EQ(list->item(2)->checkState(), Qt::Unchecked) << "refused";
    answer = true;
    list->item(2)->setCheckState(Qt::Checked);
    EXPECT_EQ(list->item(2)->checkState(), Qt::Checked);
    QTest::mouseClick(window->findChild<QPushButton*>(QStringLiteral("ExportCSV")), Qt::LeftButton);
    EXPECT_EQ(SplitCsv(FileBytes(path)).size(), 1u + 3 * 52);
    list->item(2)->setCheckState(Qt::Unchecked);
    EXPECT_EQ(asked.size(), 2) << "taking a start away asks nothing";
}
