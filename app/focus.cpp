#include "app/focus.h"

#include "app/tabwidget.h"
#include "model/helpers.h"

#include <QTabBar>
#include <QTabWidget>
#include <QVariant>
#include <QWidget>

bool g_showIsOver = false;

namespace {

const char* const kFocusProperty = "get_focus";

// Calls `visit(tabWidget, pageIndex)` for every enclosing tab widget that has a page on the
// path from the widget up to it; the page nearest the tab widget is the one that counts.
// Stops early when `visit` returns false.
template <typename Visit>
void WalkEnclosingTabs(QWidget* widget, Visit visit)
{
    QList<QWidget*> path;  // from the widget upwards; the last entry is the nearest to `p`
    path << widget;
    for (QObject* p = widget->parent(); p; p = p->parent()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(p)) {
            for (int k = path.size() - 1; k >= 0; --k) {
                const int index = tabs->indexOf(path.at(k));
                if (index != -1) {
                    if (!visit(tabs, index))
                        return;
                    break;
                }
            }
        }
        if (p->isWidgetType())
            path << static_cast<QWidget*>(p);
    }
}

} // namespace

void RegisterWidgetForTabFocus(QWidget* widget, int priority)
{
    if (!widget)
        return;
    widget->setProperty(kFocusProperty, priority);
    if (widget->isVisible())
        widget->setFocus(Qt::OtherFocusReason);
}

int FindWidgetFocusProperty(QWidget* widget, int level)
{
    if (!widget || !widget->isVisible())
        return level;
    int best = level;
    const QVariant priority = widget->property(kFocusProperty);
    if (priority.isValid() && priority.toInt() > level) {
        widget->setFocus(Qt::OtherFocusReason);
        best = priority.toInt();
    }
    // Depth first in creation order; an equal priority found later never takes the focus.
    // Visiting the direct children recursively reaches every descendant exactly once.
    const QList<QWidget*> children = widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
    for (QWidget* child : children)
        best = qMax(best, FindWidgetFocusProperty(child, best));
    return best;
}

void FocusWidgetAndParents(QWidget* widget)
{
    FocusWidget(widget);
}

QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index)
{
    QTabWidget* found = nullptr;
    if (!widget)
        return found;
    WalkEnclosingTabs(widget, [&](QTabWidget* tabs, int pageIndex) {
        found = tabs;
        index = pageIndex;
        return false;
    });
    return found;
}

void MarkTabActivity(QWidget* widget)
{
    if (!widget)
        return;
    // Only the tab widgets of the shell's own class mark activity; others keep their colours.
    WalkEnclosingTabs(widget, [](QTabWidget* tabs, int index) {
        if (qobject_cast<TabWidget*>(tabs) && index != tabs->currentIndex())
            tabs->tabBar()->setTabTextColor(index, Qt::blue);
        return true;
    });
}
