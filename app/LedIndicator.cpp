// TLedIndicator: round lamp plus caption, painted on the parent's surface.
#include "app/LedIndicator.h"

#include "app/LampAccessibility.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

TLedIndicator::TLedIndicator(QWidget* parent) : QWidget(parent)
{
    setFocusPolicy(Qt::NoFocus);
    InstallLampAccessibility();
}

void TLedIndicator::SetCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    requestRepaint();
    NotifyLampNameChanged(this);
}

void TLedIndicator::SetChecked(bool on)
{
    if (on == checked_)
        return;
    checked_ = on;
    if (StatusBit >= 0 && StatusBit < 32) {
        const quint32 mask = quint32(1) << StatusBit;
        StatusInt = on ? (StatusInt | mask) : (StatusInt & ~mask);
    }
    requestRepaint();
    NotifyLampStateChanged(this);
}

void TLedIndicator::requestRepaint()
{
    ++repaints_;
    update();
}

QRect TLedIndicator::LampRect() const
{
    const int side = std::max(LedWidth, LedHeight);
    switch (LED_Position) {
    case lpRight: return QRect(width() - side, height() / 2 - side / 2, side, side);
    case lpTop: return QRect(width() / 2 - side / 2, 0, side, side);
    case lpBottom: return QRect(width() / 2 - side / 2, height() - side, side, side);
    case lpLeft: break;
    }
    return QRect(0, height() / 2 - side / 2, side, side);
}

void TLedIndicator::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const QRect lamp = LampRect();
    const int side = lamp.width();

    // Caption: no background, in the control's font, beside the lamp.
    QRect text;
    int align = Qt::AlignVCenter | Qt::AlignLeft;
    switch (LED_Position) {
    case lpLeft: text = QRect(side + Spacing, 0, width() - side - Spacing, height()); break;
    case lpRight: text = QRect(0, 0, width() - side - Spacing, height()); break;
    case lpTop:
        text = QRect(0, side + Spacing, width(), height() - side - Spacing);
        align = Qt::AlignTop | Qt::AlignHCenter;
        break;
    case lpBottom:
        text = QRect(0, 0, width(), height() - side - Spacing);
        align = Qt::AlignBottom | Qt::AlignHCenter;
        break;
    }
    p.setFont(font());
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(text, align | Qt::TextSingleLine, caption_);

    // The lamp: an ellipse filling the square (a QRect outline covers one
    // pixel more than its width, hence side - 1), grey rim.
    p.setPen(QPen(QColor(128, 128, 128), 1));
    p.setBrush(checked_ ? ColorOn : ColorOff);
    p.drawEllipse(lamp.adjusted(0, 0, -1, -1));

    // Highlight: white arc over the upper-left quarter, from the top point
    // counter-clockwise to the left point, on the square shrunk by side / 5.
    const int inset = side / 5;
    const QRect arc = lamp.adjusted(inset, inset, -inset - 1, -inset - 1);
    p.setPen(QPen(QColor(255, 255, 255), std::max(1, side / 8)));
    p.setBrush(Qt::NoBrush);
    p.drawArc(arc, 90 * 16, 90 * 16);
}

void TLedIndicator::mousePressEvent(QMouseEvent* e)
{
    if (e->button() != Qt::LeftButton || Mode == mIndicator) {
        e->ignore();
        return;
    }
    switch (Mode) {
    case mSwitch: SetChecked(!checked_); break;
    case mButton: SetChecked(true); break;
    case mRadioButton:
        if (parentWidget()) {
            for (TLedIndicator* other : parentWidget()->findChildren<TLedIndicator*>(
                     QString(), Qt::FindDirectChildrenOnly))
                if (other != this && other->Mode == mRadioButton && other->GroupIndex == GroupIndex)
                    other->SetChecked(false);
        }
        SetChecked(true);
        break;
    case mIndicator: break;
    }
}

void TLedIndicator::mouseReleaseEvent(QMouseEvent* e)
{
    if (e->button() == Qt::LeftButton && Mode == mButton)
        SetChecked(false);
    else
        e->ignore();
}
