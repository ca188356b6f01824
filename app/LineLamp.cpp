#include "app/LineLamp.h"

#include <QObject>

#include "app/ComLed.h"
#include "link/RelaySession.h"

void FollowSessionLine(TComLed* lamp, RelaySession* session)
{
    const QString portTip = lamp->toolTip();
    QObject::connect(session, &RelaySession::lineOpenChanged, lamp, [lamp, session, portTip](bool open) {
        const bool network = open && !session->Endpoint().isEmpty();
        if (network) {
            lamp->SetComPort(nullptr);
            lamp->SetState(lsOn);
            lamp->setToolTip(session->Endpoint());
            return;
        }
        if (!lamp->ComPort()) {
            lamp->SetState(lsOff);
            lamp->setToolTip(portTip);
            lamp->SetComPort(session->Port());
        }
    });
}
