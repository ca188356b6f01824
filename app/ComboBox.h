// TComboBox: a drop-down list without free text that tells its window about
// the user's own doings: opening the list, a key going down, leaving it.
#pragma once

#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>

#include "app/LeavingControl.h"

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
    // The user left the box: the focus went to another control of the
    // window, not to its own list, a popup or another window.
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
        if (LeavesControl(event))
            emit exited();
    }
};
