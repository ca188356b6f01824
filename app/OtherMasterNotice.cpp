#include "app/OtherMasterNotice.h"

#include <QLabel>

#include "app/LayoutTables.h"
#include "link/RelaySession.h"

void ShowOtherMasterNotice(QWidget* form, RelaySession* session)
{
    constexpr int kHeight = 18;
    auto* notice = new QLabel(form);
    notice->setObjectName(QStringLiteral("LabelOtherMaster"));
    notice->setText(QStringLiteral("На линии другой ведущий: показанные значения могут быть чужими"));
    notice->setAlignment(Qt::AlignCenter);
    notice->setStyleSheet(QStringLiteral("QLabel { background: #FFF3B0; color: #8A0000; font-weight: bold; }"));
    notice->setGeometry(0, kClientHeight - kHeight, kClientWidth, kHeight);
    // A notice only: the controls beneath it stay within the mouse's reach.
    notice->setAttribute(Qt::WA_TransparentForMouseEvents);
    notice->setVisible(false);
    QObject::connect(session, &RelaySession::otherMasterSeen, notice, [notice] {
        notice->setVisible(true);
        notice->raise();
    });
    QObject::connect(session, &RelaySession::lineOpenChanged, notice, [notice](bool open) {
        if (open)
            notice->setVisible(false);
    });
}
