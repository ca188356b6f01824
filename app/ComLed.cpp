// TComLed: follows one signal of its port through a registered link.
#include "app/ComLed.h"

#include "app/LampAccessibility.h"
#include "app/LedPictures.h"

#include <QEvent>
#include <QPainter>

#include <algorithm>

TComLed::TComLed(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    InstallLampAccessibility();
    resize(25, 25);
    ringTimer_ = new QTimer(this);
    ringTimer_->setSingleShot(true);
    connect(ringTimer_, &QTimer::timeout, this, [this] { applyState(lsOff); });
    bindLink();
}

TComLed::~TComLed()
{
    if (port_) {
        try {
            port_->RemoveLink(&link_);
        } catch (const EComPort&) {
        }
    }
}

void TComLed::SetComPort(TComPort* port)
{
    if (port == port_)
        return;
    if (port_) {
        port_->RemoveLink(&link_);
        disconnect(portGone_);
    }
    port_ = port;
    if (!port) {
        applyState(lsOff);
        return;
    }
    port->AddLink(&link_);
    // A port destroyed before the lamp is simply forgotten (its links are gone with it).
    portGone_ = connect(port, &QObject::destroyed, this, [this] {
        port_ = nullptr;
        applyState(lsOff);
    });
    if (port->Connected())
        applyState(presentState());
}

TLedState TComLed::presentState()
{
    int lines = 0;
    switch (signal_) {
    case lsConn: return lsOn;
    case lsCTS:
    case lsDSR:
    case lsRLSD:
        try {
            lines = port_->ModemStatus();
        } catch (const EComPort&) {
            return lsOff;
        }
        if (signal_ == lsCTS)
            return (lines & csCTS) ? lsOn : lsOff;
        if (signal_ == lsDSR)
            return (lines & csDSR) ? lsOn : lsOff;
        return (lines & csRLSD) ? lsOn : lsOff;
    case lsRing:
    case lsRx:
    case lsTx: break;
    }
    return lsOff;
}

void TComLed::SetLedSignal(TComLedSignal signal)
{
    if (signal == signal_)
        return;
    signal_ = signal;
    bindLink();
}

// The link listens to the one notification that the signal names.
void TComLed::bindLink()
{
    link_ = TComLink{};
    auto follow = [this](bool on) { applyState(on ? lsOn : lsOff); };
    switch (signal_) {
    case lsConn: link_.OnConn = follow; break;
    case lsCTS: link_.OnCTSChange = follow; break;
    case lsDSR: link_.OnDSRChange = follow; break;
    case lsRLSD: link_.OnRLSDChange = follow; break;
    case lsRx: link_.OnRxNotify = follow; break;
    case lsTx: link_.OnTxNotify = follow; break;
    case lsRing:
        link_.OnRing = [this] {
            applyState(lsOn);
            ringTimer_->start(std::max(0, RingDuration));
        };
        break;
    }
}

void TComLed::SetKind(TLedKind kind)
{
    if (kind == kind_)
        return;
    kind_ = kind;
    pictureOn_ = QPixmap();
    pictureOff_ = QPixmap();
    update();
}

void TComLed::SetState(TLedState state)
{
    if (port_)
        throw EComPort(19);
    applyState(state);
}

void TComLed::applyState(TLedState state)
{
    if (state == state_)
        return;
    state_ = state;
    NotifyLampStateChanged(this);
    if (OnChange)
        OnChange(this, state);
    // Show the change before the port operation that caused it goes on.
    // Painting only: running the event loop here would let a tick or a
    // receive event in, in the middle of an open or a close.
    repaint();
}

void TComLed::ensurePictures() const
{
    if (kind_ == lkCustom || (!pictureOn_.isNull() && !pictureOff_.isNull()))
        return;
    pictureOn_ = LedPicture(kind_, true);
    pictureOff_ = LedPicture(kind_, false);
}

QPixmap TComLed::CurrentPicture() const
{
    ensurePictures();
    if (kind_ == lkCustom)
        return ShowsLitPicture() ? GlyphOn : GlyphOff;
    return ShowsLitPicture() ? pictureOn_ : pictureOff_;
}

QPoint TComLed::PicturePos() const
{
    const QPixmap picture = CurrentPicture();
    return QPoint(std::max(0, (width() - picture.width()) / 2),
                  std::max(0, (height() - picture.height()) / 2));
}

void TComLed::paintEvent(QPaintEvent*)
{
    const QPixmap picture = CurrentPicture();
    if (picture.isNull())
        return;
    QPainter p(this);
    p.drawPixmap(PicturePos(), picture);
}

void TComLed::changeEvent(QEvent* e)
{
    QWidget::changeEvent(e);
    if (e->type() == QEvent::EnabledChange)
        update();
}
