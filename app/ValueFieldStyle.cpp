#include "app/ValueFieldStyle.h"

#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QStyleFactory>
#include <QStyleOptionFrame>

ValueFieldStyle::ValueFieldStyle(QObject* owner)
    : QProxyStyle(QStyleFactory::create(QApplication::style()->name()))
{
    setParent(owner);
}

void ValueFieldStyle::drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                                    const QWidget* widget) const
{
    const auto* frame = qstyleoption_cast<const QStyleOptionFrame*>(option);
    if (element != PE_PanelLineEdit || !frame || option->rect.isEmpty()) {
        QProxyStyle::drawPrimitive(element, option, painter, widget);
        return;
    }
    // A handful of sizes and states: a palette changed over and over must not
    // make the cache grow without end.
    constexpr qsizetype kMostPanels = 64;
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatio() : 1.0;
    const QSize size = option->rect.size();
    const PanelKey key{size.width(),        size.height(),     uint(option->state), option->palette.cacheKey(),
                       frame->lineWidth,    frame->midLineWidth, ratio};
    auto found = panels_.constFind(key);
    if (found == panels_.constEnd()) {
        QPixmap panel(size * ratio);
        panel.setDevicePixelRatio(ratio);
        panel.fill(Qt::transparent);
        QStyleOptionFrame at = *frame;
        at.rect = QRect(QPoint(0, 0), size);
        QPainter onPanel(&panel);
        QProxyStyle::drawPrimitive(element, &at, &onPanel, widget);
        onPanel.end();
        if (panels_.size() >= kMostPanels)
            panels_.clear();
        found = panels_.insert(key, panel);
    }
    painter->drawPixmap(option->rect.topLeft(), *found);
}
