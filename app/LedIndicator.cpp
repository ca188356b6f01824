// Placeholder until the lamp painting lands.
#include "app/LedIndicator.h"

TLedIndicator::TLedIndicator(QWidget* parent) : QWidget(parent) {}
void TLedIndicator::SetCaption(const QString& caption) { caption_ = caption; update(); }
void TLedIndicator::SetChecked(bool on)
{
    if (on == checked_)
        return;
    checked_ = on;
    ++repaints_;
    update();
}
void TLedIndicator::paintEvent(QPaintEvent*) {}
