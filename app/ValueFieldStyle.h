// The value fields' style: the application's own, with the field's panel (its
// base and frame) drawn once per size, state and palette and then copied.
// A value field is repainted whenever its value changes, and the frame's
// antialiased outline took most of that repaint.
#pragma once

#include <QProxyStyle>

class ValueFieldStyle : public QProxyStyle {
public:
    // On the application's style; owned by `owner`.
    explicit ValueFieldStyle(QObject* owner);
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;
};
