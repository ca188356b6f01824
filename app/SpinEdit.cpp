#include "app/SpinEdit.h"
#include "app/LeavingControl.h"

#include <QKeyEvent>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QToolButton>

#include <algorithm>
#include <climits>

namespace {

constexpr int kButtonWidth = 15;

QToolButton* MakeButton(QWidget* parent, Qt::ArrowType arrow)
{
    auto* button = new QToolButton(parent);
    button->setArrowType(arrow);
    button->setAutoRepeat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::ArrowCursor);
    button->setIconSize(QSize(7, 4));
    return button;
}

}  // namespace

TSpinEdit::TSpinEdit(QWidget* parent) : QLineEdit(parent)
{
    setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("-?[0-9]*")), this));
    up_ = MakeButton(this, Qt::UpArrow);
    down_ = MakeButton(this, Qt::DownArrow);
    // A screen reader names the buttons by what they do.
    up_->setAccessibleName(QStringLiteral("Больше"));
    down_->setAccessibleName(QStringLiteral("Меньше"));
    connect(up_, &QToolButton::clicked, this, [this] { buttonStep(+1); });
    connect(down_, &QToolButton::clicked, this, [this] { buttonStep(-1); });
    connect(this, &QLineEdit::textChanged, this, [this] { emit valueChanged(); });
    connect(this, &QLineEdit::textEdited, this, [this] { emit userChanged(); });
    setTextMargins(0, 0, kButtonWidth, 0);
    SetValue(0);
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int value = text().toInt(&ok);
    return ok ? value : min_;
}

int TSpinEdit::CheckValue(int value) const
{
    if (max_ == min_)
        return value;
    return std::clamp(value, std::min(min_, max_), std::max(min_, max_));
}

void TSpinEdit::SetValue(int value)
{
    setText(QString::number(CheckValue(value)));
}

void TSpinEdit::StepUp()
{
    const long long next = static_cast<long long>(Value()) + increment_;
    SetValue(static_cast<int>(std::clamp<long long>(next, INT_MIN, INT_MAX)));
}

void TSpinEdit::StepDown()
{
    const long long next = static_cast<long long>(Value()) - increment_;
    SetValue(static_cast<int>(std::clamp<long long>(next, INT_MIN, INT_MAX)));
}

void TSpinEdit::buttonStep(int direction)
{
    if (isReadOnly())
        return;
    // A click on a button works on the field: the field takes the focus.
    if (!hasFocus())
        setFocus(Qt::MouseFocusReason);
    const QString before = text();
    if (direction > 0)
        StepUp();
    else
        StepDown();
    if (text() != before)
        emit userChanged();
}

void TSpinEdit::keyPressEvent(QKeyEvent* event)
{
    if (!isReadOnly() && (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
        const QString before = text();
        if (event->key() == Qt::Key_Up)
            StepUp();
        else
            StepDown();
        if (text() != before)
            emit userChanged();
    }
    emit keyDown(event);
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent* event)
{
    // A text typed and not yet confirmed stays as typed while the focus is
    // only away for a while; it comes back to this control.
    const bool leaving = LeavesControl(event);
    if (leaving) {
        const int value = Value();
        if (CheckValue(value) != value)
            SetValue(value);
    }
    QLineEdit::focusOutEvent(event);
    if (leaving)
        emit exited();
}

void TSpinEdit::resizeEvent(QResizeEvent* event)
{
    QLineEdit::resizeEvent(event);
    placeButtons();
}

void TSpinEdit::placeButtons()
{
    const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
    const int inner = std::max(2, height() - 2 * frame);
    const int upHeight = inner / 2;
    const int x = width() - frame - kButtonWidth;
    up_->setGeometry(x, frame, kButtonWidth, upHeight);
    down_->setGeometry(x, frame + upHeight, kButtonWidth, inner - upHeight);
}
