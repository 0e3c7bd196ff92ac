// Choosing entries of the program's menus, as the user does.
#pragma once

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QStringList>
#include <QTimer>

// Triggers the entries of the menu that show the text.
inline void TriggerMenuEntry(QMenu& menu, const QString& text)
{
    for (QAction* action : menu.actions())
        if (action->text() == text)
            action->trigger();
}

// Picks the entry of the context menu about to open, then closes the menu; the texts it offered
// (separators left out) go to `shown` when asked for.
inline void ChooseFromMenu(const QString& text, QStringList* shown = nullptr)
{
    QTimer::singleShot(0, [text, shown] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (QAction* action : menu->actions()) {
                if (shown && !action->text().isEmpty())
                    *shown << action->text();
                if (action->text() == text)
                    action->trigger();
            }
            menu->close();
        }
    });
}
