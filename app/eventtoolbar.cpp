#include "app/eventtoolbar.h"

#include "app/focus.h"
#include "app/icons.h"
#include "app/mainwindow.h"
#include "model/helpers.h"

#include <QAction>
#include <QApplication>
#include <QTextDocument>

EventToolBar* eventToolBar = nullptr;

namespace {

Type* DeclareType(const char* name)
{
    if (Type* t = d.HasType(name))
        return t;
    return d.NewType(name, PrimacyRoot, false, true);
}

// Without a main window (before it exists, or in a bare test) the application's own
// active state stands in for it.
bool MainWindowIsActive()
{
    if (mainWindow)
        return mainWindow->isActiveWindow();
    return QApplication::activeWindow() != nullptr;
}

// A button's text is a peer's name or a file name. Left to itself, the tooltip would be that text
// with "&" and "..." stripped, and shown as markup wherever it looks like markup.
QString PlainToolTip(const QString& text)
{
    return Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text, Qt::WhiteSpaceNoWrap) : text;
}

} // namespace

EventToolBar::EventToolBar(QWidget* parent)
    : QToolBar(parent)
{
    eventToolBar = this;
    setMovable(false);
    Type* action = DeclareType("event_toolbar_action");
    Type* widget = DeclareType("event_toolbar_widget");
    if (!action->IsRelated(widget))
        action->RelateToType(widget, One, One, false);
    setIconSize(QSize(16, 16));
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    addAction(QString());
    m_placeholderOnly = true;
    m_iconAlertTimer.setInterval(1000);
    m_iconAlertTimer.setSingleShot(false);
    connect(&m_iconAlertTimer, &QTimer::timeout, this, &EventToolBar::OnIconAlertTimeout);
    connect(qApp, &QApplication::focusChanged, this, &EventToolBar::OnApplicationFocusChanged);
    hide();
}

EventToolBar::~EventToolBar()
{
    if (eventToolBar == this)
        eventToolBar = nullptr;
    // Nobody watches the widgets any more: their records would pass to later widgets built at
    // the same addresses.
    Data::Scope scope(&d);
    d.GetType("event_toolbar_action")->GetItems().Remove();
    d.GetType("event_toolbar_widget")->GetItems().Remove();
}

ItemPtr EventToolBar::WidgetItem(const QObject* widget) const
{
    if (!widget)
        return ItemPtr();
    return d.GetType("event_toolbar_widget")->HasItem(Value(widget));
}

QAction* EventToolBar::EventAction(QWidget* widget) const
{
    return EventAction(WidgetItem(widget)["event_toolbar_action"]);
}

void EventToolBar::AddEvent(QString text, QString icon, QWidget* widget, QString alert)
{
    if (!widget)
        return;
    if (!MainWindowIsActive()) {
        if (m_alertIcons.empty()) {
            m_alertIconIndex = 0;
            m_iconAlertTimer.start(1000);
        }
        m_alertIcons.insert(icon);
    }
    if (widget->isVisible())
        return;
    if (!alert.isEmpty() && mainWindow)
        mainWindow->PopupAlert(alert);
    if (WidgetItem(widget))
        return;
    if (m_placeholderOnly) {
        // clear() only detaches; the placeholder is ours to delete.
        const QList<QAction*> old = actions();
        clear();
        for (QAction* a : old)
            a->deleteLater();
        m_placeholderOnly = false;
    }
    QAction* action = addAction(ResourceIcon(icon), LabelText(text));
    action->setToolTip(PlainToolTip(text));
    connect(action, &QAction::triggered, this, &EventToolBar::OnActionTriggered);
    m_actionWidgets.insert(action, widget);
    Data::Scope scope(&d);
    d.GetType("event_toolbar_widget")->GetItem(Value(static_cast<const QObject*>(widget))) +=
        d.GetType("event_toolbar_action")->GetItem(Value(static_cast<const QObject*>(action)));
    connect(widget, &QObject::destroyed, this, &EventToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
    show();
}

void EventToolBar::ShowPlaceholder()
{
    addAction(QString());
    m_placeholderOnly = true;
    hide();
}

// Takes a button off the bar and forgets it; the action itself is deleted later, since it may
// be the one whose trigger is being handled.
void EventToolBar::TakeAction(QAction* action)
{
    Data::Scope scope(&d);
    ItemPtr actionItem = d.GetType("event_toolbar_action")->HasItem(Value(static_cast<const QObject*>(action)));
    ItemPtr widgetItem = actionItem["event_toolbar_widget"];
    m_actionWidgets.remove(action);
    removeAction(action);
    action->deleteLater();
    if (actions().isEmpty())
        ShowPlaceholder();
    if (actionItem)
        actionItem.Remove();
    if (widgetItem)
        widgetItem.Remove();
}

void EventToolBar::RemoveEvent(QWidget* widget)
{
    RemoveEventOf(widget);
}

void EventToolBar::RemoveEventOf(const QObject* widget)
{
    // Found through the records by address alone: a dying widget's guarded pointers may
    // already read null.
    ItemPtr actionItem = WidgetItem(widget)["event_toolbar_action"];
    if (!actionItem)
        return;
    if (QAction* action = EventAction(actionItem))
        TakeAction(action);
}

QAction* EventToolBar::EventAction(ItemPtr actionItem) const
{
    if (!actionItem)
        return nullptr;
    const QList<QAction*> shown = actions();
    for (QAction* action : shown)
        if (Value(static_cast<const QObject*>(action)) == actionItem.GetValue())
            return action;
    return nullptr;
}

void EventToolBar::OnActionTriggered()
{
    if (g_showIsOver)
        return;
    auto* action = qobject_cast<QAction*>(sender());
    if (!action || !m_actionWidgets.contains(action))
        return;
    QPointer<QWidget> widget = m_actionWidgets.value(action);
    TakeAction(action);
    if (widget)
        FocusWidgetAndParents(widget);
}

void EventToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    // Only widgets have buttons; the address is all that is compared.
    if (!g_showIsOver)
        RemoveEventOf(ip_widget);
}

void EventToolBar::OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new)
{
    Q_UNUSED(ip_old);
    Q_UNUSED(ip_new);
    // Restoring the icon needs the tray icon and the server connection, gone at shut-down.
    if (g_showIsOver)
        return;
    const bool wasBlinking = !m_alertIcons.empty() || m_iconAlertTimer.isActive();
    m_alertIcons.clear();
    m_iconAlertTimer.stop();
    ResetApplicationIcon();
    if (wasBlinking)
        emit AlertIconShown(QString());
}

void EventToolBar::OnIconAlertTimeout()
{
    if (m_alertIcons.empty())
        return;
    if (m_alertIconIndex < m_alertIcons.size()) {
        auto it = m_alertIcons.begin();
        std::advance(it, m_alertIconIndex);
        const QString icon = *it;
        SetApplicationIcon(icon);
        ++m_alertIconIndex;
        emit AlertIconShown(icon);
    } else {
        ResetApplicationIcon();
        m_alertIconIndex = 0;
        emit AlertIconShown(QString());
    }
}
