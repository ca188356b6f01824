// TComboBox: a drop-down list without free text that tells its window about
// the user's own doings: opening the list, a key going down, leaving it.
#pragma once

#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>

class TComboBox : public QComboBox {
    Q_OBJECT
public:
    explicit TComboBox(QWidget* parent = nullptr) : QComboBox(parent) {}

    void showPopup() override
    {
        emit popupOpened();
        QComboBox::showPopup();
    }

signals:
    void popupOpened();
    // A key went down, before the box itself handles it.
    void keyDown(QKeyEvent* event);
    // The box lost the keyboard focus (not to its own list).
    void exited();

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        emit keyDown(event);
        QComboBox::keyPressEvent(event);
    }
    void focusOutEvent(QFocusEvent* event) override
    {
        QComboBox::focusOutEvent(event);
        if (event->reason() != Qt::PopupFocusReason)
            emit exited();
    }
};
