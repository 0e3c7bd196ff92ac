#include "app/focus.h"
#include "app/tabwidget.h"

#include <QApplication>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTabBar>
#include <QVBoxLayout>
#include <QtTest>

class TestFocusWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void registeredWidgetTakesFocusWhenItsTabIsShown();
    void highestPriorityThenFirstInDepthFirstOrderWins();
    void focusWidgetAndParentsSwitchesEveryEnclosingTab();
    void getWidgetTabWidgetFindsNearestTab();
    void markTabActivityColoursOnlyOwnClassAndNonCurrentTabs();

private:
    QWidget* m_window = nullptr;
};

void TestFocusWidgets::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestFocusWidgets::init()
{
    m_window = new QWidget;
    m_window->setLayout(new QVBoxLayout);
    m_window->resize(400, 300);
}

void TestFocusWidgets::cleanup()
{
    delete m_window;
    m_window = nullptr;
}

static void ShowActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

void TestFocusWidgets::registeredWidgetTakesFocusWhenItsTabIsShown()
{
    auto* tabs = new TabWidget(m_window);
    m_window->layout()->addWidget(tabs);
    auto* first = new QLineEdit;
    auto* second = new QWidget;
    auto* designated = new QLineEdit(second);
    tabs->addTab(first, "one");
    tabs->addTab(second, "two");
    ShowActive(m_window);
    first->setFocus();
    QCOMPARE(QApplication::focusWidget(), first);

    RegisterWidgetForTabFocus(designated, 1);
    QCOMPARE(designated->property("get_focus").toInt(), 1);
    QCOMPARE(QApplication::focusWidget(), first);  // hidden: no focus yet

    tabs->setCurrentIndex(1);
    QCOMPARE(QApplication::focusWidget(), designated);

    // A visible widget takes the focus at once when registered.
    tabs->setCurrentIndex(0);
    RegisterWidgetForTabFocus(first, 1);
    QCOMPARE(QApplication::focusWidget(), first);
}

void TestFocusWidgets::highestPriorityThenFirstInDepthFirstOrderWins()
{
    auto* page = new QWidget;
    m_window->layout()->addWidget(page);
    auto* plain = new QLineEdit(page);
    auto* low = new QLineEdit(page);
    auto* box = new QWidget(page);
    auto* high = new QLineEdit(box);
    auto* highToo = new QLineEdit(page);
    ShowActive(m_window);
    plain->setFocus();

    low->setProperty("get_focus", 1);
    high->setProperty("get_focus", 2);
    highToo->setProperty("get_focus", 2);
    QCOMPARE(FindWidgetFocusProperty(page, 0), 2);
    QCOMPARE(QApplication::focusWidget(), high);

    // Equal priorities: the first met in depth-first order keeps it.
    plain->setFocus();
    high->setProperty("get_focus", 1);
    highToo->setProperty("get_focus", 1);
    QCOMPARE(FindWidgetFocusProperty(page, 0), 1);
    QCOMPARE(QApplication::focusWidget(), low);

    // Nothing above the level: the level comes back and the focus stays.
    plain->setFocus();
    QCOMPARE(FindWidgetFocusProperty(page, 1), 1);
    QCOMPARE(QApplication::focusWidget(), plain);

    // Hidden subtrees take no part.
    box->hide();
    high->setProperty("get_focus", 5);
    QCOMPARE(FindWidgetFocusProperty(page, 0), 1);
    QCOMPARE(QApplication::focusWidget(), low);
    QCOMPARE(FindWidgetFocusProperty(box, 3), 3);
}

void TestFocusWidgets::focusWidgetAndParentsSwitchesEveryEnclosingTab()
{
    auto* mainTabs = new TabWidget(m_window);
    m_window->layout()->addWidget(mainTabs);
    mainTabs->addTab(new QLineEdit, "search");
    auto* chatPage = new QWidget;
    chatPage->setLayout(new QVBoxLayout);
    auto* chats = new RoomTabWidget(chatPage);
    chatPage->layout()->addWidget(chats);
    mainTabs->addTab(chatPage, "chat");
    chats->addTab(new QLineEdit, "alice");
    auto* bobPage = new QWidget;
    auto* bobInput = new QLineEdit(bobPage);
    chats->addTab(bobPage, "bob");
    ShowActive(m_window);
    QCOMPARE(mainTabs->currentIndex(), 0);
    QCOMPARE(chats->currentIndex(), 0);

    FocusWidgetAndParents(bobInput);
    QCOMPARE(chats->currentIndex(), 1);
    QCOMPARE(mainTabs->currentIndex(), 1);
    QVERIFY(bobInput->isVisible());
    QCOMPARE(QApplication::focusWidget(), bobInput);

    // A page's designated widget inside the target keeps the focus the tab change gave it.
    auto* carolPage = new QWidget;
    auto* carolInput = new QLineEdit(carolPage);
    auto* carolTabs = new TabWidget;
    carolTabs->addTab(new QLineEdit, "log");
    carolTabs->addTab(carolPage, "talk");
    carolInput->setProperty("get_focus", 1);
    chats->addTab(carolTabs, "carol");
    mainTabs->setCurrentIndex(0);
    FocusWidgetAndParents(carolPage);
    QCOMPARE(mainTabs->currentIndex(), 1);
    QCOMPARE(chats->currentIndex(), 2);
    QCOMPARE(carolTabs->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), carolInput);
}

void TestFocusWidgets::getWidgetTabWidgetFindsNearestTab()
{
    auto* outer = new QTabWidget(m_window);
    m_window->layout()->addWidget(outer);
    auto* inner = new QTabWidget;
    outer->addTab(new QWidget, "a");
    outer->addTab(inner, "b");
    auto* page = new QWidget;
    auto* deep = new QLineEdit(page);
    inner->addTab(new QWidget, "x");
    inner->addTab(new QWidget, "y");
    inner->addTab(page, "z");

    int index = 42;
    QCOMPARE(GetWidgetTabWidget(deep, index), inner);
    QCOMPARE(index, 2);
    QCOMPARE(GetWidgetTabWidget(inner, index), outer);
    QCOMPARE(index, 1);

    auto* loose = new QLineEdit(m_window);
    index = 42;
    QCOMPARE(GetWidgetTabWidget(loose, index), static_cast<QTabWidget*>(nullptr));
    QCOMPARE(index, 42);
}

void TestFocusWidgets::markTabActivityColoursOnlyOwnClassAndNonCurrentTabs()
{
    auto* outer = new TabWidget(m_window);
    m_window->layout()->addWidget(outer);
    auto* plain = new QTabWidget;  // not the shell's class: left alone
    outer->addTab(new QWidget, "front");
    outer->addTab(plain, "back");
    auto* page = new QWidget;
    auto* deep = new QLineEdit(page);
    plain->addTab(new QWidget, "p0");
    plain->addTab(page, "p1");
    const QColor plainColour = plain->tabBar()->tabTextColor(1);

    TabWidget::MarkTabActivity(deep);
    QCOMPARE(outer->tabBar()->tabTextColor(1), QColor(Qt::blue));
    QCOMPARE(plain->tabBar()->tabTextColor(1), plainColour);

    // The current tab is not marked; showing a marked tab turns it black.
    MarkTabActivity(outer->widget(0));
    QVERIFY(outer->tabBar()->tabTextColor(0) != QColor(Qt::blue));
    outer->setCurrentIndex(1);
    QCOMPARE(outer->tabBar()->tabTextColor(1), QColor(Qt::black));
}

QTEST_MAIN(TestFocusWidgets)
#include "tst_focuswidgets.moc"
