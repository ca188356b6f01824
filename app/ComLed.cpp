// Placeholder until the port lamp lands.
#include "app/ComLed.h"

TComLed::TComLed(QWidget* parent) : QWidget(parent) {}
TComLed::~TComLed() = default;
void TComLed::SetComPort(TComPort* port) { port_ = port; }
void TComLed::SetLedSignal(TComLedSignal signal) { signal_ = signal; }
void TComLed::SetKind(TLedKind kind) { kind_ = kind; }
void TComLed::SetState(TLedState state) { state_ = state; }
void TComLed::paintEvent(QPaintEvent*) {}
void TComLed::changeEvent(QEvent* e) { QWidget::changeEvent(e); }
void TComLed::applyState(TLedState state) { state_ = state; }
void TComLed::bindLink() {}
