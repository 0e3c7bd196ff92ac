// The pending-event toolbar: one button per view with news the user has not seen.
#pragma once

#include "model/data.h"

#include <QHash>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QToolBar>

#include <set>

class QAction;

class EventToolBar : public QToolBar
{
    Q_OBJECT

public:
    explicit EventToolBar(QWidget* parent = nullptr);
    ~EventToolBar() override;

    void AddEvent(QString text, QString icon, QWidget* widget, QString alert = QString());
    void RemoveEvent(QWidget* widget);

    bool IsBlinking() const { return m_iconAlertTimer.isActive(); }
    int PendingAlertIcons() const { return int(m_alertIcons.size()); }
    // The button posted for the widget, or null.
    QAction* EventAction(QWidget* widget) const;

signals:
    // Each step of the blink: the icon now shown, or empty text for the normal icon.
    void AlertIconShown(QString icon);

public slots:
    void OnActionTriggered();
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnIconAlertTimeout();
    void OnApplicationFocusChanged(QWidget* ip_old, QWidget* ip_new);

private:
    ItemPtr WidgetItem(const QObject* widget) const;
    QAction* EventAction(ItemPtr actionItem) const;
    void TakeAction(QAction* action);
    void RemoveEventOf(const QObject* widget);
    void ShowPlaceholder();

    bool m_placeholderOnly = true;
    std::set<QString> m_alertIcons;
    quint32 m_alertIconIndex = 0;
    QTimer m_iconAlertTimer;
    // The widget behind each button; guarded, since a view may die with its button pending.
    QHash<QAction*, QPointer<QWidget>> m_actionWidgets;
};

extern EventToolBar* eventToolBar;
