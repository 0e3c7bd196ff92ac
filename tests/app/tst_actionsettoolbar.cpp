#include "urlcatcher.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "server/server.h"

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardPaths>
#include <QTabBar>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QWidgetAction>
#include <QtTest>

#include <climits>

class TestActionSetToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void startsWithPrivilegesButtonOnly();
    void focusShowsSetBetweenFixedButtons();
    void tabRowsAndTabWidgetsResolveToTheirPage();
    void innermostRegisteredWidgetWins();
    void unregisteredFocusLeavesFixedButtons();
    void ignoresFocusBeforeInitAndAtShutdown();
    void sameSetOnAnotherWidgetRebuildsWithItsOverrides();
    void overridesAndHiddenMarkersUpdateDisplayedButtons();
    void overrideOfOneIdLeavesTheOtherIdsOverride();
    void unregisteredWidgetOrUnknownIdChangesNothing();
    void listSelectionGatesActionsAndFeedsColumnKeys();
    void fixedKeysAreAppliedOnEveryFocusChange();
    void duplicateActionsShowTwice();
    void privilegesButtonText();
    void privilegesButtonOpensPercentEncodedPage();
    void statusButtonSwitchesAvailability();
    void destroyedWidgetLeavesNoRecordsBehind();
    void followsServerPrivilegesAndSendsAvailability();

private:
    QStringList Layout() const;
    QAction* Button(const QString& text) const;
    void ShowActive();

    QWidget* m_window = nullptr;
    QWidget* m_content = nullptr;
    ActionSetToolBar* m_bar = nullptr;
    UrlCatcher m_catcher;
    ServerFixture m_fixture;
};

void TestActionSetToolBar::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QDesktopServices::setUrlHandler("http", &m_catcher, "Open");
    QDesktopServices::setUrlHandler("https", &m_catcher, "Open");
}

void TestActionSetToolBar::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("https");
}

void TestActionSetToolBar::init()
{
    m_window = new QWidget;
    auto* layout = new QVBoxLayout(m_window);
    m_bar = new ActionSetToolBar(m_window);
    layout->addWidget(m_bar);
    m_content = new QWidget;
    m_content->setLayout(new QVBoxLayout);
    layout->addWidget(m_content);
    m_window->resize(800, 400);
}

void TestActionSetToolBar::cleanup()
{
    g_showIsOver = false;
    delete m_window;
    m_window = nullptr;
    m_bar = nullptr;
    if (d.HasType("global")) {
        SetSetting("availability_status", "");
        SetSetting("privileges_time_left", "");
    }
}

void TestActionSetToolBar::ShowActive()
{
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

// The bar left to right: push buttons in brackets, the label and the spacer by name, then
// each plain action's text (hidden ones marked).
QStringList TestActionSetToolBar::Layout() const
{
    QStringList out;
    for (QAction* action : m_bar->actions()) {
        if (auto* wa = qobject_cast<QWidgetAction*>(action)) {
            QWidget* w = wa->defaultWidget();
            if (auto* b = qobject_cast<QPushButton*>(w))
                out << "[" + b->text() + "]";
            else if (auto* l = qobject_cast<QLabel*>(w))
                out << "label:" + l->text();
            else
                out << "spacer";
        } else {
            out << action->text() + (action->isVisible() ? "" : " (hidden)");
        }
    }
    return out;
}

QAction* TestActionSetToolBar::Button(const QString& text) const
{
    for (QAction* action : m_bar->actions())
        if (!qobject_cast<QWidgetAction*>(action) && action->text() == text)
            return action;
    return nullptr;
}

static QStringList Fixed(const QStringList& set, const QString& status = "Away")
{
    return QStringList{"[" + status + "]", "label: "} + set
        + QStringList{"", "spacer", "[Support Tavrinel!]"};
}

void TestActionSetToolBar::startsWithPrivilegesButtonOnly()
{
    QCOMPARE(actionBar, m_bar);
    QCOMPARE(Layout(), QStringList({"", "spacer", "[Support Tavrinel!]"}));
    QVERIFY(!m_bar->StatusButton());
    QCOMPARE(m_bar->PrivilegesButton()->focusPolicy(), Qt::NoFocus);
}

void TestActionSetToolBar::focusShowsSetBetweenFixedButtons()
{
    DeclareSettingTypes();
    m_bar->Init();
    m_bar->AddSetAction("room_list", "create_room", "Create Room", ":/icons/room_icon", false);
    m_bar->AddSetAction("room_list", "refresh_room_list", "Refresh Room List", ":/icons/room_icon", false);
    m_bar->AddSetAction("room_list", "enable_private_room_add", "Accept Private Room Invitations",
                        ":/icons/room_icon", false);
    auto* roomList = new QTreeWidget;
    auto* other = new QLineEdit;
    m_content->layout()->addWidget(roomList);
    m_content->layout()->addWidget(other);
    m_bar->RegisterWidget(roomList, "room_list");
    ShowActive();
    other->setFocus();
    roomList->setFocus();
    QCOMPARE(Layout(), Fixed({"Create Room", "Refresh Room List", "Accept Private Room Invitations"}));
    QCOMPARE(m_bar->CurrentSet(), QString("room_list"));
    QCOMPARE(m_bar->CurrentWidget(), roomList);
    QCOMPARE(m_bar->StatusButton()->focusPolicy(), Qt::NoFocus);

    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);
    Button("Refresh Room List")->trigger();
    QCOMPARE(triggered.count(), 1);
    QCOMPARE(triggered.at(0).at(0).value<QWidget*>(), roomList);
    QCOMPARE(triggered.at(0).at(1).toString(), QString("refresh_room_list"));
}

void TestActionSetToolBar::tabRowsAndTabWidgetsResolveToTheirPage()
{
    m_bar->Init();
    m_bar->AddSetAction("tabs_a", "a", "A", ":/icons/room_icon", false);
    m_bar->AddSetAction("tabs_c", "c", "C", ":/icons/room_icon", false);
    m_bar->AddSetAction("tabs_d", "d", "D", ":/icons/room_icon", false);
    auto* outer = new QTabWidget;
    m_content->layout()->addWidget(outer);
    auto* pageA = new QLineEdit;
    auto* inner = new QTabWidget;
    auto* pageC = new QLineEdit;
    auto* pageD = new QLineEdit;
    outer->addTab(pageA, "a");
    outer->addTab(inner, "inner");
    inner->addTab(pageC, "c");
    inner->addTab(pageD, "d");
    inner->setCurrentIndex(1);
    m_bar->RegisterWidget(pageA, "tabs_a");
    m_bar->RegisterWidget(pageC, "tabs_c");
    m_bar->RegisterWidget(pageD, "tabs_d");
    ShowActive();

    m_bar->OnApplicationFocusChanged(nullptr, outer->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_a"));
    outer->setCurrentIndex(1);
    // A tab row whose page is itself a tab widget: the innermost current page counts.
    m_bar->OnApplicationFocusChanged(nullptr, outer->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_d"));
    QCOMPARE(m_bar->CurrentWidget(), pageD);
    inner->setCurrentIndex(0);
    m_bar->OnApplicationFocusChanged(nullptr, inner->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_c"));
    m_bar->OnApplicationFocusChanged(nullptr, outer);
    QCOMPARE(Layout(), Fixed({"C"}));

    // Real keyboard focus on the inner tab row.
    inner->setCurrentIndex(1);
    pageA->setFocus();
    inner->tabBar()->setFocus();
    QCOMPARE(QApplication::focusWidget(), inner->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_d"));
}

void TestActionSetToolBar::innermostRegisteredWidgetWins()
{
    m_bar->Init();
    m_bar->AddSetAction("outer_set", "o", "Outer", "", false);
    m_bar->AddSetAction("inner_set", "i", "Inner", "", false);
    auto* outer = new QWidget;
    auto* inner = new QWidget(outer);
    auto* edit = new QLineEdit(inner);
    m_content->layout()->addWidget(outer);
    m_bar->RegisterWidget(outer, "outer_set");
    m_bar->RegisterWidget(inner, "inner_set");
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(Layout(), Fixed({"Inner"}));
    m_bar->OnApplicationFocusChanged(nullptr, outer);
    QCOMPARE(Layout(), Fixed({"Outer"}));
    // Registering again moves the widget to the other set.
    m_bar->RegisterWidget(inner, "outer_set");
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(m_bar->CurrentWidget(), inner);
    QCOMPARE(Layout(), Fixed({"Outer"}));
}

void TestActionSetToolBar::unregisteredFocusLeavesFixedButtons()
{
    m_bar->Init();
    m_bar->AddSetAction("lonely", "x", "X", "", false);
    auto* registered = new QLineEdit;
    auto* loose = new QLineEdit;
    m_content->layout()->addWidget(registered);
    m_content->layout()->addWidget(loose);
    m_bar->RegisterWidget(registered, "lonely");
    m_bar->OnApplicationFocusChanged(nullptr, registered);
    QCOMPARE(Layout(), Fixed({"X"}));
    m_bar->OnApplicationFocusChanged(nullptr, loose);
    QCOMPARE(Layout(), Fixed({}));
    QCOMPARE(m_bar->CurrentSet(), QString());
    m_bar->OnApplicationFocusChanged(nullptr, registered);
    m_bar->OnApplicationFocusChanged(nullptr, m_bar);
    QCOMPARE(Layout(), Fixed({}));
    m_bar->OnApplicationFocusChanged(nullptr, nullptr);
    QCOMPARE(Layout(), Fixed({}));
}

void TestActionSetToolBar::ignoresFocusBeforeInitAndAtShutdown()
{
    m_bar->AddSetAction("early", "e", "E", "", false);
    auto* edit = new QLineEdit;
    m_content->layout()->addWidget(edit);
    m_bar->RegisterWidget(edit, "early");
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(Layout(), QStringList({"", "spacer", "[Support Tavrinel!]"}));
    m_bar->Init();
    g_showIsOver = true;
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(m_bar->CurrentSet(), QString());
    m_bar->SetWidgetActionText(edit, "e", "Late");
    g_showIsOver = false;
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(Layout(), Fixed({"E"}));
}

void TestActionSetToolBar::sameSetOnAnotherWidgetRebuildsWithItsOverrides()
{
    m_bar->Init();
    m_bar->AddSetAction("pair_set", "p1", "First", "", false);
    m_bar->AddSetAction("pair_set", "p2", "Second", "", false);
    auto* one = new QLineEdit;
    auto* two = new QLineEdit;
    m_content->layout()->addWidget(one);
    m_content->layout()->addWidget(two);
    m_bar->RegisterWidget(one, "pair_set");
    m_bar->RegisterWidget(two, "pair_set");
    // Set while `two` is not on display: shows when its set is next built.
    m_bar->SetWidgetActionText(two, "p1", "Two's First");
    m_bar->SetWidgetActionHidden(two, "p2", true);
    m_bar->OnApplicationFocusChanged(nullptr, one);
    QCOMPARE(Layout(), Fixed({"First", "Second"}));
    m_bar->OnApplicationFocusChanged(nullptr, two);
    QCOMPARE(m_bar->CurrentWidget(), two);
    QCOMPARE(Layout(), Fixed({"Two's First", "Second (hidden)"}));
}

void TestActionSetToolBar::overridesAndHiddenMarkersUpdateDisplayedButtons()
{
    m_bar->Init();
    m_bar->AddSetAction("login_options", "connect_disconnect", "Connect", ":icons/online_icon", false);
    m_bar->AddSetAction("login_options", "set_user_pass", "Change Username/Password", ":icons/online_icon", false);
    auto* page = new QLineEdit;
    m_content->layout()->addWidget(page);
    m_bar->RegisterWidget(page, "login_options");
    m_bar->OnApplicationFocusChanged(nullptr, page);
    m_bar->SetWidgetActionText(page, "connect_disconnect", "Disconnect");
    QCOMPARE(Layout(), Fixed({"Disconnect", "Change Username/Password"}));
    m_bar->SetWidgetActionHidden(page, "set_user_pass", true);
    QCOMPARE(Layout(), Fixed({"Disconnect", "Change Username/Password (hidden)"}));
    m_bar->SetWidgetActionHidden(page, "set_user_pass", true);
    m_bar->SetWidgetActionHidden(page, "set_user_pass", false);
    QCOMPARE(Layout(), Fixed({"Disconnect", "Change Username/Password"}));
    m_bar->SetWidgetActionText(page, "connect_disconnect", "Connect");
    QCOMPARE(Layout(), Fixed({"Connect", "Change Username/Password"}));
}

void TestActionSetToolBar::overrideOfOneIdLeavesTheOtherIdsOverride()
{
    m_bar->Init();
    m_bar->AddSetAction("twins", "t1", "One", "", false);
    m_bar->AddSetAction("twins", "t2", "Two", "", false);
    auto* view = new QLineEdit;
    m_content->layout()->addWidget(view);
    m_bar->RegisterWidget(view, "twins");
    m_bar->SetWidgetActionText(view, "t1", "Same");
    m_bar->SetWidgetActionText(view, "t2", "Same");
    m_bar->SetWidgetActionText(view, "t1", "Changed");
    m_bar->OnApplicationFocusChanged(nullptr, view);
    QCOMPARE(Layout(), Fixed({"Changed", "Same"}));
}

void TestActionSetToolBar::unregisteredWidgetOrUnknownIdChangesNothing()
{
    DeclareSettingTypes();
    m_bar->Init();
    m_bar->AddSetAction("guarded", "g", "G", "", false);
    auto* stranger = new QLineEdit;
    auto* known = new QLineEdit;
    m_content->layout()->addWidget(stranger);
    m_content->layout()->addWidget(known);
    m_bar->RegisterWidget(known, "guarded");
    const size_t widgets = d.GetType("toolbar_action_widget")->ItemCount();
    const size_t hidden = d.GetType("widget_action_hidden")->ItemCount();
    const size_t pairs = d.GetType("action_key_value_pair")->ItemCount()
        + d.GetType("action_key_column_pair")->ItemCount();

    m_bar->AddWidgetKey(stranger, "guard_key", "value");
    m_bar->AddWidgetColumnKey(stranger, "guard_key", 0);
    m_bar->SetWidgetActionText(stranger, "g", "Nope");
    m_bar->SetWidgetActionHidden(stranger, "g", true);
    m_bar->SetWidgetActionText(known, "no_such_action", "Nope");
    m_bar->SetWidgetActionHidden(known, "no_such_action", true);
    m_bar->AddWidgetKey(nullptr, "guard_key", "value");
    m_bar->RegisterWidget(nullptr, "guarded");

    QCOMPARE(d.GetType("toolbar_action_widget")->ItemCount(), widgets);
    QCOMPARE(d.GetType("widget_action_hidden")->ItemCount(), hidden);
    QCOMPARE(d.GetType("action_key_value_pair")->ItemCount() + d.GetType("action_key_column_pair")->ItemCount(),
             pairs);
    QVERIFY(!d.GetType("toolbar_action_id")->HasItem("no_such_action"));
    m_bar->OnApplicationFocusChanged(nullptr, stranger);
    QCOMPARE(Layout(), Fixed({}));
    QCOMPARE(m_bar->GetKey("guard_key"), QString());
    m_bar->OnApplicationFocusChanged(nullptr, known);
    QCOMPARE(Layout(), Fixed({"G"}));
    // Registered afterwards, the stranger shows none of what was asked before.
    m_bar->RegisterWidget(stranger, "guarded");
    m_bar->OnApplicationFocusChanged(nullptr, stranger);
    QCOMPARE(Layout(), Fixed({"G"}));
    QCOMPARE(m_bar->GetKey("guard_key"), QString());
}

void TestActionSetToolBar::listSelectionGatesActionsAndFeedsColumnKeys()
{
    m_bar->Init();
    m_bar->AddSetAction("picks", "needs", "Needs Row", "", true);
    m_bar->AddSetAction("picks", "free", "Always", "", false);
    auto* view = new QWidget;
    view->setLayout(new QVBoxLayout);
    auto* list = new QTreeWidget;
    list->setColumnCount(2);
    list->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->layout()->addWidget(list);
    m_content->layout()->addWidget(view);
    for (const char* name : {"alpha", "beta", "gamma"})
        new QTreeWidgetItem(list, QStringList{QString(name), QString(name).toUpper()});
    m_bar->RegisterWidget(view, "picks");
    m_bar->AddWidgetColumnKey(view, "pick_name", 0);
    m_bar->AddWidgetColumnKey(view, "pick_upper", 1);
    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);

    // The list lies on the focus path between the focused widget and the registered one.
    m_bar->OnApplicationFocusChanged(nullptr, list->viewport());
    Button("Needs Row")->trigger();
    QCOMPARE(triggered.count(), 0);
    QCOMPARE(m_bar->GetKey("pick_name"), QString());
    Button("Always")->trigger();
    QCOMPARE(triggered.count(), 1);

    list->topLevelItem(1)->setSelected(true);
    list->topLevelItem(2)->setSelected(true);
    Button("Needs Row")->trigger();
    QCOMPARE(triggered.count(), 2);
    QCOMPARE(triggered.at(1).at(0).value<QWidget*>(), view);
    QCOMPARE(triggered.at(1).at(1).toString(), QString("needs"));
    QCOMPARE(m_bar->GetKey("pick_name"), QString("beta"));
    QCOMPARE(m_bar->GetKey("pick_upper"), QString("BETA"));

    // Focus on the registered widget itself: no list on the path, the flag does not hold it back.
    list->clearSelection();
    m_bar->OnApplicationFocusChanged(nullptr, view);
    Button("Needs Row")->trigger();
    QCOMPARE(triggered.count(), 3);
    QCOMPARE(m_bar->GetKey("pick_name"), QString("beta"));  // keys keep their last value
}

void TestActionSetToolBar::fixedKeysAreAppliedOnEveryFocusChange()
{
    m_bar->Init();
    m_bar->AddSetAction("room", "toggle_room_autojoin", "Toggle Room Autojoin", ":/icons/room_icon", false);
    auto* alpha = new QWidget;
    auto* alphaInput = new QLineEdit(alpha);
    auto* beta = new QLineEdit;
    auto* loose = new QLineEdit;
    m_content->layout()->addWidget(alpha);
    m_content->layout()->addWidget(beta);
    m_content->layout()->addWidget(loose);
    m_bar->RegisterWidget(alpha, "room");
    m_bar->RegisterWidget(beta, "room");
    m_bar->AddWidgetKey(alpha, "room", "alpha");
    m_bar->AddWidgetKey(beta, "room", "beta");
    QCOMPARE(m_bar->GetKey("room"), QString());
    QCOMPARE(m_bar->GetKey("never_set"), QString());
    m_bar->OnApplicationFocusChanged(nullptr, alphaInput);
    QCOMPARE(m_bar->GetKey("room"), QString("alpha"));
    m_bar->OnApplicationFocusChanged(nullptr, beta);
    QCOMPARE(m_bar->GetKey("room"), QString("beta"));
    m_bar->OnApplicationFocusChanged(nullptr, loose);
    QCOMPARE(m_bar->GetKey("room"), QString("beta"));
    // Moving inside the same widget does not rebuild but re-applies the keys.
    m_bar->OnApplicationFocusChanged(nullptr, alpha);
    QAction* before = Button("Toggle Room Autojoin");
    m_bar->OnApplicationFocusChanged(nullptr, beta);
    m_bar->OnApplicationFocusChanged(nullptr, beta);
    QAction* same = Button("Toggle Room Autojoin");
    m_bar->OnApplicationFocusChanged(nullptr, beta);
    QCOMPARE(Button("Toggle Room Autojoin"), same);
    QVERIFY(before);
    m_bar->OnApplicationFocusChanged(nullptr, alphaInput);
    QCOMPARE(m_bar->GetKey("room"), QString("alpha"));
}

void TestActionSetToolBar::duplicateActionsShowTwice()
{
    m_bar->Init();
    m_bar->AddSetAction("dupes", "same", "Same", "", false);
    m_bar->AddSetAction("dupes", "same", "Same", "", false);
    auto* view = new QLineEdit;
    m_content->layout()->addWidget(view);
    m_bar->RegisterWidget(view, "dupes");
    m_bar->OnApplicationFocusChanged(nullptr, view);
    QCOMPARE(Layout(), Fixed({"Same", "Same"}));
}

void TestActionSetToolBar::privilegesButtonText()
{
    QCOMPARE(ActionSetToolBar::PrivilegesText(0), QString("Support Tavrinel!"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(-5), QString("Support Tavrinel!"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(1), QString("0 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(43199), QString("0 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(43200), QString("1 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(86399), QString("1 Days Left"));
    QCOMPARE(ActionSetToolBar::PrivilegesText(129600), QString("2 Days Left"));
    // (2147483647 + 43200) / 86400 = 24855: no 32-bit overflow near the top of the range.
    QCOMPARE(ActionSetToolBar::PrivilegesText(INT_MAX), QString("24855 Days Left"));

    m_bar->OnReceivedOwnPrivilegesStatus(43200);
    QCOMPARE(m_bar->PrivilegesButton()->text(), QString("1 Days Left"));
    m_bar->OnReceivedOwnPrivilegesStatus(0);
    QCOMPARE(m_bar->PrivilegesButton()->text(), QString("Support Tavrinel!"));

    // A rebuild reads the stored seconds.
    DeclareSettingTypes();
    SetSetting("privileges_time_left", "259200");
    m_bar->Init();
    m_bar->Clear();
    m_bar->AddSupportTavrinelButton();
    QCOMPARE(Layout().last(), QString("[3 Days Left]"));
}

void TestActionSetToolBar::privilegesButtonOpensPercentEncodedPage()
{
    DeclareSettingTypes();
    SetSetting("web_host", "127.0.0.1:8123");
    SetSetting("username", "a b&c=d#e");
    m_catcher.urls.clear();
    m_bar->PrivilegesButton()->click();
    QCOMPARE(m_catcher.urls.size(), 1);
    const QUrl url = m_catcher.urls.first();
    QCOMPARE(url.toString(QUrl::FullyEncoded),
             QString("http://127.0.0.1:8123/qtlogin.php?username=a%20b%26c%3Dd%23e"));
    SetSetting("web_host", "");
    SetSetting("username", "");
}

void TestActionSetToolBar::statusButtonSwitchesAvailability()
{
    DeclareSettingTypes();
    m_bar->Init();
    m_bar->Clear();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Away"));
    m_bar->StatusButton()->click();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Available"));
    SetSetting("availability_status", "available");
    m_bar->Clear();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Available"));
    m_bar->StatusButton()->click();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Away"));
}

void TestActionSetToolBar::destroyedWidgetLeavesNoRecordsBehind()
{
    m_bar->Init();
    m_bar->AddSetAction("mortal", "m", "Mortal", "", true);
    auto* view = new QWidget;
    view->setLayout(new QVBoxLayout);
    auto* list = new QTreeWidget;
    view->layout()->addWidget(list);
    m_content->layout()->addWidget(view);
    new QTreeWidgetItem(list, QStringList("row"));
    m_bar->RegisterWidget(view, "mortal");
    m_bar->AddWidgetKey(view, "mortal_key", "v");
    m_bar->AddWidgetColumnKey(view, "mortal_column", 0);
    m_bar->SetWidgetActionText(view, "m", "Mortal Text");
    m_bar->SetWidgetActionHidden(view, "m", true);
    m_bar->SetWidgetActionHidden(view, "m", false);
    m_bar->SetWidgetActionHidden(view, "m", true);
    m_bar->OnApplicationFocusChanged(nullptr, list);
    QCOMPARE(Layout(), Fixed({"Mortal Text (hidden)"}));
    m_bar->SetWidgetActionHidden(view, "m", false);
    QCOMPARE(Layout(), Fixed({"Mortal Text"}));
    const Value key(static_cast<const QObject*>(view));
    QVERIFY(d.GetType("toolbar_action_widget")->HasItem(key));
    delete view;
    QCOMPARE(Layout(), Fixed({}));
    QVERIFY(!m_bar->CurrentWidget());
    QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(key));

    // A new widget, possibly at the same address, inherits neither set, keys nor overrides.
    auto* fresh = new QWidget;
    m_content->layout()->addWidget(fresh);
    m_bar->OnApplicationFocusChanged(nullptr, fresh);
    QCOMPARE(Layout(), Fixed({}));
    m_bar->SetWidgetActionText(fresh, "m", "Stolen");
    m_bar->AddWidgetKey(fresh, "mortal_key", "stolen");
    m_bar->RegisterWidget(fresh, "mortal");
    m_bar->OnApplicationFocusChanged(nullptr, fresh);
    QCOMPARE(Layout(), Fixed({"Mortal"}));
    QCOMPARE(m_bar->GetKey("mortal_key"), QString("v"));
    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);
    Button("Mortal")->trigger();
    QCOMPARE(triggered.count(), 1);

    // A list that dies while the set stays on display is not read afterwards.
    auto* holder = new QWidget;
    holder->setLayout(new QVBoxLayout);
    auto* doomed = new QTreeWidget;
    holder->layout()->addWidget(doomed);
    m_content->layout()->addWidget(holder);
    m_bar->RegisterWidget(holder, "mortal");
    m_bar->OnApplicationFocusChanged(nullptr, doomed);
    delete doomed;
    Button("Mortal")->trigger();
    QCOMPARE(triggered.count(), 2);

    // The bar gone, no registration outlives it.
    delete m_bar;
    QVERIFY(!actionBar);
    QCOMPARE(d.GetType("toolbar_action_widget")->ItemCount(), size_t(0));
    QCOMPARE(d.GetType("action_key_value_pair")->ItemCount(), size_t(0));
    m_bar = new ActionSetToolBar(m_window);
}

void TestActionSetToolBar::followsServerPrivilegesAndSendsAvailability()
{
    QVERIFY(m_fixture.SetUp(false));
    m_fixture.SetLogin("me", "secret");
    m_bar->Init();
    QVERIFY(m_fixture.LogIn());
    SetSetting("show_away_status_in_application_icon", "yes");

    // Seconds left, as the server reports them (message 92).
    m_fixture.fake.SendRaw(FakeServer::MakeFrame(92, FakeServer::I32(3 * 86400 + 43200)));
    QTRY_COMPARE(m_bar->PrivilegesButton()->text(), QString("4 Days Left"));
    m_fixture.fake.SendRaw(FakeServer::MakeFrame(92, FakeServer::I32(0)));
    QTRY_COMPARE(m_bar->PrivilegesButton()->text(), QString("Support Tavrinel!"));

    SetSetting("availability_status", "away");
    m_bar->Clear();
    m_bar->StatusButton()->click();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Available"));
    QVERIFY(m_fixture.fake.WaitForFrames(1));
    QCOMPARE(m_fixture.fake.Frames().last().code, 28u);
    QCOMPARE(m_fixture.fake.Frames().last().fields, FakeServer::U32(2));
    QCOMPARE(GetSetting("availability_status"), QString("available"));
    m_bar->StatusButton()->click();
    QCOMPARE(m_bar->StatusButton()->text(), QString("Away"));
    QVERIFY(m_fixture.fake.WaitForFrames(2));
    QCOMPARE(m_fixture.fake.Frames().last().fields, FakeServer::U32(1));
    QVERIFY(m_fixture.Reset());
}

QTEST_MAIN(TestActionSetToolBar)
#include "tst_actionsettoolbar.moc"
#include "moc_urlcatcher.cpp"
