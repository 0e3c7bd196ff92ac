#include "app/tabwidget.h"

#include "app/focus.h"

#include <QTabBar>

TabWidget::TabWidget(QWidget* parent)
    : QTabWidget(parent)
{
    connect(this, &QTabWidget::currentChanged, this, &TabWidget::OnTabChanged);
}

void TabWidget::MarkTabActivity(QWidget* widget)
{
    ::MarkTabActivity(widget);
}

void TabWidget::OnTabChanged(int i_tab)
{
    if (i_tab == -1)
        return;
    FindWidgetFocusProperty(widget(i_tab), 0);
    tabBar()->setTabTextColor(i_tab, Qt::black);
}

RoomTabWidget::RoomTabWidget(QWidget* parent)
    : QTabWidget(parent)
{
}
