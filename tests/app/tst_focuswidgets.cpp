#include "app/focus.h"
#include "app/tabwidget.h"
#include "model/helpers.h"

#include <QApplication>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <QtTest>

class TestFocusWidgets : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void cleanup() { delete m_window; }

    void focusWidgetAndParentsSwitchesEveryEnclosingTab();
    void focusWidgetTakesFocusBackFromTabSwitch();

private:
    QWidget* m_window = nullptr;
};

void TestFocusWidgets::init()
{
    m_window = new QWidget;
    m_window->setLayout(new QVBoxLayout);
}

static void ShowActive(QWidget* window)
{
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
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

    FocusWidgetAndParents(bobInput);
    QCOMPARE(chats->currentIndex(), 1);
    QCOMPARE(mainTabs->currentIndex(), 1);
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

// The tab switches hand the focus to what the pages had last; the widget asked for takes it back.
void TestFocusWidgets::focusWidgetTakesFocusBackFromTabSwitch()
{
    auto* tabs = new QTabWidget(m_window);
    m_window->layout()->addWidget(tabs);
    auto* front = new QLineEdit;
    tabs->addTab(front, "front");
    auto* chats = new QTabWidget;
    tabs->addTab(chats, "chat");
    chats->addTab(new QLineEdit, "alice");
    auto* bob = new QLineEdit;
    chats->addTab(bob, "bob");
    ShowActive(m_window);
    front->setFocus();

    FocusWidget(bob);
    QCOMPARE(tabs->currentIndex(), 1);
    QCOMPARE(chats->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), bob);
}

QTEST_MAIN(TestFocusWidgets)
#include "tst_focuswidgets.moc"
