// A guided tour of the window for the demo without a display: opens COM1,
// waits for the relay's values, selects every page as a user would and
// saves a picture of each into the folder given as the only argument; then
// an edit field's context menu and a file dialog, Qt's own texts in Russian;
// last, a watching station's "Уставки".
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTimer>
#include <QDialog>
#include <QTest>

#include <cstdio>

#include "app/MessageBoxes.h"
#include "app/PageControl.h"
#include "app/QtTranslations.h"
#include "app/settings/Prompts.h"
#include "app/UnitMain.h"
#include "history/TrendRecorder.h"
#include "app/trends/TrendWindow.h"

namespace {
bool save(TForm1& form, const QString& path)
{
    // The whole window with its frame when a window system draws one.
    QPixmap shot;
    if (QScreen* screen = form.screen())
        shot = screen->grabWindow(0, form.frameGeometry().x(), form.frameGeometry().y(),
                                  form.frameGeometry().width(), form.frameGeometry().height());
    if (shot.isNull() || shot.width() < form.width())
        shot = form.grab();
    return shot.save(path);
}

// The whole screen: popups and dialogs with the window behind them.
bool saveScreen(TForm1& form, const QString& path)
{
    QScreen* screen = form.screen();
    const bool saved = screen && screen->grabWindow(0).save(path);
    if (saved)
        std::printf("%s\n", qPrintable(path));
    return saved;
}
}

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Защита"));
    InstallQtTranslations(app);
    if (argc < 2) {
        std::fprintf(stderr, "usage: zashchita-tour FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    SetErrorMessageHook([](const ErrorMessage& m) {
        std::fprintf(stderr, "%s: %s\n%s\n", qPrintable(m.caption), qPrintable(m.text),
                     qPrintable(m.detail));
    });

    TForm1 form;
    QTemporaryDir starts;
    form.Trends().SetStartsFolder(starts.path());
    form.Trends().SetHistoryFolder(starts.filePath(QStringLiteral("history")));
    QSignalSpy kept(&form.Trends(), &TrendRecorder::startKept);
    form.show();
    QTest::qWait(300);
    save(form, folder + QStringLiteral("/page0-closed.png"));

    QTest::mouseClick(form.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
    auto* e0 = form.ControlAs<QLineEdit>(QStringLiteral("E0"));
    if (!QTest::qWaitFor([&] { return !e0->text().isEmpty(); }, 10000)) {
        std::fprintf(stderr, "no values from the relay on COM1\n");
        return 1;
    }
    QTest::qWait(500);

    QTabBar* tabs = form.PageControl1()->tabBar();
    for (int page = 0; page < tabs->count(); ++page) {
        if (page != tabs->currentIndex())
            QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(page).center());
        QTest::qWait(1500);
        const QString path = folder + QStringLiteral("/page%1.png").arg(page);
        if (!save(form, path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
        std::printf("%s\n", qPrintable(path));
        // Record 4's report file, as the window's page shows it (docs/window.md).
        if (page == 6)
            QTest::mouseClick(form.ControlAs<QPushButton>(QStringLiteral("ButtonP4")), Qt::LeftButton);
    }

    // Qt's own texts in Russian: an edit field's context menu and a file dialog.
    QTest::mouseClick(tabs, Qt::LeftButton, Qt::NoModifier, tabs->tabRect(0).center());
    QTest::qWait(500);
    auto* address = form.ControlAs<QLineEdit>(QStringLiteral("SEAddres"));
    if (address)
        emit address->customContextMenuRequested(address->rect().center());
    QTest::qWait(500);
    if (!saveScreen(form, folder + QStringLiteral("/context-menu.png")))
        return 1;
    if (QWidget* popup = QApplication::activePopupWidget())
        popup->close();
    QTimer::singleShot(1500, [&] {
        saveScreen(form, folder + QStringLiteral("/file-dialog.png"));
        if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
            dialog->reject();
    });
    ChooseFile(&form, FileChoice::Save, QStringLiteral("Сохранить уставки в файл"));

    // The trends over the relay's motor start (the demo's simulator plays
    // one), the start record's picture, and the start among those kept.
    QTabBar* pages = form.PageControl1()->tabBar();
    QTest::mouseClick(pages, Qt::LeftButton, Qt::NoModifier, pages->tabRect(0).center());
    if (!QTest::qWaitFor([&] { return kept.count() > 0; }, 60000))
        std::fprintf(stderr, "no motor start came (the simulator plays one with --motor-start)\n");
    TrendWindow* trends = form.OpenTrends();
    trends->resize(1000, 600);
    if (auto* name = trends->findChild<QLineEdit*>(QStringLiteral("RelayName"))) {
        name->setText(QStringLiteral("Насос 3"));
        emit name->editingFinished();
    }
    trends->findChild<QComboBox*>(QStringLiteral("SpanBox"))->setCurrentIndex(0);   // the last minute
    QTest::qWait(1000);
    trends->grab().save(folder + QStringLiteral("/trends.png"));
    std::printf("%s\n", qPrintable(folder + QStringLiteral("/trends.png")));
    // The chart as exported: a page of A4 and a picture.
    if (trends->ExportPdf(folder + QStringLiteral("/trends.pdf")) && trends->ExportPicture(folder + QStringLiteral("/trends-export.png")))
        std::printf("%s\n", qPrintable(folder + QStringLiteral("/trends.pdf")));
    if (kept.count() > 0) {
        const QString record = kept.first().first().toString();
        QFile::remove(folder + QStringLiteral("/start-record.png"));
        QFile::copy(record + QStringLiteral("/start.png"), folder + QStringLiteral("/start-record.png"));
        auto* list = trends->findChild<QListWidget*>(QStringLiteral("StartsList"));
        if (list->count() > 0) {
            list->setCurrentRow(0);
            list->item(0)->setCheckState(Qt::Checked);
        }
        QTest::qWait(500);
        trends->grab().save(folder + QStringLiteral("/trends-starts.png"));
        std::printf("%s\n", qPrintable(folder + QStringLiteral("/start-record.png")));
    }
    trends->close();

    QTest::mouseClick(form.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
    (void)QTest::qWaitFor([&] { return !form.ComPort()->Connected(); }, 3000);
    form.hide();

    // A watching station on "Уставки": every write control out of use, the
    // values still coming in.
    TForm1 watching;
    watching.SetReadOnly(true);
    watching.show();
    QTest::mouseClick(watching.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
    auto* watchedE0 = watching.ControlAs<QLineEdit>(QStringLiteral("E0"));
    (void)QTest::qWaitFor([&] { return !watchedE0->text().isEmpty(); }, 10000);
    QTabBar* watchedPages = watching.PageControl1()->tabBar();
    QTest::mouseClick(watchedPages, Qt::LeftButton, Qt::NoModifier, watchedPages->tabRect(1).center());
    QTest::qWait(2000);
    const QString watched = folder + QStringLiteral("/read-only-page1.png");
    if (!save(watching, watched))
        return 1;
    std::printf("%s\n", qPrintable(watched));
    QTest::mouseClick(watching.ControlAs<QPushButton>(QStringLiteral("ButtonCOM")), Qt::LeftButton);
    (void)QTest::qWaitFor([&] { return !watching.ComPort()->Connected(); }, 3000);
    return 0;
}
