#include "app/PageControl.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QTabBar>

#include "app/Fonts.h"

namespace {

// The tab bar's style: the application's own with narrower side margins in a
// tab, so that all nine pages' tabs fit in one row across the window.
class NarrowTabsStyle : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        if (metric == PM_TabBarTabHSpace)
            return 12;
        return QProxyStyle::pixelMetric(metric, option, widget);
    }
};

}  // namespace

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent)
{
    auto* style = new NarrowTabsStyle(QStyleFactory::create(QApplication::style()->name()));
    style->setParent(tabBar());
    tabBar()->setStyle(style);
    tabBar()->setFont(RoleFont(FontRole::Tabs));
    tabBar()->setUsesScrollButtons(false);
    tabBar()->setElideMode(Qt::ElideNone);
    tabBar()->setExpanding(false);
    connect(this, &QTabWidget::currentChanged, this, &TPageControl::onCurrentChanged);
}

void TPageControl::SelectFromCode(int index)
{
    const bool was = fromCode_;
    fromCode_ = true;
    setCurrentIndex(index);
    fromCode_ = was;
    shown_ = currentIndex();
}

int TPageControl::AddPage(QWidget* page, const QString& caption)
{
    const bool was = fromCode_;
    fromCode_ = true;
    const int index = addTab(page, caption);
    fromCode_ = was;
    shown_ = currentIndex();
    return index;
}

void TPageControl::onCurrentChanged(int index)
{
    const int leaving = shown_;
    shown_ = index;
    // A change made by code, or the first page appearing in an empty control.
    if (fromCode_ || leaving < 0 || index < 0)
        return;
    emit changing(leaving);
    emit changed(index);
}

// Inserting or removing a page may move the current index without a change
// of the page shown; keep the page being shown in step.
void TPageControl::tabInserted(int index)
{
    QTabWidget::tabInserted(index);
    shown_ = currentIndex();
}

void TPageControl::tabRemoved(int index)
{
    QTabWidget::tabRemoved(index);
    shown_ = currentIndex();
}
