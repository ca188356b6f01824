// The trend window's chart view: a rectangle zooms in (the right button
// back out), the wheel zooms about the pointer, and the pointer's place is
// reported for the readout.
#pragma once

#include <QChartView>
#include <QWheelEvent>

class TrendView : public QChartView {
    Q_OBJECT
public:
    using QChartView::QChartView;

signals:
    void zoomed();
    void pointerMoved(const QPointF& value);

protected:
    void wheelEvent(QWheelEvent* event) override
    {
        constexpr double kWheelZoom = 1.25;
        const double factor = event->angleDelta().y() > 0 ? kWheelZoom : 1.0 / kWheelZoom;
        chart()->zoom(factor);
        emit zoomed();
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override
    {
        QChartView::mouseReleaseEvent(event);
        emit zoomed();
    }
    void mouseMoveEvent(QMouseEvent* event) override
    {
        QChartView::mouseMoveEvent(event);
        emit pointerMoved(chart()->mapToValue(event->position()));
    }
};
