// The trend window and the motor start records: the recorder is fed every
// current-parameters reply (see CurrentParams.cpp) and told of every lost
// link; it keeps the history of the relay polled, named by the user in the
// trend window, and at start-up shows that of the relay polled last. The
// window opens with Ctrl+T or from the context menu of page 0.
#include <QAction>
#include <QMenu>

#include "app/MessageBoxes.h"
#include "app/UnitMain.h"
#include "app/trends/TrendPage.h"
#include "app/trends/TrendSettings.h"
#include "app/trends/TrendWindow.h"
#include "exchanges/CurrentParams.h"
#include "history/TrendRecorder.h"

void TForm1::wireTrends()
{
    trends_ = new TrendRecorder(*session_, this);
    trends_->DrawPicture = DrawStartPicture;
    trends_->NameOf = [](const RelayId& relay) { return RelayName(relay); };
    connect(trends_, &TrendRecorder::relayChanged, this, [](const RelayId& relay) {
        if (relay.Known())
            SetLastRelay(relay);
    });
    // Said once the window runs, never from inside the poll or the start-up.
    const auto tell = [this](const QString& text, const QString& detail) {
        QMetaObject::invokeMethod(
            this, [this, text, detail] { ShowErrorMessage(this, {QStringLiteral("Тренды"), text, detail}); },
            Qt::QueuedConnection);
    };
    connect(trends_, &TrendRecorder::historyTrouble, this,
            [tell](const QString& message) { tell(message, QString()); });
    connect(trends_, &TrendRecorder::startNotKept, this, [this, tell](const QString& reason) {
        tell(QStringLiteral("Запись пуска двигателя не сохранена в %1").arg(trends_->Folder()), reason);
    });
    trends_->SetRelay(LastRelay());

    auto* open = new QAction(QStringLiteral("Тренды…"), this);
    open->setObjectName(QStringLiteral("TrendsAction"));
    open->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    open->setShortcutContext(Qt::WindowShortcut);
    addAction(open);
    connect(open, &QAction::triggered, this, [this] { OpenTrends(); });

    auto* menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("CurrentParamsMenu"));
    menu->addAction(open);
    QWidget* panel = Control(QStringLiteral("Panel%1").arg(kCurrentParamsPage + 1));
    panel->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(panel, &QWidget::customContextMenuRequested, this,
            [menu, panel](const QPoint& at) { menu->popup(panel->mapToGlobal(at)); });
}

TrendWindow* TForm1::OpenTrends()
{
    if (!trendWindow_) {
        trendWindow_ = new TrendWindow(*trends_, this);
        trendWindow_->NowMs = [this] { return Now().toMSecsSinceEpoch(); };
        if (readOnly_) {
            const auto mark = [this] {
                if (!trendWindow_->windowTitle().endsWith(QStringLiteral(" — только просмотр")))
                    trendWindow_->setWindowTitle(trendWindow_->windowTitle() + QStringLiteral(" — только просмотр"));
            };
            mark();
            connect(trendWindow_, &QWidget::windowTitleChanged, this, mark);
        }
    }
    trendWindow_->show();
    trendWindow_->raise();
    trendWindow_->activateWindow();
    return trendWindow_;
}
