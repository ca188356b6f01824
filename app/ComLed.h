// TComLed: a picture lamp bound to a TComPort through a link; with the
// connection signal it is lit exactly while the port is open.
#pragma once

#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <functional>

#include "serial/ComPort.h"

enum TComLedSignal { lsConn, lsCTS, lsDSR, lsRLSD, lsRing, lsRx, lsTx };
enum TLedKind { lkRedLight, lkGreenLight, lkBlueLight, lkYellowLight, lkPurpleLight, lkBulb,
                lkCustom };
enum TLedState { lsOff, lsOn };

class TComLed : public QWidget {
    Q_OBJECT
public:
    explicit TComLed(QWidget* parent = nullptr);
    ~TComLed() override;

    TComPort* ComPort() const { return port_; }
    void SetComPort(TComPort* port);

    TComLedSignal LedSignal() const { return signal_; }
    void SetLedSignal(TComLedSignal signal);

    TLedKind Kind() const { return kind_; }
    void SetKind(TLedKind kind);

    TLedState State() const { return state_; }
    void SetState(TLedState state);     // raises EComPort 19 while bound to a port

    int RingDuration = 1000;
    QPixmap GlyphOn, GlyphOff;   // the pictures for lkCustom

    // Raised on each change of State.
    std::function<void(QObject* sender, TLedState state)> OnChange;

    // Whether painting now shows the lit picture: State is lsOn and the
    // control is enabled.
    bool ShowsLitPicture() const { return state_ == lsOn && isEnabled(); }
    // The picture painting now shows, and where it goes.
    QPixmap CurrentPicture() const;
    QPoint PicturePos() const;

protected:
    void paintEvent(QPaintEvent*) override;
    void changeEvent(QEvent* e) override;

private:
    void applyState(TLedState state);
    void bindLink();
    TLedState presentState();
    void ensurePictures() const;

    QPointer<TComPort> port_;
    QMetaObject::Connection portGone_;
    TComLink link_;
    TComLedSignal signal_ = lsConn;
    TLedKind kind_ = lkBulb;
    TLedState state_ = lsOff;
    QTimer* ringTimer_ = nullptr;
    mutable QPixmap pictureOn_, pictureOff_;   // loaded for kind_ when first painted
};
