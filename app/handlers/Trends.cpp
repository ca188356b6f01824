// The trend window and the motor start records: the recorder is fed every
// current-parameters reply (see CurrentParams.cpp) and told of every lost
// link; the window opens with Ctrl+T or from the context menu of page 0.
#include <QAction>
#include <QMenu>

#include "app/UnitMain.h"
#include "app/trends/TrendRecorder.h"
#include "app/trends/TrendWindow.h"
#include "exchanges/CurrentParams.h"

void TForm1::wireTrends()
{
    trends_ = new TrendRecorder(*session_, this);
    trends_->DrawPicture = DrawStartPicture;

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
        if (readOnly_)
            trendWindow_->setWindowTitle(trendWindow_->windowTitle() + QStringLiteral(" — только просмотр"));
    }
    trendWindow_->show();
    trendWindow_->raise();
    trendWindow_->activateWindow();
    return trendWindow_;
}
