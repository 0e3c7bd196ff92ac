// Choosing an entry of the context action toolbar the way a user reaches it.
#pragma once

#include "app/actionsettoolbar.h"

#include <QAction>
#include <QWidget>
#include <QWidgetAction>

// Shows the widget's action set as a focus change into it does and triggers the action with that
// text; false when the set shows no such action.
inline bool TriggerToolbarAction(QWidget* widget, const QString& text)
{
    actionBar->OnApplicationFocusChanged(nullptr, widget);
    for (QAction* action : actionBar->actions())
        if (!qobject_cast<QWidgetAction*>(action) && action->text() == text) {
            action->trigger();
            return true;
        }
    return false;
}
