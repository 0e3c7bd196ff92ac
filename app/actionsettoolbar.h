// The context toolbar: shows the action set of the registered widget that holds the focus.
#pragma once

#include "model/data.h"

#include <QHash>
#include <QIcon>
#include <QList>
#include <QPointer>
#include <QPushButton>
#include <QString>
#include <QToolBar>
#include <map>
#include <utility>
#include <QTreeWidget>

class QAction;

class ActionSetToolBar : public QToolBar
{
    Q_OBJECT

public:
    explicit ActionSetToolBar(QWidget* parent = nullptr);
    ~ActionSetToolBar() override;

    void Init();

    void AddSetAction(QString set, QString id, QString text, QString icon, bool needsListSelection = false);
    void RegisterWidget(QWidget* widget, QString set);
    void AddWidgetKey(QWidget* widget, QString key, QString value);
    void AddWidgetColumnKey(QWidget* widget, QString key, int column);
    QString GetKey(QString key);
    void SetWidgetActionText(QWidget* widget, QString id, QString text);
    void SetWidgetActionHidden(QWidget* widget, QString id, bool hidden);

    void Clear();
    void ClearAndDeleteActions();
    void ChangeSet(QWidget* widget, QString set);
    void AddSupportTavrinelButton();

    // The text of the privileges button for this many seconds of privileges left.
    static QString PrivilegesText(qint64 seconds);

    QString CurrentSet() const { return m_currentSet; }
    QWidget* CurrentWidget() const { return mp_currentWidget; }
    QPushButton* StatusButton() const { return mp_statusButton; }
    QPushButton* PrivilegesButton() const { return mp_privilegesButton; }

signals:
    void ActionTriggered(QWidget* ip_widget, QString i_action);

public slots:
    void OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget);
    void OnActionTriggered(bool);
    void OnWidgetDestroyed(QObject* ip_widget);
    void OnStatusButtonClicked();
    void OnSupportTavrinelButtonClicked();
    void OnReceivedOwnPrivilegesStatus(int i_seconds);

private:
    ItemPtr WidgetItem(const QObject* widget) const;
    ItemPtr ActionItemOf(QAction* action) const;
    bool FindWidgetAction(QWidget* widget, const QString& id, ItemPtr& widgetItem, ItemPtr& idItem) const;
    // Applies `apply` to every displayed button of the action id, when `widget` is on display.
    template <typename Apply>
    void ForDisplayedActions(QWidget* widget, ItemPtr idItem, Apply apply);
    void RemoveWidgetRecords(const QObject* widget);
    void SetStatusButton(bool available);
    bool IsFixed(const QAction* action) const;
    // Gives the shown buttons the texts and visibility the current widget asks for.
    void ApplyWidgetOverrides();
    QIcon Icon(const QString& path);

    QString m_currentSet;
    ItemPtr m_currentWidgetItem;
    QPointer<QTreeWidget> mp_listWidget;
    // Guarded: a view may be destroyed while its set is on display.
    QPointer<QWidget> mp_currentWidget;
    // The on-display widget's address, compared (never dereferenced) when widgets die,
    // since a dying widget's guarded pointer may already read null.
    const QObject* mp_currentWidgetAddress = nullptr;
    quint64 m_nextActionOrder = 0;
    bool m_handlingFocusChange = false;
    QPointer<QPushButton> mp_privilegesButton;
    QPointer<QPushButton> mp_statusButton;
    bool m_initialized = false;
    // The fixed widgets (availability button, label, spacer, privileges button) and the empty
    // action before the spacer stay on the bar once added: a widget taken off a toolbar becomes
    // a window of its own until it is deleted, and each such move walks every widget of the
    // program, so rebuilding them on every focus change made a burst of focus changes quadratic.
    QPointer<QAction> mp_statusAction;
    QPointer<QAction> mp_labelAction;
    QPointer<QAction> mp_gapAction;
    QPointer<QAction> mp_spacerAction;
    QPointer<QAction> mp_privilegesAction;
    int m_statusShown = -1;  // what the availability button shows: 1 available, 0 away, -1 not set
    // The set's buttons on display, in order, with the action id and default text of each. A
    // focus move to another widget of the same set keeps them and only re-applies the widget's
    // own texts and hidden marks.
    struct ShownButton
    {
        QPointer<QAction> action;
        ItemPtr idItem;
        QString text;
    };
    QList<ShownButton> m_shownButtons;
    // m_nextActionOrder when the shown buttons were built: an action added since means a rebuild.
    quint64 m_shownAtOrder = 0;
    QHash<QString, QIcon> m_icons;
    // Per-widget button texts, one per (widget address, action id): texts shared between
    // pairs could not drop one pair's override without dropping the others'.
    std::map<std::pair<const QObject*, QString>, QString> m_actionTexts;
};

extern ActionSetToolBar* actionBar;
