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
    // Shown while another master is present, and for the hold time after
    // its last frame; it clears by itself once the line has been quiet so long.
    QObject::connect(session, &RelaySession::otherMasterChanged, notice, [notice](bool present) {
        notice->setVisible(present);
        if (present)
            notice->raise();
    });
}
