#include "urlcatcher.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "model/settings.h"

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
    void init();
    void cleanup()
    {
        g_showIsOver = false;
        delete m_window;
        SetSetting("privileges_time_left", "");
    }

    void focusShowsSetBetweenFixedButtons();
    void tabRowsResolveToTheirInnermostPage();
    void ignoresFocusBeforeInitAndAtShutdown();
    void actionTextsArePerWidgetAndKnownId();
    void privilegesButtonText_data();
    void privilegesButtonText();
    void privilegesButtonOpensPercentEncodedPage();
    void destroyedWidgetLeavesNoRecordsBehind();

private:
    QStringList Layout() const;
    QAction* Button(const QString& text) const;
    template <typename T = QLineEdit>
    T* Add(const char* set = nullptr)
    {
        auto* w = new T;
        m_content->layout()->addWidget(w);
        if (set)
            m_bar->RegisterWidget(w, set);
        return w;
    }

    QWidget* m_window = nullptr;
    QWidget* m_content = nullptr;
    ActionSetToolBar* m_bar = nullptr;
    UrlCatcher m_catcher;
};

void TestActionSetToolBar::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QDesktopServices::setUrlHandler("http", &m_catcher, "Open");
    QDesktopServices::setUrlHandler("https", &m_catcher, "Open");
    DeclareSettingTypes();
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

static QStringList Fixed(const QStringList& set)
{
    return QStringList{"[Away]", "label: "} + set + QStringList{"", "spacer", "[Support Tavrinel!]"};
}

void TestActionSetToolBar::focusShowsSetBetweenFixedButtons()
{
    m_bar->Init();
    for (const char* text : {"Create Room", "Refresh Room List", "Accept Private Room Invitations"})
        m_bar->AddSetAction("room_list", QString(text).toLower().replace(' ', '_'), text, ":/icons/room_icon", false);
    auto* roomList = Add<QTreeWidget>("room_list");
    auto* other = Add();
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
    other->setFocus();
    roomList->setFocus();
    QCOMPARE(Layout(), Fixed({"Create Room", "Refresh Room List", "Accept Private Room Invitations"}));
    QCOMPARE(m_bar->CurrentWidget(), roomList);

    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);
    Button("Refresh Room List")->trigger();
    QCOMPARE(triggered.count(), 1);
    QCOMPARE(triggered.at(0).at(0).value<QWidget*>(), roomList);
    QCOMPARE(triggered.at(0).at(1).toString(), QString("refresh_room_list"));

    // Focus on a widget no set is registered for or on the bar itself: fixed buttons only.
    for (QWidget* w : {static_cast<QWidget*>(other), static_cast<QWidget*>(m_bar)}) {
        m_bar->OnApplicationFocusChanged(nullptr, roomList);
        m_bar->OnApplicationFocusChanged(nullptr, w);
        QCOMPARE(Layout(), Fixed({}));
    }
}

void TestActionSetToolBar::tabRowsResolveToTheirInnermostPage()
{
    m_bar->Init();
    auto* outer = Add<QTabWidget>();
    auto* inner = new QTabWidget;
    QLineEdit* pages[3];
    for (int k = 0; k < 3; ++k) {
        const QString id(QChar('a' + k));
        m_bar->AddSetAction("tabs_" + id, id, id.toUpper(), "", false);
        (k ? inner : outer)->addTab(pages[k] = new QLineEdit, id);
        m_bar->RegisterWidget(pages[k], "tabs_" + id);
        if (!k)
            outer->addTab(inner, "inner");
    }
    inner->setCurrentIndex(1);
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));

    m_bar->OnApplicationFocusChanged(nullptr, outer->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_a"));
    outer->setCurrentIndex(1);
    m_bar->OnApplicationFocusChanged(nullptr, outer->tabBar());
    QCOMPARE(m_bar->CurrentWidget(), pages[2]);
    inner->setCurrentIndex(0);
    m_bar->OnApplicationFocusChanged(nullptr, outer);
    QCOMPARE(Layout(), Fixed({"B"}));

    // Real keyboard focus on the inner tab row.
    inner->setCurrentIndex(1);
    pages[0]->setFocus();
    inner->tabBar()->setFocus();
    QCOMPARE(QApplication::focusWidget(), inner->tabBar());
    QCOMPARE(m_bar->CurrentSet(), QString("tabs_c"));
}

void TestActionSetToolBar::ignoresFocusBeforeInitAndAtShutdown()
{
    m_bar->AddSetAction("early", "e", "E", "", false);
    auto* edit = Add("early");
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(Layout(), QStringList({"", "spacer", "[Support Tavrinel!]"}));
    m_bar->Init();
    g_showIsOver = true;
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(m_bar->CurrentSet(), QString());
    g_showIsOver = false;
    m_bar->OnApplicationFocusChanged(nullptr, edit);
    QCOMPARE(Layout(), Fixed({"E"}));
}

void TestActionSetToolBar::actionTextsArePerWidgetAndKnownId()
{
    m_bar->Init();
    m_bar->AddSetAction("guarded", "g", "G", "", false);
    m_bar->AddSetAction("guarded", "h", "H", "", false);
    auto* stranger = Add();
    auto* known = Add("guarded");
    auto* other = Add("guarded");
    auto counts = [] {
        return QList<size_t>{d.GetType("toolbar_action_widget")->ItemCount(),
                             d.GetType("widget_action_hidden")->ItemCount(),
                             d.GetType("action_key_value_pair")->ItemCount(),
                             d.GetType("action_key_column_pair")->ItemCount()};
    };
    const QList<size_t> before = counts();

    m_bar->AddWidgetKey(stranger, "guard_key", "value");
    m_bar->AddWidgetColumnKey(stranger, "guard_key", 0);
    m_bar->SetWidgetActionText(stranger, "g", "Nope");
    m_bar->SetWidgetActionHidden(stranger, "g", true);
    m_bar->SetWidgetActionText(known, "no_such_action", "Nope");
    m_bar->SetWidgetActionHidden(known, "no_such_action", true);
    m_bar->RegisterWidget(nullptr, "guarded");

    QCOMPARE(counts(), before);
    QVERIFY(!d.GetType("toolbar_action_id")->HasItem("no_such_action"));
    // Registered afterwards, the stranger shows none of what was asked before.
    m_bar->RegisterWidget(stranger, "guarded");
    m_bar->OnApplicationFocusChanged(nullptr, stranger);
    QCOMPARE(Layout(), Fixed({"G", "H"}));
    QCOMPARE(m_bar->GetKey("guard_key"), QString());

    // Texts are kept per (widget, id): one override does not wipe another.
    m_bar->SetWidgetActionText(known, "g", "Known G");
    m_bar->SetWidgetActionText(known, "h", "Known H");
    m_bar->OnApplicationFocusChanged(nullptr, known);
    QCOMPARE(Layout(), Fixed({"Known G", "Known H"}));
    m_bar->OnApplicationFocusChanged(nullptr, other);
    QCOMPARE(Layout(), Fixed({"G", "H"}));
}

void TestActionSetToolBar::privilegesButtonText_data()
{
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QString>("text");
    // (2147483647 + 43200) / 86400 = 24855: no 32-bit overflow near the top of the range.
    const QList<QPair<int, QString>> rows{{0, "Support Tavrinel!"}, {-5, "Support Tavrinel!"}, {43199, "0 Days Left"},
                                          {43200, "1 Days Left"},      {INT_MAX, "24855 Days Left"}};
    for (const auto& row : rows)
        QTest::addRow("%d", row.first) << row.first << row.second;
}

void TestActionSetToolBar::privilegesButtonText()
{
    QFETCH(int, seconds);
    QFETCH(QString, text);
    m_bar->OnReceivedOwnPrivilegesStatus(seconds);
    QCOMPARE(m_bar->PrivilegesButton()->text(), text);
    // A rebuild reads the stored seconds.
    SetSetting("privileges_time_left", QString::number(seconds));
    m_bar->Init();
    m_bar->Clear();
    m_bar->AddSupportTavrinelButton();
    QCOMPARE(Layout().last(), "[" + text + "]");
}

void TestActionSetToolBar::privilegesButtonOpensPercentEncodedPage()
{
    SetSetting("web_host", "127.0.0.1:8123");
    SetSetting("username", "a b&c=d#e");
    m_catcher.urls.clear();
    m_bar->PrivilegesButton()->click();
    QCOMPARE(m_catcher.urls.size(), 1);
    QCOMPARE(m_catcher.urls.first().toString(QUrl::FullyEncoded),
             QString("http://127.0.0.1:8123/qtlogin.php?username=a%20b%26c%3Dd%23e"));
    SetSetting("web_host", "");
    SetSetting("username", "");
}

void TestActionSetToolBar::destroyedWidgetLeavesNoRecordsBehind()
{
    m_bar->Init();
    m_bar->AddSetAction("mortal", "m", "Mortal", "", true);
    auto* view = Add<QWidget>("mortal");
    view->setLayout(new QVBoxLayout);
    auto* list = new QTreeWidget;
    view->layout()->addWidget(list);
    new QTreeWidgetItem(list, QStringList("row"));
    m_bar->AddWidgetKey(view, "mortal_key", "v");
    m_bar->AddWidgetColumnKey(view, "mortal_column", 0);
    m_bar->SetWidgetActionText(view, "m", "Mortal Text");
    m_bar->SetWidgetActionHidden(view, "m", true);
    m_bar->OnApplicationFocusChanged(nullptr, list);
    QCOMPARE(Layout(), Fixed({"Mortal Text (hidden)"}));
    const Value key(static_cast<const QObject*>(view));
    QVERIFY(d.GetType("toolbar_action_widget")->HasItem(key));
    delete view;
    QCOMPARE(Layout(), Fixed({}));
    QVERIFY(!m_bar->CurrentWidget());
    QVERIFY(!d.GetType("toolbar_action_widget")->HasItem(key));

    QSignalSpy triggered(m_bar, &ActionSetToolBar::ActionTriggered);
    // A list that dies while the set stays on display is not read afterwards.
    auto* holder = Add<QWidget>("mortal");
    holder->setLayout(new QVBoxLayout);
    auto* doomed = new QTreeWidget;
    holder->layout()->addWidget(doomed);
    m_bar->OnApplicationFocusChanged(nullptr, doomed);
    delete doomed;
    Button("Mortal")->trigger();
    QCOMPARE(triggered.count(), 1);

    // The bar gone, no registration outlives it.
    delete m_bar;
    QVERIFY(!actionBar);
    QCOMPARE(d.GetType("toolbar_action_widget")->ItemCount(), size_t(0));
    QCOMPARE(d.GetType("action_key_value_pair")->ItemCount(), size_t(0));
}

QTEST_MAIN(TestActionSetToolBar)
#include "tst_actionsettoolbar.moc"
#include "moc_urlcatcher.cpp"
