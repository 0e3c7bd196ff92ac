// Keyboard focus across tab pages: designated focus widgets and bringing a widget forward.
#pragma once

class QTabWidget;
class QWidget;

// Set first by the main window's destructor: from then on the shell widgets ignore the
// focus changes and destructions that tearing the window down causes.
extern bool g_showIsOver;

// Designates the widget to take the focus, with this priority, when its tab page is shown.
void RegisterWidgetForTabFocus(QWidget* widget, int priority);

// Focuses the best designated widget in the visible part of the subtree whose priority exceeds
// `level`; returns the highest priority met, or `level`.
int FindWidgetFocusProperty(QWidget* widget, int level);

// Activates the widget's window, focuses it and makes every enclosing tab show it.
void FocusWidgetAndParents(QWidget* widget);

// The nearest enclosing tab widget with a page holding the widget (index set), or null.
QTabWidget* GetWidgetTabWidget(QWidget* widget, int& index);

// Colours the titles of the non-current tabs that hold the widget (see TabWidget).
void MarkTabActivity(QWidget* widget);
