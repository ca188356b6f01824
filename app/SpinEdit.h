// TSpinEdit: an integer field with a pair of up/down buttons at its right.
//
// It is a QLineEdit, so its text, maximum length, key events and objectName
// are the line edit's own. The text may hold any whole number that fits in
// MaxLength characters, also one outside the range; the range is enforced
// when the user leaves the control, by SetValue, and by stepping.
#pragma once

#include <QLineEdit>

class QToolButton;

class TSpinEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    int MinValue() const { return min_; }
    void SetMinValue(int value) { min_ = value; }
    int MaxValue() const { return max_; }
    void SetMaxValue(int value) { max_ = value; }
    int Increment() const { return increment_; }
    void SetIncrement(int value) { increment_ = value; }
    int MaxLength() const { return maxLength(); }
    void SetMaxLength(int length) { setMaxLength(length); }

    // The number as typed, or MinValue when the text is not a whole number.
    int Value() const;
    // Shows the value, brought into the range when MaxValue != MinValue.
    void SetValue(int value);
    // The value brought into the range (unchanged while MaxValue == MinValue).
    int CheckValue(int value) const;

    // One step up or down by Increment from the present value, within the range.
    void StepUp();
    void StepDown();

    QToolButton* UpButton() const { return up_; }
    QToolButton* DownButton() const { return down_; }

signals:
    // The text changed, by the user or by code.
    void valueChanged();
    // The user changed the text: typing, or the up and down keys and buttons.
    // Never raised by a value set from code.
    void userChanged();
    // A key went down; sent after Up/Down have stepped and before the line
    // edit itself handles the key.
    void keyDown(QKeyEvent* event);
    // The user left the control: the keyboard focus went to another control
    // of the window (Tab, a click, a page change). The window being
    // deactivated, a popup or a dialog opening is not leaving
    // (LeavingControl.h). Sent after the range has been enforced.
    void exited();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void placeButtons();
    void buttonStep(int direction);

    int min_ = 0;
    int max_ = 0;
    int increment_ = 1;
    QToolButton* up_ = nullptr;
    QToolButton* down_ = nullptr;
};
