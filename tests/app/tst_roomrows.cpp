// The order of the room list and of a room's member list as the user sorts them by clicking the
// headers, and the dialog that enters or creates a room by name.

#include "mainwindowfixture.h"

#include "ui/chat/createroomdialog.h"
#include "ui/chat/roomlistitemwidget.h"
#include "ui/chat/roomuserlistitemwidget.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPointer>
#include <QTreeWidget>

namespace {

ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

// Clicks the column's header; returns the texts of `column` top to bottom, with "v" ahead of
// them when the list now sorts descending.
QStringList ClickHeader(QTreeWidget* list, int section, int column)
{
    QHeaderView* header = list->header();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(section) + 4, header->height() / 2));
    QStringList texts;
    if (header->sortIndicatorOrder() == Qt::DescendingOrder)
        texts << "v";
    for (int k = 0; k < list->topLevelItemCount(); ++k)
        texts << list->topLevelItem(k)->text(column);
    return texts;
}

QStringList Reversed(QStringList texts)
{
    std::reverse(texts.begin(), texts.end());
    return texts;
}

// Both orders, whichever the first click gives: ascending is `ascending`, descending its reverse.
void CheckBothOrders(QTreeWidget* list, int section, int column, const QStringList& ascending)
{
    const QStringList first = ClickHeader(list, section, column);
    const QStringList second = ClickHeader(list, section, column);
    const QStringList up = first.value(0) == "v" ? second : first;
    const QStringList down = first.value(0) == "v" ? first : second;
    QCOMPARE(up, ascending);
    QCOMPARE(down, QStringList{"v"} + Reversed(ascending));
}

}  // namespace

class TestRoomRows : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(m_fixture.Start()); }
    void roomsByRoleThenName();
    void roomsByUserCount();
    void membersByNameAndNumbers_data();
    void membersByNameAndNumbers();
    void createRoomDialogIsOne();
    void createRoomSends_data();
    void createRoomSends();
    void cleanupTestCase() { delete mainWindow; }

private:
    QPointer<CreateRoomDialog> OpenDialog();

    MainWindowFixture m_fixture;
};

void TestRoomRows::roomsByRoleThenName()
{
    QTreeWidget list;
    list.setColumnCount(2);
    for (const char* name : {"alpha", "Beta", "zeta", "alpha2", "gamma", "delta"})
        (new QRoomListItemWidget(&list))->setText(0, name);
    Room("zeta").NewItem("is_owner");
    Room("delta").NewItem("is_owner");
    // Owning outranks operating, which outranks membership.
    Room("delta").NewItem("is_member");
    Room("gamma").NewItem("is_operator");
    Room("gamma").NewItem("is_member");
    Room("alpha2").NewItem("is_member");
    Room("Beta").NewItem("is_member");
    list.setSortingEnabled(true);
    list.show();
    CheckBothOrders(&list, 0, 0, {"delta", "zeta", "gamma", "alpha2", "Beta", "alpha"});
}

void TestRoomRows::roomsByUserCount()
{
    QTreeWidget list;
    list.setColumnCount(2);
    for (const QPair<const char*, const char*>& row : QList<QPair<const char*, const char*>>{
             {"ten", "10"}, {"none", ""}, {"nine", "9"}, {"junk", "x"}}) {
        auto* item = new QRoomListItemWidget(&list);
        item->setText(0, row.first);
        item->setText(1, row.second);
    }
    list.setSortingEnabled(true);
    list.show();
    const QStringList first = ClickHeader(&list, 1, 1);
    const QStringList second = ClickHeader(&list, 1, 1);
    QStringList up = first.value(0) == "v" ? second : first;
    // The empty and the non-number cells count as 0, and compare equal.
    std::sort(up.begin(), up.begin() + 2);
    QCOMPARE(up, QStringList({"", "x", "9", "10"}));
}

void TestRoomRows::membersByNameAndNumbers_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("ascending");  // names
    QTest::newRow("name") << 2 << QStringList({"Alice", "bob", "carol", "dan"});
    // Files: bob 1,234, carol 99, Alice and dan none (equal, so by name).
    QTest::newRow("files") << 4 << QStringList({"Alice", "dan", "carol", "bob"});
    // Speed: carol 12.5, dan 3.0, bob 0.7, Alice none.
    QTest::newRow("speed") << 5 << QStringList({"Alice", "bob", "dan", "carol"});
    QTest::newRow("icon column") << 3 << QStringList({"Alice", "bob", "carol", "dan"});
}

void TestRoomRows::membersByNameAndNumbers()
{
    QFETCH(int, column);
    QFETCH(QStringList, ascending);
    QTreeWidget list;
    list.setColumnCount(6);
    const QList<QStringList> rows{{"bob", "1,234", "0.7"}, {"Alice", "", ""}, {"carol", "99", "12.5"}, {"dan", "", "3.0"}};
    for (const QStringList& row : rows) {
        auto* item = new QRoomUserListItemWidget(&list);
        item->setText(2, row.at(0));
        item->setText(4, row.at(1));
        item->setText(5, row.at(2));
    }
    list.setSortingEnabled(true);
    list.show();
    CheckBothOrders(&list, column, 2, ascending);
}

QPointer<CreateRoomDialog> TestRoomRows::OpenDialog()
{
    if (!MainWindowFixture::Trigger(Child<QTreeWidget>("roomList"), "Create Room"))
        return nullptr;
    const QList<CreateRoomDialog*> open = Visible<CreateRoomDialog>();
    return open.size() == 1 ? open.first() : nullptr;
}

void TestRoomRows::createRoomDialogIsOne()
{
    QPointer<CreateRoomDialog> dialog = OpenDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->windowTitle(), QString("Create Room"));
    QCOMPARE(createRoomDialog, dialog.data());
    QCOMPARE(OpenDialog(), dialog);

    // Closed with the window's button it is only hidden, and comes back as it was.
    dialog->findChild<QLineEdit*>("roomNameEdit")->setText("half typed");
    dialog->close();
    QVERIFY(dialog);
    QCOMPARE(OpenDialog(), dialog);
    QCOMPARE(dialog->findChild<QLineEdit*>("roomNameEdit")->text(), QString("half typed"));
    dialog->findChild<QLineEdit*>("roomNameEdit")->clear();
}

void TestRoomRows::createRoomSends_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<bool>("tick");
    QTest::addColumn<QByteArray>("frame");  // empty: nothing sent, the dialog stays
    QTest::newRow("blanks") << "   " << true << QByteArray();
    QTest::newRow("public") << " Lobby " << false << QByteArray::fromHex("11000000 0e000000 05000000 4c6f626279 00000000");
    QTest::newRow("private") << " Lobby " << true << QByteArray::fromHex("11000000 0e000000 05000000 4c6f626279 01000000");
}

void TestRoomRows::createRoomSends()
{
    QFETCH(QString, typed);
    QFETCH(bool, tick);
    QFETCH(QByteArray, frame);
    QVERIFY(m_fixture.Sync());
    QPointer<CreateRoomDialog> dialog = OpenDialog();
    QVERIFY(dialog);
    // A fresh dialog after every successful one.
    QCOMPARE(dialog->findChild<QLineEdit*>("roomNameEdit")->text(), QString());
    QVERIFY(!dialog->findChild<QCheckBox*>("createPrivateCheckBox")->isChecked());

    QTest::keyClicks(dialog->findChild<QLineEdit*>("roomNameEdit"), typed);
    if (tick)
        QTest::mouseClick(dialog->findChild<QCheckBox*>("createPrivateCheckBox"), Qt::LeftButton);
    QTest::mouseClick(dialog->findChild<QPushButton*>("createRoomButton"), Qt::LeftButton);
    // Never deleted inside its own button's signal: it goes with the next event-loop turn.
    QVERIFY(dialog);

    const QList<FakeServer::Frame> sent = m_fixture.FramesOf(14);
    if (frame.isEmpty()) {
        QVERIFY(sent.isEmpty());
        QVERIFY(dialog && dialog->isVisible());
        QCOMPARE(createRoomDialog, dialog.data());
        dialog->findChild<QLineEdit*>("roomNameEdit")->clear();
        QTest::mouseClick(dialog->findChild<QCheckBox*>("createPrivateCheckBox"), Qt::LeftButton);
        return;
    }
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().raw, frame);
    QVERIFY(!createRoomDialog);
    QTRY_VERIFY(dialog.isNull());
}

QTEST_MAIN(TestRoomRows)
#include "tst_roomrows.moc"
