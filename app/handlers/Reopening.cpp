// A watching station's lost port, opened again by itself: the open look
// stays, the no-link notice blinks and the status bar counts the pauses,
// which grow from 1 s to 30 s (LineReopener), until the port opens and
// polling goes on where it was, or the user presses "Закрыть".
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "app/LineReopener.h"
#include "app/PageControl.h"
#include "app/UnitMain.h"
#include "exchanges/CurrentParams.h"

namespace {
const QString kClose = QStringLiteral("Закрыть");
}

void TForm1::wireReopener()
{
    reopener_ = new LineReopener([this](QString* why) { return reopenLine(why); }, this);
    connect(reopener_, &LineReopener::waiting, this, [this](int pauseMs, const QString& why) {
        ShowStatus(QStringLiteral("Порт потерян, повторное открытие через %1 с").arg(pauseMs / 1000));
        statusBar_->setToolTip(why);
    });
    connect(reopener_, &LineReopener::reopened, this, [this] {
        ShowStatus(QStringLiteral("Порт открыт снова, опрос продолжается"));
        statusBar_->setToolTip(QString());
    });
}

void TForm1::startReopening(const QString& why)
{
    // Nobody may be there to answer a message box: the status bar says it,
    // the no-link notice blinks, and "Закрыть" stops the waiting.
    ButtonCOM->setText(kClose);
    setAutoPopup(false);
    LabelNum->setText(QStringLiteral("COM %1").arg(comNumber_));
    timer3_->start();
    reopener_->Start(why);
}

bool TForm1::reopenLine(QString* why)
{
    const int page = pageControl1_->currentIndex();
    if (const std::optional<QString> failure = openLine()) {
        *why = *failure;
        return false;
    }
    timer3_->stop();
    for (QLabel* notice : LabelS_)
        notice->setVisible(false);
    // Polling goes on where the window was: after page 0's first reply, the
    // page shown is read again.
    if (page != kCurrentParamsPage)
        askForPage(page);
    return true;
}
