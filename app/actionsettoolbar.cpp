#include "app/actionsettoolbar.h"

#include "app/focus.h"
#include "app/mainwindow.h"
#include "app/updatechecker.h"
#include "model/settings.h"
#include "server/server.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QUrl>

ActionSetToolBar* actionBar = nullptr;

namespace {

// Declares a type once: the bar may be built again (tests) and the graph outlives it.
Type* DeclareType(const char* name, Primacy primacy, bool null)
{
    if (Type* t = d.HasType(name))
        return t;
    return d.NewType(name, primacy, null, true);
}

void Relate(const char* a, const char* b, OneOrMany aPerB, OneOrMany bPerA)
{
    Type* ta = d.GetType(a);
    Type* tb = d.GetType(b);
    if (!ta->IsRelated(tb))
        ta->RelateToType(tb, aPerB, bPerA, false);
}

Type* T(const char* name)
{
    return d.GetType(name);
}

// Items keyed by an object are keyed by its QObject address, which the destroyed() signal
// also hands over.
Value ObjectKey(const QObject* object)
{
    return Value(object);
}

// One current value per key name, whichever widget published it.
void SetActiveKey(ItemPtr key, const Value& value)
{
    T("active_action_key")->GetItem(key.GetValue()) += T("active_action_value")->GetItem(value);
}

QString SettingOrEmpty(const QString& key)
{
    return d.HasType("global") ? GetSetting(key) : QString();
}

const char* const kOnlineIcon = ":/icons/online_icon";
const char* const kAwayIcon = ":/icons/away_icon";

} // namespace

ActionSetToolBar::ActionSetToolBar(QWidget* parent)
    : QToolBar(parent)
{
    DeclareType("toolbar_action_set", PrimacyRoot, false);
    DeclareType("toolbar_action", PrimacyRoot, true);
    DeclareType("toolbar_action_id", PrimacyRoot, false);
    DeclareType("toolbar_action_order", PrimacyLeaf, false);
    DeclareType("toolbar_action_widget", PrimacyRoot, false);
    DeclareType("action_key_value_pair", PrimacyRoot, true);
    DeclareType("action_key", PrimacyReachable, false);
    DeclareType("action_value", PrimacyLeaf, false);
    DeclareType("action_key_column_pair", PrimacyRoot, true);
    DeclareType("action_column", PrimacyLeaf, false);
    DeclareType("active_action_key", PrimacyRoot, false);
    DeclareType("active_action_value", PrimacyLeaf, false);
    DeclareType("widget_action_text", PrimacyLeaf, false);
    DeclareType("widget_action_hidden", PrimacyLeaf, true);
    DeclareType("toolbar_action_object", PrimacyReachable, false);
    DeclareType("toolbar_action_icon", PrimacyLeaf, false);
    DeclareType("toolbar_action_text", PrimacyLeaf, false);
    DeclareType("needs_list_selection", PrimacyLeaf, true);

    Relate("toolbar_action_set", "toolbar_action", One, Many);
    Relate("toolbar_action", "toolbar_action_id", Many, One);
    Relate("toolbar_action", "toolbar_action_order", Many, One);
    Relate("toolbar_action", "toolbar_action_icon", Many, One);
    Relate("toolbar_action", "toolbar_action_text", Many, One);
    Relate("toolbar_action", "needs_list_selection", Many, One);
    Relate("toolbar_action_set", "toolbar_action_widget", One, Many);
    Relate("action_key_value_pair", "toolbar_action_widget", Many, One);
    Relate("action_key_value_pair", "action_key", Many, One);
    Relate("action_key_value_pair", "action_value", Many, One);
    Relate("action_key_column_pair", "toolbar_action_widget", Many, One);
    Relate("action_key_column_pair", "action_key", Many, One);
    Relate("action_key_column_pair", "action_column", Many, One);
    Relate("active_action_key", "active_action_value", Many, One);
    Relate("widget_action_text", "toolbar_action_widget", Many, Many);
    Relate("widget_action_text", "toolbar_action_id", Many, Many);
    Relate("widget_action_hidden", "toolbar_action_widget", Many, One);
    Relate("widget_action_hidden", "toolbar_action_id", Many, One);
    Relate("toolbar_action", "toolbar_action_object", One, One);

    actionBar = this;
    connect(qApp, &QApplication::focusChanged, this, &ActionSetToolBar::OnApplicationFocusChanged);
    AddSupportTavrinelButton();
}

ActionSetToolBar::~ActionSetToolBar()
{
    if (actionBar == this)
        actionBar = nullptr;
    // Nobody watches the registered widgets any more: records keyed by their addresses would
    // pass to whatever widget is built at the same address later.
    Data::Scope scope(&d);
    T("toolbar_action_object")->GetItems().Remove();
    T("action_key_value_pair")->GetItems().Remove();
    T("action_key_column_pair")->GetItems().Remove();
    T("widget_action_hidden")->GetItems().Remove();
    T("toolbar_action_widget")->GetItems().Remove();
}

void ActionSetToolBar::Init()
{
    if (gp_server)
        connect(gp_server, &Server::ReceivedOwnPrivilegesStatus, this,
                &ActionSetToolBar::OnReceivedOwnPrivilegesStatus);
    m_initialized = true;
}

ItemPtr ActionSetToolBar::WidgetItem(const QObject* widget) const
{
    if (!widget)
        return ItemPtr();
    return T("toolbar_action_widget")->HasItem(ObjectKey(widget));
}

ItemPtr ActionSetToolBar::ActionItemOf(QAction* action) const
{
    ItemPtr object = T("toolbar_action_object")->HasItem(ObjectKey(action));
    return object["toolbar_action"];
}

void ActionSetToolBar::AddSetAction(QString set, QString id, QString text, QString icon, bool needsListSelection)
{
    Data::Scope scope(&d);
    ItemPtr setItem = T("toolbar_action_set")->GetItem(set);
    ItemPtr action = T("toolbar_action")->NewItem();
    setItem += action;
    action += T("toolbar_action_id")->GetItem(id);
    action += T("toolbar_action_icon")->GetItem(icon);
    action += T("toolbar_action_text")->GetItem(text);
    const quint64 order = m_nextActionOrder++;
    action += T("toolbar_action_order")->GetItem(Value(static_cast<unsigned long long>(order)));
    if (needsListSelection)
        action.NewItem("needs_list_selection");
}

void ActionSetToolBar::RegisterWidget(QWidget* widget, QString set)
{
    if (!widget)
        return;
    Data::Scope scope(&d);
    ItemPtr widgetItem = T("toolbar_action_widget")->GetItem(ObjectKey(widget));
    T("toolbar_action_set")->GetItem(set) += widgetItem;
    connect(widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
}

void ActionSetToolBar::AddWidgetKey(QWidget* widget, QString key, QString value)
{
    Data::Scope scope(&d);
    ItemPtr widgetItem = WidgetItem(widget);
    if (!widgetItem)
        return;
    ItemPtr pair = T("action_key_value_pair")->NewItem();
    pair += T("action_key")->GetItem(key);
    pair += T("action_value")->GetItem(value);
    pair += widgetItem;
}

void ActionSetToolBar::AddWidgetColumnKey(QWidget* widget, QString key, int column)
{
    Data::Scope scope(&d);
    ItemPtr widgetItem = WidgetItem(widget);
    if (!widgetItem)
        return;
    ItemPtr pair = T("action_key_column_pair")->NewItem();
    pair += T("action_key")->GetItem(key);
    pair += T("action_column")->GetItem(column);
    pair += widgetItem;
}

QString ActionSetToolBar::GetKey(QString key)
{
    // Looked up without creating: asking for a key must not grow the graph.
    return T("active_action_key")->HasItem(key)["active_action_value"].AsString();
}

template <typename Apply>
void ActionSetToolBar::ForDisplayedActions(QWidget* widget, ItemPtr idItem, Apply apply)
{
    if (!widget || widget != mp_currentWidget)
        return;
    const QList<QAction*> shown = actions();
    for (QAction* action : shown) {
        ItemPtr actionItem = ActionItemOf(action);
        if (actionItem && actionItem["toolbar_action_id"] == idItem)
            apply(action);
    }
}

bool ActionSetToolBar::FindWidgetAction(QWidget* widget, const QString& id, ItemPtr& widgetItem, ItemPtr& idItem) const
{
    // Looked up, never created: an unregistered widget or an unknown id changes nothing.
    widgetItem = WidgetItem(widget);
    idItem = T("toolbar_action_id")->HasItem(id);
    return widgetItem && idItem;
}

void ActionSetToolBar::SetWidgetActionText(QWidget* widget, QString id, QString text)
{
    if (g_showIsOver)
        return;
    Data::Scope scope(&d);
    ItemPtr widgetItem;
    ItemPtr idItem;
    if (!FindWidgetAction(widget, id, widgetItem, idItem))
        return;
    m_actionTexts[std::make_pair(static_cast<const QObject*>(widget), id)] = text;
    ForDisplayedActions(widget, idItem, [&](QAction* action) { action->setText(text); });
}

void ActionSetToolBar::SetWidgetActionHidden(QWidget* widget, QString id, bool hidden)
{
    Data::Scope scope(&d);
    ItemPtr widgetItem;
    ItemPtr idItem;
    if (!FindWidgetAction(widget, id, widgetItem, idItem))
        return;
    ItemPtr marker = d.GetItem(widgetItem, idItem, "widget_action_hidden");
    if (hidden && !marker) {
        marker = T("widget_action_hidden")->NewItem();
        marker += widgetItem;
        marker += idItem;
    } else if (!hidden && marker) {
        marker.Remove();
    }
    ForDisplayedActions(widget, idItem, [&](QAction* action) { action->setVisible(!hidden); });
}

void ActionSetToolBar::OnApplicationFocusChanged(QWidget* ip_oldWidget, QWidget* ip_widget)
{
    Q_UNUSED(ip_oldWidget);
    if (!m_initialized || g_showIsOver || m_handlingFocusChange || !ip_widget)
        return;
    m_handlingFocusChange = true;
    Data::Scope scope(&d);

    // Focus on a tab row or a tab widget counts as focus on the page it shows.
    QWidget* start = ip_widget;
    for (;;) {
        QTabWidget* tabs = qobject_cast<QTabWidget*>(start);
        if (!tabs) {
            auto* bar = qobject_cast<QTabBar*>(start);
            if (bar)
                tabs = qobject_cast<QTabWidget*>(bar->parent());
        }
        if (!tabs || !tabs->currentWidget())
            break;
        start = tabs->currentWidget();
    }

    mp_listWidget = nullptr;
    QWidget* registered = nullptr;
    ItemPtr widgetItem;
    for (QObject* o = start; o; o = o->parent()) {
        if (!o->isWidgetType())
            continue;
        if (!mp_listWidget)
            mp_listWidget = qobject_cast<QTreeWidget*>(o);
        widgetItem = WidgetItem(o);
        if (widgetItem && widgetItem["toolbar_action_set"]) {
            registered = static_cast<QWidget*>(o);
            break;
        }
    }

    if (!registered) {
        mp_listWidget = nullptr;
        Clear();
        AddSupportTavrinelButton();
        m_handlingFocusChange = false;
        return;
    }

    ChangeSet(registered, widgetItem["toolbar_action_set"].AsString());

    // Fixed keys are applied on every focus change into the widget, even without a rebuild.
    const ItemSet pairs = widgetItem.GetItems("action_key_value_pair");
    for (ItemPtr pair : pairs) {
        ItemPtr key = pair["action_key"];
        if (!key)
            continue;
        SetActiveKey(key, pair["action_value"].GetValue());
    }
    m_handlingFocusChange = false;
}

void ActionSetToolBar::ChangeSet(QWidget* widget, QString set)
{
    if (set == m_currentSet && widget == mp_currentWidget)
        return;
    Data::Scope scope(&d);
    // Another widget of the set on display (one room after another): the buttons stay.
    const bool keepButtons = !m_currentSet.isEmpty() && set == m_currentSet && m_shownAtOrder == m_nextActionOrder;
    m_currentSet = set;
    mp_currentWidget = widget;
    mp_currentWidgetAddress = widget;
    m_currentWidgetItem = WidgetItem(widget);
    if (widget)
        connect(widget, &QObject::destroyed, this, &ActionSetToolBar::OnWidgetDestroyed, Qt::UniqueConnection);
    if (keepButtons) {
        SetStatusButton(SettingOrEmpty("availability_status") == "available");
    } else {
        ClearAndDeleteActions();
        T("toolbar_action_object")->GetItems().Remove();
        ItemPtr setItem = T("toolbar_action_set")->GetItem(set);
        const std::list<ItemPtr> ordered =
            setItem.GetItems("toolbar_action").SortNumericBy("toolbar_action_order", true);
        for (ItemPtr action : ordered) {
            const QString text = action["toolbar_action_text"].AsString();
            auto* button = new QAction(Icon(action["toolbar_action_icon"].AsString()), text, this);
            insertAction(mp_gapAction, button);
            connect(button, &QAction::triggered, this, &ActionSetToolBar::OnActionTriggered);
            action += T("toolbar_action_object")->GetItem(ObjectKey(button));
            m_shownButtons.append(ShownButton{button, action["toolbar_action_id"], text});
        }
        m_shownAtOrder = m_nextActionOrder;
    }
    ApplyWidgetOverrides();
    AddSupportTavrinelButton();
}

void ActionSetToolBar::ApplyWidgetOverrides()
{
    QWidget* widget = mp_currentWidget;
    for (const ShownButton& shown : qAsConst(m_shownButtons)) {
        if (!shown.action)
            continue;
        QString text = shown.text;
        bool hidden = false;
        if (m_currentWidgetItem && shown.idItem) {
            auto custom =
                m_actionTexts.find(std::make_pair(static_cast<const QObject*>(widget), shown.idItem.AsString()));
            if (custom != m_actionTexts.end())
                text = custom->second;
            hidden = bool(d.GetItem(m_currentWidgetItem, shown.idItem, "widget_action_hidden"));
        }
        if (shown.action->text() != text)
            shown.action->setText(text);
        if (shown.action->isVisible() == hidden)
            shown.action->setVisible(!hidden);
    }
}

QIcon ActionSetToolBar::Icon(const QString& path)
{
    // Making an icon from a path looks up its file type each time; the bar shows few paths.
    auto it = m_icons.find(path);
    if (it == m_icons.end())
        it = m_icons.insert(path, QIcon(path));
    return it.value();
}

bool ActionSetToolBar::IsFixed(const QAction* action) const
{
    return action && (action == mp_statusAction || action == mp_labelAction || action == mp_gapAction ||
                      action == mp_spacerAction || action == mp_privilegesAction);
}

void ActionSetToolBar::Clear()
{
    m_currentSet.clear();
    mp_currentWidget = nullptr;
    mp_currentWidgetAddress = nullptr;
    m_currentWidgetItem = ItemPtr();
    T("toolbar_action_object")->GetItems().Remove();
    ClearAndDeleteActions();
}

void ActionSetToolBar::ClearAndDeleteActions()
{
    // Every button but the fixed ones goes (see the header on why those stay).
    const QList<QAction*> old = actions();
    for (QAction* action : old) {
        if (IsFixed(action))
            continue;
        removeAction(action);
        // Deferred: the action being triggered may be among them.
        action->deleteLater();
    }
    m_shownButtons.clear();
    if (!mp_statusAction) {
        // The left-hand part, in front of whatever the bar holds.
        QAction* first = actions().value(0, nullptr);
        auto* status = new QPushButton;
        status->setFocusPolicy(Qt::NoFocus);
        mp_statusButton = status;
        m_statusShown = -1;
        mp_statusAction = insertWidget(first, status);
        mp_labelAction = insertWidget(first, new QLabel(QStringLiteral(" ")));
        connect(status, &QPushButton::clicked, this, &ActionSetToolBar::OnStatusButtonClicked);
    }
    SetStatusButton(SettingOrEmpty("availability_status") == "available");
}

void ActionSetToolBar::SetStatusButton(bool available)
{
    if (!mp_statusButton || m_statusShown == int(available))
        return;
    m_statusShown = int(available);
    mp_statusButton->setIcon(Icon(available ? kOnlineIcon : kAwayIcon));
    mp_statusButton->setText(available ? tr("Available") : tr("Away"));
}

QString ActionSetToolBar::PrivilegesText(qint64 seconds)
{
    if (seconds <= 0)
        return tr("Support Tavrinel!");
    // Whole days, half a day rounding up; 64-bit so no value of the setting can overflow.
    return tr("%1 Days Left").arg((seconds + 43200) / 86400);
}

void ActionSetToolBar::AddSupportTavrinelButton()
{
    if (!mp_gapAction) {
        mp_gapAction = addAction(QString());
        auto* spacer = new QWidget;
        spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        auto* button = new QPushButton(PrivilegesText(0));
        mp_privilegesButton = button;
        button->setFocusPolicy(Qt::NoFocus);
        mp_spacerAction = addWidget(spacer);
        mp_privilegesAction = addWidget(button);
        connect(button, &QPushButton::clicked, this, &ActionSetToolBar::OnSupportTavrinelButtonClicked);
    }
    if (mp_privilegesButton && d.HasType("global")) {
        const qint64 seconds = GetSetting("privileges_time_left").toLongLong();
        const QString text = PrivilegesText(seconds);
        if (mp_privilegesButton->text() != text)
            mp_privilegesButton->setText(text);
    }
}

void ActionSetToolBar::OnReceivedOwnPrivilegesStatus(int i_seconds)
{
    if (mp_privilegesButton)
        mp_privilegesButton->setText(PrivilegesText(i_seconds));
}

void ActionSetToolBar::OnSupportTavrinelButtonClicked()
{
    const QString user = SettingOrEmpty("username");
    QDesktopServices::openUrl(
        MakerWebPageUrl("/qtlogin.php", "username=" + QString::fromLatin1(QUrl::toPercentEncoding(user))));
}

void ActionSetToolBar::OnStatusButtonClicked()
{
    const bool connected = gp_server && gp_server->IsConnected();
    if (SettingOrEmpty("availability_status") != "available") {
        if (gp_server)
            gp_server->SetAvailabilityStatus(true);
        SetStatusButton(true);
        if (connected)
            SetApplicationIcon(kOnlineIcon);
    } else {
        if (gp_server)
            gp_server->SetAvailabilityStatus(false);
        SetStatusButton(false);
        if (connected && SettingOrEmpty("show_away_status_in_application_icon") == "yes")
            SetApplicationIcon(kAwayIcon);
    }
}

void ActionSetToolBar::OnActionTriggered(bool)
{
    auto* action = qobject_cast<QAction*>(sender());
    if (!action)
        return;
    Data::Scope scope(&d);
    ItemPtr actionItem = ActionItemOf(action);
    if (!actionItem)
        return;
    if (mp_listWidget) {
        const QList<QTreeWidgetItem*> rows = mp_listWidget->selectedItems();
        if (rows.isEmpty()) {
            if (actionItem.IsConnected("needs_list_selection"))
                return;
        } else {
            QTreeWidgetItem* row = rows.first();
            const ItemSet pairs = m_currentWidgetItem.GetItems("action_key_column_pair");
            for (ItemPtr pair : pairs) {
                ItemPtr key = pair["action_key"];
                if (!key)
                    continue;
                const QString text = row->text(pair["action_column"].AsInt());
                SetActiveKey(key, text);
            }
        }
    }
    emit ActionTriggered(mp_currentWidget, actionItem["toolbar_action_id"].AsString());
}

void ActionSetToolBar::OnWidgetDestroyed(QObject* ip_widget)
{
    if (g_showIsOver || !ip_widget)
        return;
    if (ip_widget == mp_currentWidgetAddress) {
        Clear();
        AddSupportTavrinelButton();
    }
    RemoveWidgetRecords(ip_widget);
}

void ActionSetToolBar::RemoveWidgetRecords(const QObject* widget)
{
    // Records are keyed by address: a later widget at the same address must start clean.
    for (auto it = m_actionTexts.lower_bound(std::make_pair(widget, QString()));
         it != m_actionTexts.end() && it->first.first == widget;)
        it = m_actionTexts.erase(it);
    Data::Scope scope(&d);
    ItemPtr widgetItem = WidgetItem(widget);
    if (!widgetItem)
        return;
    if (m_currentWidgetItem == widgetItem)
        m_currentWidgetItem = ItemPtr();
    widgetItem.GetItems("action_key_value_pair").Remove();
    widgetItem.GetItems("action_key_column_pair").Remove();
    widgetItem.GetItems("widget_action_hidden").Remove();
    widgetItem.Remove();
}
