// The value fields' style: the application's own, with the field's panel (its
// base and frame) drawn once per size, state and palette and then copied.
// A value field is repainted whenever its value changes, and the frame's
// antialiased outline took most of that repaint.
#pragma once

#include <QHash>
#include <QPixmap>
#include <QProxyStyle>

class ValueFieldStyle : public QProxyStyle {
public:
    // On the application's style; owned by `owner`.
    explicit ValueFieldStyle(QObject* owner);
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override;

private:
    // Everything a panel is drawn from: its size, state, colours, frame and
    // the device's pixel ratio.
    struct PanelKey {
        int width, height;
        uint state;
        qint64 palette;
        int lineWidth, midLineWidth;
        qreal ratio;
        friend bool operator==(const PanelKey&, const PanelKey&) = default;
        friend size_t qHash(const PanelKey& k, size_t seed = 0)
        {
            return qHashMulti(seed, k.width, k.height, k.state, k.palette, k.lineWidth, k.midLineWidth, k.ratio);
        }
    };
    mutable QHash<PanelKey, QPixmap> panels_;
};
