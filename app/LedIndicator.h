// TLedIndicator: a round lamp with a caption to its right, showing one
// status bit (red while lit, silver while dark). No keyboard focus.
#pragma once

#include <QColor>
#include <QWidget>

class TLedIndicator : public QWidget {
    Q_OBJECT
public:
    enum TLedPosition { lpLeft, lpRight, lpTop, lpBottom };
    enum TLedMode { mButton, mSwitch, mIndicator, mRadioButton };

    explicit TLedIndicator(QWidget* parent = nullptr);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption);

    bool Checked() const { return checked_; }
    void SetChecked(bool on);          // no repaint when the value is unchanged

    QColor ColorOn{255, 0, 0};
    QColor ColorOff{192, 192, 192};
    int LedWidth = 13;
    int LedHeight = 13;
    int Spacing = 5;
    TLedPosition LED_Position = lpLeft;
    TLedMode Mode = mIndicator;
    quint32 StatusInt = 0;
    int StatusBit = 0;
    int GroupIndex = 0;

    int RepaintCount() const { return repaints_; }   // paints requested, for tests

    QSize sizeHint() const override { return QSize(150, 20); }
    // Where the lamp sits inside the control (the caption takes the rest).
    QRect LampRect() const;

protected:
    void paintEvent(QPaintEvent*) override;
    // mSwitch toggles, mButton is lit while pressed, mRadioButton lights and
    // puts out the other radio lamps of its GroupIndex; mIndicator ignores the mouse.
    void mousePressEvent(QMouseEvent* e) override;
    void mouseReleaseEvent(QMouseEvent* e) override;

private:
    void requestRepaint();

    QString caption_;
    bool checked_ = false;
    int repaints_ = 0;
};
