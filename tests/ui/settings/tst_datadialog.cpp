// The item browser over a graph of its own: the type list, the items of the clicked type, the
// tree of one item's connections opened level by level, and how all three follow the graph.

#include "model/data.h"
#include "ui/settings/datadialog.h"

#include <QListWidget>
#include <QPointer>
#include <QTreeWidget>
#include <QtTest>

namespace {

QStringList Row(QTreeWidgetItem* row)
{
    return {row->text(0), row->text(1), row->text(2)};
}

QStringList Children(QTreeWidgetItem* node)
{
    QStringList texts;
    for (int k = 0; k < node->childCount(); ++k)
        texts << node->child(k)->text(0);
    return texts;
}

QStringList Sorted(QStringList texts)
{
    texts.sort();
    return texts;
}

QTreeWidgetItem* Child(QTreeWidgetItem* node, const QString& text)
{
    for (int k = 0; k < node->childCount(); ++k)
        if (node->child(k)->text(0) == text)
            return node->child(k);
    return nullptr;
}

}  // namespace

class TestDataDialog : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void typeListShowsKindsAndCounts();
    void valuedTypeListsItsItemsSorted();
    void treeOpensLevelByLevel();
    void listAndCountsFollowTheGraph();
    void removedItemLeavesEveryNodeOnce();
    void burstOfRemovalsKeepsTheRest();
    void typeDeclaredLaterGetsItsRow();

private:
    ItemPtr Person(const char* name) { return mp_data->GetType("person")->GetItem(Value(name)); }
    ItemPtr Pet(const char* name) { return mp_data->GetType("pet")->GetItem(Value(name)); }
    QTreeWidget* Types() { return mp_dialog->findChild<QTreeWidget*>("typeList"); }
    QListWidget* Items() { return mp_dialog->findChild<QListWidget*>("itemList"); }
    QTreeWidget* Tree() { return mp_dialog->findChild<QTreeWidget*>("itemDataTree"); }
    QStringList ListTexts()
    {
        QStringList texts;
        for (int k = 0; k < Items()->count(); ++k)
            texts << Items()->item(k)->text();
        return texts;
    }
    QTreeWidgetItem* TypeRow(const QString& name)
    {
        const auto found = Types()->findItems(name, Qt::MatchExactly, 0);
        return found.isEmpty() ? nullptr : found.first();
    }
    void ClickType(const QString& name)
    {
        QTreeWidgetItem* row = TypeRow(name);
        QVERIFY(row);
        QTest::mouseClick(Types()->viewport(), Qt::LeftButton, {}, Types()->visualItemRect(row).center());
    }
    void ClickItem(const QString& text)
    {
        const auto found = Items()->findItems(text, Qt::MatchExactly);
        QCOMPARE(found.size(), 1);
        QTest::mouseClick(Items()->viewport(), Qt::LeftButton, {}, Items()->visualItemRect(found.first()).center());
    }
    void Open(QTreeWidgetItem* node)
    {
        QVERIFY(node);
        Tree()->scrollToItem(node);
        QTest::mouseClick(Tree()->viewport(), Qt::LeftButton, {}, Tree()->visualItemRect(node).center());
        QTest::keyClick(Tree(), Qt::Key_Plus);
        QVERIFY(node->isExpanded());
    }

    Data* mp_data = nullptr;
    QPointer<DataDialog> mp_dialog;
};

void TestDataDialog::init()
{
    mp_data = new Data;
    Type* person = mp_data->NewType("person", PrimacyRoot, false, true);
    Type* pet = mp_data->NewType("pet", PrimacyReachable, false, true);
    Type* flag = mp_data->NewType("flag", PrimacyLeaf, true, true);
    mp_data->NewType("empty", PrimacyRoot, false, true);
    person->RelateToType(pet, Many, Many, false);
    person->RelateToType(flag, Many, One, false);
    person->RelateToType(person, Many, Many, false);

    Person("carol");
    Person("alice") += Pet("rex");
    Person("alice") += Pet("tom");
    Person("bob") += Pet("rex");
    Person("alice") += Person("bob");
    Person("alice").NewItem("flag");

    mp_dialog = new DataDialog(mp_data);
    mp_dialog->show();
}

void TestDataDialog::cleanup()
{
    delete mp_dialog;
    delete mp_data;
}

void TestDataDialog::typeListShowsKindsAndCounts()
{
    QCOMPARE(Types()->topLevelItemCount(), 4);
    QCOMPARE(Row(Types()->topLevelItem(0)), QStringList({"empty", "value   ", "0"}));
    QCOMPARE(Row(Types()->topLevelItem(1)), QStringList({"flag", "null   ", "1"}));
    QCOMPARE(Row(Types()->topLevelItem(2)), QStringList({"person", "value   ", "3"}));
    QCOMPARE(Row(Types()->topLevelItem(3)), QStringList({"pet", "value   ", "2"}));
    QCOMPARE(Types()->headerItem()->text(0), QString("Type"));
    QCOMPARE(Types()->headerItem()->text(2), QString("#"));
}

void TestDataDialog::valuedTypeListsItsItemsSorted()
{
    ClickType("person");
    QCOMPARE(ListTexts(), QStringList({"alice", "bob", "carol"}));
    ClickItem("alice");
    QCOMPARE(Tree()->topLevelItemCount(), 1);

    // A valueless type lists nothing and empties the tree.
    ClickType("flag");
    QCOMPARE(Items()->count(), 0);
    QCOMPARE(Tree()->topLevelItemCount(), 0);

    ClickType("pet");
    QCOMPARE(ListTexts(), QStringList({"rex", "tom"}));

    // The order the list itself keeps, so that a row added later finds its place.
    for (const char* name : {"Zed", "\xc3\x89mile", "10", "9", "bob smith"})
        Person(name);
    ClickType("person");
    Person("Bea");
    QStringList expected = ListTexts();
    std::sort(expected.begin(), expected.end(),
              [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
    QCOMPARE(ListTexts(), expected);
    QCOMPARE(ListTexts().size(), 9);
}

void TestDataDialog::treeOpensLevelByLevel()
{
    ClickType("person");
    ClickItem("carol");
    QTreeWidgetItem* root = Tree()->topLevelItem(0);
    QCOMPARE(root->text(0), QString("carol"));
    QCOMPARE(root->childCount(), 0);

    ClickItem("alice");
    QCOMPARE(Tree()->topLevelItemCount(), 1);
    root = Tree()->topLevelItem(0);
    QCOMPARE(root->text(0), QString("alice"));
    // Her friend bob is of her own type and stays out; every neighbour with links can be opened.
    QCOMPARE(Sorted(Children(root)), QStringList({"[flag, null]", "[pet] rex", "[pet] tom"}));
    for (int k = 0; k < root->childCount(); ++k)
        QCOMPARE(Children(root->child(k)), QStringList{"~~unloaded~~"});

    QTreeWidgetItem* rex = Child(root, "[pet] rex");
    Open(rex);
    QCOMPARE(Sorted(Children(rex)), QStringList({"[person] alice", "[person] bob"}));
    QCOMPARE(Tree()->currentItem(), rex);
    // Closing and opening again adds nothing.
    QTest::keyClick(Tree(), Qt::Key_Minus);
    QVERIFY(!rex->isExpanded());
    Open(rex);
    QCOMPARE(rex->childCount(), 2);

    // Reached only from alice, tom shows her again one level down.
    QTreeWidgetItem* tom = Child(root, "[pet] tom");
    Open(tom);
    QCOMPARE(Children(tom), QStringList{"[person] alice"});

    // Bob's only links besides his pet are people: opening shows just the pet.
    QTreeWidgetItem* bob = Child(rex, "[person] bob");
    Open(bob);
    QCOMPARE(Children(bob), QStringList{"[pet] rex"});
}

void TestDataDialog::listAndCountsFollowTheGraph()
{
    ClickType("person");
    Person("aaron");
    // Counts follow a moment later, once per burst.
    QTRY_COMPARE(TypeRow("person")->text(2), QString("4"));
    QCOMPARE(ListTexts(), QStringList({"aaron", "alice", "bob", "carol"}));
    ClickItem("aaron");
    QCOMPARE(Tree()->topLevelItem(0)->text(0), QString("aaron"));

    Pet("kitty");
    QTRY_COMPARE(TypeRow("pet")->text(2), QString("3"));
    QCOMPARE(ListTexts().size(), 4);

    // Another item goes; the clicked one stays.
    Person("carol").Remove();
    QTRY_COMPARE(TypeRow("person")->text(2), QString("3"));
    QTRY_COMPARE(ListTexts(), QStringList({"aaron", "alice", "bob"}));
    QCOMPARE(Tree()->topLevelItemCount(), 1);

    ClickItem("alice");
    Person("alice").Remove();
    QCOMPARE(Tree()->topLevelItemCount(), 0);
    QTRY_COMPARE(ListTexts(), QStringList({"aaron", "bob"}));
    QTRY_COMPARE(TypeRow("flag")->text(2), QString("1"));
    mp_data->GetType("flag")->GetGlobalNullItem();
    mp_data->RemoveDisconnectedItems();
    QTRY_COMPARE(TypeRow("flag")->text(2), QString("0"));
}

void TestDataDialog::removedItemLeavesEveryNodeOnce()
{
    ClickType("person");
    ClickItem("alice");
    QTreeWidgetItem* root = Tree()->topLevelItem(0);
    // rex, and rex again below bob below rex: one node inside the other's subtree.
    QTreeWidgetItem* rex = Child(root, "[pet] rex");
    Open(rex);
    QTreeWidgetItem* bob = Child(rex, "[person] bob");
    Open(bob);
    QTreeWidgetItem* innerRex = Child(bob, "[pet] rex");
    Open(innerRex);
    QVERIFY(Child(innerRex, "[person] bob"));

    Pet("rex").Remove();
    QCOMPARE(Sorted(Children(root)), QStringList({"[flag, null]", "[pet] tom"}));
    // Bob's nodes went with rex's subtree and are forgotten: his removal touches none of them.
    Open(Child(root, "[pet] tom"));
    Person("bob").Remove();
    QCOMPARE(Sorted(Children(root)), QStringList({"[flag, null]", "[pet] tom"}));
    QCOMPARE(Children(Child(root, "[pet] tom")), QStringList{"[person] alice"});
}

void TestDataDialog::burstOfRemovalsKeepsTheRest()
{
    QStringList kept;
    for (int k = 0; k < 200; ++k) {
        const QString name = QString("pet %1").arg((k * 37) % 200, 3, 10, QChar('0'));
        Pet(qPrintable(name));
        if (k % 50 == 0)
            kept << name;
    }
    ClickType("pet");
    QCOMPARE(Items()->count(), 202);
    for (const QString& name : ListTexts())
        if (!kept.contains(name))
            mp_data->GetType("pet")->HasItem(Value(name)).Remove();
    // Until the rows go, a click on one of a removed item does nothing.
    ClickItem("pet 001");
    QCOMPARE(Tree()->topLevelItemCount(), 0);

    kept.sort();
    QTRY_COMPARE(ListTexts(), kept);
    QCOMPARE(TypeRow("pet")->text(2), QString::number(kept.size()));
    ClickItem(kept.last());
    QCOMPARE(Tree()->topLevelItem(0)->text(0), kept.last());
    Pet("pet 500");
    QCOMPARE(ListTexts(), kept << "pet 500");
}

void TestDataDialog::typeDeclaredLaterGetsItsRow()
{
    Type* zebra = mp_data->NewType("zebra", PrimacyRoot, false, true);
    Type* aardvark = mp_data->NewType("aardvark", PrimacyRoot, true, true);
    zebra->GetItem(Value("stripes"));
    aardvark->NewItem();
    QCOMPARE(Types()->topLevelItemCount(), 6);
    QCOMPARE(Row(Types()->topLevelItem(0)), QStringList({"aardvark", "null   ", "1"}));
    QCOMPARE(Row(Types()->topLevelItem(5)), QStringList({"zebra", "value   ", "1"}));

    ClickType("zebra");
    QCOMPARE(ListTexts(), QStringList{"stripes"});
    zebra->HasItem(Value("stripes")).Remove();
    QTRY_COMPARE(Row(Types()->topLevelItem(5)), QStringList({"zebra", "value   ", "0"}));
    QTRY_COMPARE(Items()->count(), 0);
}

QTEST_MAIN(TestDataDialog)
#include "tst_datadialog.moc"
