// The log of a user: what Log records on the user's item, how much of it is kept, and the
// window that shows it, tab by tab, growing while it is open.
#include "model/helpers.h"
#include "model/itemlog.h"
#include "model/log.h"
#include "ui/transfers/itemlogdialog.h"

#include <QTabWidget>
#include <QTextBrowser>
#include <QtTest>

namespace {

ItemPtr User(const char* name) { return d.GetType("user")->GetItem(Value(name)); }

// An entry as the recorder makes it; without an order when `order` is negative.
ItemPtr Entry(ItemPtr user, int order, const char* area, int level, const QString& text)
{
    ItemPtr entry = d.GetType("item_log")->NewItem();
    if (order >= 0)
        entry += d.GetType("log_order")->GetItem(Value(order));
    entry += d.GetType("log_time")->GetItem(Value("Mon May 4 10:00:00 2026"));
    entry += d.GetType("log_area")->GetItem(Value(area));
    entry += d.GetType("log_level")->GetItem(Value(level));
    entry += d.GetType("log_text")->GetItem(Value(text));
    entry += user;
    return entry;
}

QStringList Lines(QTabWidget* tabs, const QString& area)
{
    for (int k = 0; k < tabs->count(); ++k)
        if (tabs->tabText(k) == area)
            return qobject_cast<QTextBrowser*>(tabs->widget(k))->toPlainText().split('\n');
    return {QString("<no tab %1>").arg(area)};
}

QStringList TabTexts(QTabWidget* tabs)
{
    QStringList texts;
    for (int k = 0; k < tabs->count(); ++k)
        texts << tabs->tabText(k);
    return texts;
}

}  // namespace

class TestItemLogDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void showsEntriesByOrderAndArea();
    void entriesArrivingWhileOpen();
    void logRecordsOnUsersOnly();
    void keepsTheLastEntriesOfAUser();
    void fullLogWhoseEntriesGoElsewhere();

private:
    QTabWidget* Open(ItemPtr user)
    {
        auto* dialog = new ItemLogDialog(user);
        dialog->show();
        m_dialog = dialog;
        return dialog->findChild<QTabWidget*>("logTabWidget");
    }

    QPointer<ItemLogDialog> m_dialog;
};

void TestItemLogDialog::initTestCase()
{
    d.NewType("user", PrimacyRoot, false, true);
    DeclareItemLogTypes();
    DeclareItemLogTypes();
}

void TestItemLogDialog::showsEntriesByOrderAndArea()
{
    ItemPtr ann = User("ann");
    Entry(ann, 10, "Transfer Queue", 1, "ten");
    Entry(ann, 9, "Transfer Queue", 2, "nine");
    Entry(ann, 100, "All", 1, "hundred");
    Entry(ann, -1, "Transfer Queue", 1, "unordered");
    // Peer names are text, never markup.
    Entry(ann, 101, "Peer", 3, "<b>bob</b> <img src=\"x.png\">");
    Entry(User("bob"), 1, "Other", 1, "not ann's");

    QTabWidget* tabs = Open(ann);
    QCOMPARE(m_dialog->windowTitle(), QString("Item Log"));
    QCOMPARE(TabTexts(tabs), (QStringList{"All", "Transfer Queue", "Peer"}));
    const QString at = "[Mon May 4 10:00:00 2026] ";
    QCOMPARE(Lines(tabs, "All"), (QStringList{at + "   nine", at + "ten", at + "hundred", at + "hundred",
                                              at + "      <b>bob</b> <img src=\"x.png\">"}));
    QCOMPARE(Lines(tabs, "Transfer Queue"), (QStringList{at + "   nine", at + "ten"}));
    QCOMPARE(Lines(tabs, "Peer"), QStringList{at + "      <b>bob</b> <img src=\"x.png\">"});
    delete m_dialog;
}

void TestItemLogDialog::entriesArrivingWhileOpen()
{
    ItemPtr cy = User("cy");
    Entry(cy, 1, "Transfer Queue", 1, "first");
    QTabWidget* tabs = Open(cy);
    Entry(cy, -1, "Transfer Queue", 2, "late");
    Entry(User("dee"), 3, "Transfer Queue", 1, "someone else's");
    Log("Shared", 1, "logged", cy);
    QCOMPARE(TabTexts(tabs), (QStringList{"All", "Transfer Queue", "Shared"}));
    QCOMPARE(Lines(tabs, "Transfer Queue").size(), 2);
    QVERIFY(Lines(tabs, "Transfer Queue").last().endsWith("]    late"));
    QCOMPARE(Lines(tabs, "All").size(), 3);
    QVERIFY(Lines(tabs, "All").last().endsWith("] logged"));

    // Closing deletes the window and its subscription; entries go on arriving.
    m_dialog->close();
    QTRY_VERIFY(m_dialog.isNull());
    Log("Shared", 1, "after", cy);
    QCOMPARE(cy.GetItems("item_log").size(), size_t(4));
}

// Every Log call that names a user leaves an entry on it: time, area, level and the text as the
// diagnostics window gets it.
void TestItemLogDialog::logRecordsOnUsersOnly()
{
    ItemPtr eve = User("eve");
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    Log("Transfer Queue", 2, "Queueing x.mp3", eve);
    Log("Transfer Queue", 1, "no item");
    Log("Transfer Queue", 1, "not a user", d.GetType("log_area")->GetItem(Value("Transfer Queue")));
    Log("Peer Messenger", 1, QString(5000, 'n'), eve);
    const std::list<ItemPtr> entries = eve.GetItems("item_log").SortNumericBy("log_order", true);
    QCOMPARE(entries.size(), size_t(2));
    ItemPtr first = entries.front();
    QCOMPARE(first["log_area"].AsString(), QString("Transfer Queue"));
    QCOMPARE(first["log_level"].AsInt(), 2);
    QCOMPARE(first["log_text"].AsString(), QString("Queueing x.mp3"));
    const QDateTime at = StoredTimeFromText(first["log_time"].AsString());
    QVERIFY(at.isValid() && at >= before && at <= QDateTime::currentDateTime());
    QCOMPARE(entries.back()["log_text"].AsString(), QString(kMaxLogTextLength, 'n') + "... (4000 more characters)");
    QCOMPARE(g("item_log").size(), g("user").GetItems("item_log").size());
}

void TestItemLogDialog::keepsTheLastEntriesOfAUser()
{
    ItemPtr fay = User("fay");
    ItemPtr gus = User("gus");
    Log("Transfer Queue", 1, "gus", gus);
    for (int call = 1; call <= 600; ++call)
        Log("Transfer Queue", 1, QString("call %1").arg(call), fay);
    const std::list<ItemPtr> kept = fay.GetItems("item_log").SortNumericBy("log_order", true);
    QCOMPARE(kept.size(), size_t(kMaxItemLogEntries));
    QCOMPARE(kept.front()["log_text"].AsString(), QString("call 101"));
    QCOMPARE(kept.back()["log_text"].AsString(), QString("call 600"));
    QCOMPARE(gus.GetItems("item_log").size(), size_t(1));
    // A dropped entry takes its number with it; a collection keeps the entries of a user.
    for (const ItemPtr& order : g("log_order"))
        QVERIFY(!order.IsDisconnectedFromAll());
    d.RemoveDisconnectedItems();
    QCOMPARE(fay.GetItems("item_log").size(), size_t(kMaxItemLogEntries));

    QTabWidget* tabs = Open(fay);
    QCOMPARE(Lines(tabs, "All").size(), kMaxItemLogEntries);
    QVERIFY(Lines(tabs, "All").first().endsWith("] call 101"));
    delete m_dialog;
}

// Entries of a full log removed or made by something else: the log fills up again and the lowest
// number still goes first.
void TestItemLogDialog::fullLogWhoseEntriesGoElsewhere()
{
    ItemPtr hal = User("hal");
    for (int call = 1; call <= kMaxItemLogEntries + 1; ++call)
        Log("Transfer Queue", 1, QString("call %1").arg(call), hal);
    {
        Data::Scope scope(&d);
        for (ItemPtr entry : hal.GetItems("item_log"))
            if (QStringList{"call 2", "call 3", "call 250"}.contains(entry["log_text"].AsString()))
                entry.Remove();
    }
    Entry(hal, 1, "Transfer Queue", 1, "made elsewhere");
    for (int call = kMaxItemLogEntries + 2; call <= kMaxItemLogEntries + 5; ++call)
        Log("Transfer Queue", 1, QString("call %1").arg(call), hal);
    QStringList texts;
    for (const ItemPtr& entry : hal.GetItems("item_log").SortNumericBy("log_order", true))
        texts << entry["log_text"].AsString();
    QStringList expected;
    for (int call = 5; call <= kMaxItemLogEntries + 5; ++call)
        if (call != 250)
            expected << QString("call %1").arg(call);
    QCOMPARE(texts, expected);
}

QTEST_MAIN(TestItemLogDialog)
#include "tst_itemlogdialog.moc"
