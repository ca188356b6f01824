#include "app/PaneFill.h"

#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabWidget>

namespace {
// Item views' alternate rows: nothing else is painted with it.
constexpr QPalette::ColorRole kFillRole = QPalette::AlternateBase;
}

void PaintPaneFillBehind(QWidget* widget, const QTabWidget* pane)
{
    // The style paints a small pane; its middle is the pages' fill, clear of
    // the pane's outline and shadow.
    constexpr int kSide = 16;
    QStyleOptionTabWidgetFrame option;
    option.initFrom(pane);
    option.rect = QRect(0, 0, kSide, kSide);
    QPalette palette = widget->palette();
    // The pane itself is never disabled: a disabled control lies on the
    // active pane's fill.
    for (const QPalette::ColorGroup group : {QPalette::Inactive, QPalette::Active}) {
        QImage image(kSide, kSide, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        option.palette.setCurrentColorGroup(group);
        pane->style()->drawPrimitive(QStyle::PE_FrameTabWidget, &option, &painter, pane);
        painter.end();
        const QColor fill = image.pixelColor(kSide / 2, kSide / 2);
        if (fill.alpha() != 255 || image.pixelColor(kSide / 2 - 3, kSide / 2 + 3) != fill) {
            widget->setAutoFillBackground(false);
            return;
        }
        palette.setColor(group, kFillRole, fill);
        if (group == QPalette::Active)
            palette.setColor(QPalette::Disabled, kFillRole, fill);
    }
    widget->setPalette(palette);
    widget->setBackgroundRole(kFillRole);
    // An opaque fill makes the control opaque to the repaint: nothing behind
    // it is painted again.
    widget->setAutoFillBackground(true);
}
