#include "app/eventtoolbar.h"
#include "app/focus.h"

#include <QAction>
#include <QApplication>
#include <QHelpEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTabWidget>
#include <QTextDocument>
#include <QToolTip>
#include <QVBoxLayout>
#include <QtTest>

class TestEventToolBar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();
    void cleanup()
    {
        g_showIsOver = false;
        delete m_window;
    }

    void blinkCyclesUntilAnyFocusChange();
    void oneButtonPerHiddenWidgetBringsItForward();
    void removeEventAndDestroyedWidgetDropTheirButton();
    void shutdownIgnoresPressesAndDestructions();
    void tooltipShowsNameAsTyped_data();
    void tooltipShowsNameAsTyped();

private:
    QStringList Buttons() const
    {
        QStringList out;
        for (QAction* a : m_bar->actions())
            out << a->text();
        return out;
    }
    void Deactivate();
    void ShowActive();
    static QWidget* FindTopLevel(const QString& name)
    {
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (widget->objectName() == name)
                return widget;
        return nullptr;
    }

    QWidget* m_window = nullptr;
    QTabWidget* m_mainTabs = nullptr;
    QTabWidget* m_chatTabs = nullptr;
    QLineEdit* m_front = nullptr;
    QLineEdit* m_alice = nullptr;
    QLineEdit* m_bob = nullptr;
    EventToolBar* m_bar = nullptr;
};

// A window like the main one: a front page and a page of chat tabs; the bar sits in it.
void TestEventToolBar::init()
{
    m_window = new QWidget;
    auto* layout = new QVBoxLayout(m_window);
    m_bar = new EventToolBar(m_window);
    layout->addWidget(m_bar);
    layout->addWidget(m_mainTabs = new QTabWidget);
    m_mainTabs->addTab(m_front = new QLineEdit, "front");
    m_mainTabs->addTab(m_chatTabs = new QTabWidget, "chat");
    m_chatTabs->addTab(m_alice = new QLineEdit, "alice");
    m_chatTabs->addTab(m_bob = new QLineEdit, "bob");
    m_window->resize(400, 300);
}

void TestEventToolBar::Deactivate()
{
    QApplication::setActiveWindow(nullptr);
    QVERIFY(!QApplication::activeWindow());
}

void TestEventToolBar::ShowActive()
{
    m_window->show();
    m_window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_window));
}

void TestEventToolBar::blinkCyclesUntilAnyFocusChange()
{
    Deactivate();
    QSignalSpy shown(m_bar, &EventToolBar::AlertIconShown);
    m_bar->AddEvent("Chat", ":/icons/chat_icon", m_alice, QString());
    m_bar->AddEvent("Chat", ":/icons/chat_icon", m_bob, QString());
    m_bar->AddEvent("Browse", ":/icons/browse_icon", m_front, QString());
    QVERIFY(m_bar->IsBlinking());
    QCOMPARE(m_bar->PendingAlertIcons(), 2);

    // n distinct icons: n + 1 steps per cycle, ascending by path, then the normal icon.
    for (int step = 0; step < 6; ++step)
        m_bar->OnIconAlertTimeout();
    QStringList seen;
    for (const QList<QVariant>& args : shown)
        seen << args.at(0).toString();
    QCOMPARE(seen, QStringList({":/icons/browse_icon", ":/icons/chat_icon", "", ":/icons/browse_icon",
                                ":/icons/chat_icon", ""}));

    // Any focus change stops the blinking on the normal icon; the buttons stay.
    m_bar->OnIconAlertTimeout();
    ShowActive();
    m_front->setFocus();
    QVERIFY(!m_bar->IsBlinking());
    QCOMPARE(shown.last().at(0).toString(), QString());
    QVERIFY(Buttons().contains("Chat"));
}

void TestEventToolBar::oneButtonPerHiddenWidgetBringsItForward()
{
    ShowActive();
    m_front->setFocus();
    m_bar->AddEvent("Alice says hi", ":/icons/chat_icon", m_alice, "alert");
    QVERIFY(!m_bar->isHidden());
    QVERIFY(!m_bar->IsBlinking());
    m_bar->AddEvent("Alice again", ":/icons/chat_icon", m_alice, "alert");
    m_bar->AddEvent("Bob", ":/icons/chat_icon", m_bob, QString());
    QCOMPARE(Buttons(), QStringList({"Alice says hi", "Bob"}));
    m_bar->RemoveEvent(m_alice);
    QAction* button = m_bar->EventAction(m_bob);
    QVERIFY(button);
    QPointer<QAction> guard(button);
    button->trigger();
    QCOMPARE(m_mainTabs->currentIndex(), 1);
    QCOMPARE(m_chatTabs->currentIndex(), 1);
    QCOMPARE(QApplication::focusWidget(), m_bob);
    // The last button gone: the bar hides with its placeholder; the action goes later.
    QVERIFY(m_bar->isHidden());
    QCOMPARE(Buttons(), QStringList({""}));
    QVERIFY(!m_bar->EventAction(m_bob));
    QTRY_VERIFY(guard.isNull());
}

void TestEventToolBar::removeEventAndDestroyedWidgetDropTheirButton()
{
    ShowActive();
    m_bar->AddEvent("Alice", ":/icons/chat_icon", m_alice, QString());
    m_bar->AddEvent("Bob", ":/icons/chat_icon", m_bob, QString());
    const int focusIndex = m_mainTabs->currentIndex();
    m_bar->RemoveEvent(m_alice);
    QCOMPARE(Buttons(), QStringList({"Bob"}));
    QCOMPARE(m_mainTabs->currentIndex(), focusIndex);
    m_bar->RemoveEvent(nullptr);

    const Value key(static_cast<const QObject*>(m_bob));
    delete m_bob;
    m_bob = nullptr;
    QCOMPARE(Buttons(), QStringList({""}));
    QVERIFY(m_bar->isHidden());
    QVERIFY(!d.GetType("event_toolbar_widget")->HasItem(key));

    // The bar gone, no record outlives it, and no bar listens to its widgets' ends.
    m_bar->AddEvent("Alice", ":/icons/chat_icon", m_alice, QString());
    delete m_bar;
    QVERIFY(!eventToolBar);
    QCOMPARE(d.GetType("event_toolbar_widget")->ItemCount(), size_t(0));
    QCOMPARE(d.GetType("event_toolbar_action")->ItemCount(), size_t(0));
    delete m_alice;
    m_alice = nullptr;
}

void TestEventToolBar::shutdownIgnoresPressesAndDestructions()
{
    ShowActive();
    m_bar->AddEvent("Bob", ":/icons/chat_icon", m_bob, QString());
    g_showIsOver = true;
    m_bar->EventAction(m_bob)->trigger();
    QCOMPARE(Buttons(), QStringList({"Bob"}));
    QCOMPARE(m_mainTabs->currentIndex(), 0);

    // The focus changes of tearing down leave the blinking alone (it needs the window's icon).
    g_showIsOver = false;
    Deactivate();
    m_bar->AddEvent("Alice", ":/icons/chat_icon", m_alice, QString());
    QVERIFY(m_bar->IsBlinking());
    g_showIsOver = true;
    m_bar->OnApplicationFocusChanged(nullptr, m_front);
    QVERIFY(m_bar->IsBlinking());
    g_showIsOver = false;
}

void TestEventToolBar::tooltipShowsNameAsTyped_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("tags") << "<b>x</b>";
    QTest::newRow("entity") << "x &lt; y";
    QTest::newRow("dots and ampersand") << "a...b & c";
}

// The name under the mouse shows in the tooltip as the peer typed it, never as markup.
void TestEventToolBar::tooltipShowsNameAsTyped()
{
    QFETCH(QString, name);
    ShowActive();
    m_bar->AddEvent(name, ":/icons/chat_icon", m_bob, QString());
    QWidget* button = m_bar->widgetForAction(m_bar->EventAction(m_bob));
    QVERIFY(button);
    const QPoint at = button->rect().center();
    QHelpEvent hover(QEvent::ToolTip, at, button->mapToGlobal(at));
    QApplication::sendEvent(button, &hover);
    QLabel* tip = nullptr;
    QTRY_VERIFY((tip = qobject_cast<QLabel*>(FindTopLevel("qtooltip_label"))) && tip->isVisible());
    // What the label renders: rich text where it takes its text for markup, as typed otherwise.
    QTextDocument shown;
    if (tip->textFormat() == Qt::RichText ||
        (tip->textFormat() == Qt::AutoText && Qt::mightBeRichText(tip->text())))
        shown.setHtml(tip->text());
    else
        shown.setPlainText(tip->text());
    QCOMPARE(shown.toPlainText(), name);
    QToolTip::hideText();
}

QTEST_MAIN(TestEventToolBar)
#include "tst_eventtoolbar.moc"
