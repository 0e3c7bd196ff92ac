#include "model/datasaver.h"
#include "model/diagnosticsform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <map>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace {

class Listener : public DataLoadedEventHandler
{
public:
    void DataLoaded() override { ++calls; }
    int calls = 0;
};

// Alpha items link to beta items, flags and other items; "other" is never saved. Like settings,
// a global key has one value, saved when a saved key holds it.
struct Graph
{
    explicit Graph(bool relateAlphaBeta = true)
    {
        alpha = data.NewType("alpha", PrimacyRoot, false, false);
        beta = data.NewType("beta", PrimacyRoot, false, false);
        flag = data.NewType("flag", PrimacyLeaf, true, false);
        other = data.NewType("other", PrimacyRoot, false, false);
        if (relateAlphaBeta)
            alpha->RelateToType(beta, Many, Many, false);
        alpha->RelateToType(flag, Many, Many, false);
        alpha->RelateToType(other, Many, Many, false);
        global = data.NewType("global", PrimacyRoot, false, true);
        vglobal = data.NewType("vglobal", PrimacyRoot, false, true);
        value = data.NewType("global_value", PrimacyLeaf, false, true);
        global->RelateToType(value, Many, One, false);
        vglobal->RelateToType(value, Many, One, false);
    }
    void SaveAll(DataSaver& saver)
    {
        for (const char* type : {"beta", "alpha", "flag"})
            saver.AddSavedType(type);
    }

    Data data;
    Type *alpha, *beta, *flag, *other, *global, *vglobal, *value;
};

// Every item as "type:value" and every link once as "type:value-type:value", sorted.
QStringList Describe(const Data& data)
{
    QStringList out;
    for (const auto& t : data.Types()) {
        for (Item* item : t.second->ItemsInOrder()) {
            const QString self = QString::fromStdString(t.first + ":" + item->GetValue().str());
            out << self;
            for (const auto& r : t.second->Relations()) {
                if (const ItemSet* ns = item->Neighbours(r.first)) {
                    for (const ItemPtr& n : *ns) {
                        const QString them = QString::fromStdString(r.first->Name() + ":" + n->GetValue().str());
                        if (self < them)
                            out << self + "-" + them;
                    }
                }
            }
        }
    }
    out.sort();
    return out;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), qint64(bytes.size()));
}

// The file the layout test builds from Graph: alpha x and y, beta p, one flag.
const QByteArray kLayout = QByteArray::fromHex(
    "03000000"
    "05000000 616c706861 00 02000000 01000000 01000000 78 02000000 01000000 79"
    "04000000 62657461 00 01000000 03000000 01000000 70"
    "04000000 666c6167 01 01000000 04000000"
    "03000000 01000000 03000000 02000000 03000000 02000000 04000000");

// Hears what the load does to the graph, as "added type:value" and "linked type:value type:value".
struct Recorder : DataHandler
{
    static QString Name(ItemPtr item)
    {
        return QString::fromStdString(item->GetType()->Name() + ":" + item->GetValue().str());
    }
    void OnAdded(ItemPtr item)
    {
        events << "added " + Name(item);
        // A handler that makes an item the file holds further on.
        if (makeQ && item.AsStdString() == "p")
            item->GetType()->NewItem("q");
    }
    void OnLinked(ConnectionInfo c) { events << "linked " + Name(c.item) + " " + Name(c.other); }
    void OnPair(ConnectionInfo& c) { events << "pair " + Name(c.item) + " " + Name(c.other); }

    QStringList events;
    bool makeQ = false;
};

}  // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DiagnosticsForm> m_log;
    QString m_path;

    QString LogText() const
    {
        QTextBrowser* view = m_log->LogView(QStringLiteral("Configuration Data"));
        return view ? view->toPlainText() : QString();
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init()
    {
        m_dir.reset(new QTemporaryDir);
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(".Tavrinel");
        m_log.reset(new DiagnosticsForm);
    }
    void cleanup() { m_log.reset(), m_dir.reset(); }

    void layout()
    {
        Graph g;
        // An empty registry writes two zero counts.
        {
            DataSaver empty(&g.data, m_path);
            QVERIFY(empty.Save());
            QCOMPARE(ReadFile(m_path), QByteArray(8, '\0'));
        }
        // Created out of order: blocks go by type name, items by value.
        ItemPtr p = g.beta->NewItem("p");
        ItemPtr y = g.alpha->NewItem("y");
        ItemPtr x = g.alpha->NewItem("x");
        y += p;
        x += p;
        y += g.flag->NewItem();
        x += g.other->NewItem("o");  // "other" is not saved: neither the item nor the link

        DataSaver saver(&g.data, m_path);
        g.SaveAll(saver);
        QVERIFY(saver.Save());
        QCOMPARE(ReadFile(m_path), kLayout);
    }

    void savedByConnection()
    {
        Graph s;
        s.global->NewItem("k1") += s.value->NewItem("v1");
        s.vglobal->NewItem("k2") += s.value->NewItem("v2");
        s.value->NewItem("v3");
        DataSaver saver(&s.data, m_path);
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        saver.AddSavedByConnectionType("global_value", "vglobal");
        QVERIFY(saver.Save());
        // v2 is kept through the second type; v3 is connected to nothing; the vglobal link is not
        // written because vglobal is not saved.
        QCOMPARE(ReadFile(m_path), QByteArray::fromHex("02000000"
                                                       "06000000 676c6f62616c 00 01000000 01000000 02000000 6b31"
                                                       "0c000000 676c6f62616c5f76616c7565 00 02000000"
                                                       "  02000000 02000000 7631 03000000 02000000 7632"
                                                       "01000000 01000000 02000000"));
    }

    void roundTrip()
    {
        Graph a;
        ItemPtr x = a.alpha->NewItem("x");
        ItemPtr y = a.alpha->NewItem("y");
        ItemPtr p = a.beta->NewItem("p");
        x += p;
        y += p;
        y += a.flag->NewItem();
        x += a.flag->NewItem();
        x += a.other->NewItem("o");
        a.global->NewItem("port") += a.value->NewItem("2240");
        {
            DataSaver saver(&a.data, m_path);
            a.SaveAll(saver);
            saver.AddSavedType("global");
            saver.AddSavedByConnectionType("global_value", "global");
            QVERIFY(saver.Save());
        }
        // Defaults written before the load: the saved value replaces the one-valued link; the key
        // item is the same one.
        Graph b;
        ItemPtr port = b.global->NewItem("port");
        port += b.value->NewItem("2235");
        b.global->NewItem("other") += b.value->NewItem("yes");
        Listener one, two;
        DataSaver loader(&b.data, m_path);
        loader.AddDataLoadedEventHandler(&one);
        loader.AddDataLoadedEventHandler(&two);
        loader.AddDataLoadedEventHandler(&one);
        QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
        QCOMPARE(one.calls, 1);
        QCOMPARE(two.calls, 1);
        QCOMPARE(b.global->HasItem("port"), port);
        QCOMPARE(Describe(b.data),
                 QStringList({"alpha:x", "alpha:x-beta:p", "alpha:x-flag:", "alpha:y", "alpha:y-beta:p",
                              "alpha:y-flag:", "beta:p", "flag:", "flag:", "global:other",
                              "global:other-global_value:yes", "global:port", "global:port-global_value:2240",
                              "global_value:2235", "global_value:2240", "global_value:yes"}));
        // Two separate flag items came back, one per alpha item.
        QVERIFY(*b.alpha->HasItem("x")->Neighbours(b.flag) != *b.alpha->HasItem("y")->Neighbours(b.flag));
    }

    // One item linked to more items than one array of its neighbours holds, made in shuffled
    // value order: ids follow the values, the links go out sorted, and the file loads into a graph
    // that writes the same bytes again.
    void manyLinksOfOneItem()
    {
        const int count = 1500;
        std::vector<int> order(count);
        for (int k = 0; k < count; ++k)
            order[size_t(k)] = k;
        std::shuffle(order.begin(), order.end(), std::mt19937(5));
        Graph a;
        ItemPtr hub = a.alpha->NewItem("hub");
        for (int k : order)
            hub += a.beta->NewItem(QString("b%1").arg(k, 4, 10, QChar('0')));
        {
            DataSaver saver(&a.data, m_path);
            a.SaveAll(saver);
            QVERIFY(saver.Save());
        }
        const auto putInt = [](QByteArray& out, qint32 v) {
            for (int b = 0; b < 4; ++b)
                out.append(char((quint32(v) >> (8 * b)) & 0xff));
        };
        QByteArray expected = QByteArray::fromHex("03000000 05000000 616c706861 00 01000000 01000000 03000000 687562"
                                                  "04000000 62657461 00");
        putInt(expected, count);
        for (int k = 0; k < count; ++k) {
            putInt(expected, k + 2);
            putInt(expected, 5);
            expected += QString("b%1").arg(k, 4, 10, QChar('0')).toLatin1();
        }
        expected += QByteArray::fromHex("04000000 666c6167 01 00000000");
        putInt(expected, count);
        for (int k = 0; k < count; ++k) {
            putInt(expected, 1);
            putInt(expected, k + 2);
        }
        const QByteArray written = ReadFile(m_path);
        QCOMPARE(written.size(), expected.size());
        QVERIFY(written == expected);

        Graph b;
        {
            DataSaver loader(&b.data, m_path);
            QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
        }
        QCOMPARE(b.alpha->HasItem("hub").GetItems("beta").size(), size_t(count));
        const QString again = m_dir->filePath("again");
        DataSaver saver(&b.data, again);
        b.SaveAll(saver);
        QVERIFY(saver.Save());
        QVERIFY(ReadFile(again) == expected);
    }

    // A value longer than the save's write buffer (a pasted note), then more links than that
    // buffer holds: the link count lands in front of the links, not inside the value.
    void longValueBeforeManyLinks()
    {
        const int count = 200000;
        std::string note(2 << 20, '\0');
        for (size_t k = 0; k < note.size(); ++k)
            note[k] = char('a' + k % 26);
        Graph a;
        ItemPtr big = a.alpha->NewItem(Value(note));
        for (int k = 0; k < count; ++k)
            big += a.flag->NewItem();
        {
            DataSaver saver(&a.data, m_path);
            a.SaveAll(saver);
            QVERIFY(saver.Save());
        }
        Graph b;
        DataSaver loader(&b.data, m_path);
        QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
        QCOMPARE(b.alpha->ItemCount(), size_t(1));
        ItemPtr loaded = b.alpha->HasItem(Value(note));
        QVERIFY(loaded);
        QVERIFY(loaded.AsStdString() == note);
        QCOMPARE(b.flag->ItemCount(), size_t(count));
        const NeighbourSet* flags = loaded->Links(b.flag);
        QVERIFY(flags);
        QCOMPARE(flags->size(), size_t(count));
        int linkedOnce = 0;
        for (const ItemPtr& f : *flags)
            linkedOnce += f->Links(b.alpha) && f->Links(b.alpha)->size() == 1;
        QCOMPARE(linkedOnce, count);
    }

    // Values of every shape (sharing long beginnings, prefixes of each other, bytes above 0x7f,
    // empty) made in shuffled order, each linked to a few others: the block lists them in byte
    // order, and the links are exactly the graph's, once each, in ascending order. After a load
    // the same bytes come out again, and the numbers the save keeps on items are cleared. Enough
    // values to be ordered two bytes at a time, and few enough for one byte at a time.
    void orderOfManyValues_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("oneHead");
        QTest::newRow("few") << 3000 << false;
        QTest::newRow("many") << 70000 << false;
        // Every value begins with the same eight bytes, as the paths of one shared folder do.
        QTest::newRow("one head") << 3000 << true;
    }
    void orderOfManyValues()
    {
        QFETCH(int, count);
        QFETCH(bool, oneHead);
        std::mt19937 random(9);
        std::set<std::string> values;
        if (!oneHead)
            values = {"", "a", "abcdefg", "abcdefgh", "abcdefgh\x01", "abcdefghi", "\xff", "\x80\x01"};
        const std::string stems[] = {"/home/user/music/", "x", "\xc3\xa9t\xc3\xa9", "zz"};
        while (values.size() < size_t(count)) {
            std::string v = stems[oneHead ? 0 : random() % 4];
            const int extra = int(random() % 12);
            for (int k = 0; k < extra; ++k)
                v += char(1 + random() % 255);
            values.insert(v);
        }
        std::vector<std::string> shuffled(values.begin(), values.end());
        std::shuffle(shuffled.begin(), shuffled.end(), random);
        Graph a;
        std::vector<ItemPtr> betas;
        for (int k = 0; k < 50; ++k)
            betas.push_back(a.beta->NewItem(QString("b%1").arg(k)));
        for (const std::string& v : shuffled) {
            ItemPtr item = a.alpha->NewItem(Value(v));
            for (unsigned n = random() % 4; n > 0; --n)
                item += betas[random() % betas.size()];
        }
        {
            DataSaver saver(&a.data, m_path);
            a.SaveAll(saver);
            QVERIFY(saver.Save());
        }
        const QByteArray written = ReadFile(m_path);
        size_t pos = 0;
        const auto getInt = [&written, &pos]() {
            qint32 v = 0;
            for (int b = 0; b < 4; ++b)
                v |= qint32(quint32(quint8(written.at(int(pos) + b))) << (8 * b));
            pos += 4;
            return v;
        };
        const auto getString = [&]() {
            const int n = getInt();
            const std::string s(written.constData() + pos, size_t(n));
            pos += size_t(n);
            return s;
        };
        QCOMPARE(getInt(), 3);
        QCOMPARE(getString(), std::string("alpha"));
        pos += 1;
        QCOMPARE(getInt(), int(values.size()));
        std::vector<ItemPtr> byId(1);
        std::vector<std::string> listed;
        for (size_t k = 0; k < values.size(); ++k) {
            QCOMPARE(getInt(), int(byId.size()));
            listed.push_back(getString());
            byId.push_back(a.alpha->HasItem(Value(listed.back())));
        }
        QVERIFY(listed == std::vector<std::string>(values.begin(), values.end()));
        QCOMPARE(getString(), std::string("beta"));
        pos += 1;
        QCOMPARE(getInt(), 50);
        std::map<Item*, int> ids;
        for (size_t k = 1; k < byId.size(); ++k)
            ids[byId[k].get()] = int(k);
        for (int k = 0; k < 50; ++k) {
            QCOMPARE(getInt(), int(byId.size()));
            byId.push_back(a.beta->HasItem(Value(getString())));
            ids[byId.back().get()] = int(byId.size()) - 1;
        }
        QCOMPARE(getString(), std::string("flag"));
        pos += 5;
        std::set<std::pair<int, int>> expected;
        for (size_t k = 1; k <= values.size(); ++k) {
            QCOMPARE(byId[k]->PassNumber(), 0);
            if (const NeighbourSet* ns = byId[k]->Links(a.beta))
                for (const ItemPtr& n : *ns)
                    expected.insert({int(k), ids.at(n.get())});
        }
        QCOMPARE(getInt(), int(expected.size()));
        for (const auto& link : expected) {
            QCOMPARE(getInt(), link.first);
            QCOMPARE(getInt(), link.second);
        }
        QCOMPARE(pos, size_t(written.size()));

        Graph b;
        {
            DataSaver loader(&b.data, m_path);
            QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
        }
        const QString again = m_dir->filePath("again");
        DataSaver saver(&b.data, again);
        b.SaveAll(saver);
        QVERIFY(saver.Save());
        QVERIFY(ReadFile(again) == written);
    }

    // Whoever listens hears the items made in the order of their ids and the links in ascending
    // order, each as it happens; a handler that makes an item the file holds further on gets
    // that item reused, not doubled. Nobody listening, the graph ends the same.
    void eventsDuringLoad()
    {
        WriteFile(m_path, QByteArray::fromHex(
                              "03000000"
                              "05000000 616c706861 00 02000000 01000000 01000000 78 02000000 01000000 79"
                              "04000000 62657461 00 02000000 03000000 01000000 70 04000000 01000000 71"
                              "04000000 666c6167 01 01000000 05000000"
                              "03000000 01000000 03000000 02000000 03000000 02000000 05000000"));
        const QStringList items{"added alpha:x", "added alpha:y", "added beta:p", "added beta:q", "added flag:"};
        const QStringList links{"linked alpha:x beta:p", "linked alpha:y beta:p", "linked alpha:y flag:"};
        QStringList quiet;
        for (int listening = 0; listening < 5; ++listening) {
            Graph b;
            Recorder r;
            if (listening == 1) {
                AddHandler(b.data.itemAdded, &r, &Recorder::OnAdded);
                AddHandler(b.data.connected, &r, &Recorder::OnLinked);
            } else if (listening == 2) {
                auto* h = new EventHandler<Recorder, ConnectionInfo&>(&r, &Recorder::OnPair);
                r.AddDataHandler(h);
                b.data.AddConnectionEventHandler(b.beta, b.alpha, h);
            } else if (listening == 3) {
                r.makeQ = true;
                AddHandler(b.beta->itemAdded, &r, &Recorder::OnAdded);
            } else if (listening == 4) {
                AddHandler(b.alpha->connected, &r, &Recorder::OnLinked);
            }
            DataSaver loader(&b.data, m_path);
            QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
            if (listening == 0)
                quiet = Describe(b.data);
            else
                QCOMPARE(Describe(b.data), quiet);
            const QStringList expected[] = {{},
                                            items + links,
                                            {"pair beta:p alpha:x", "pair beta:p alpha:y"},
                                            {"added beta:p", "added beta:q"},
                                            links};
            QCOMPARE(r.events, expected[listening]);
        }
        QCOMPARE(quiet, QStringList({"alpha:x", "alpha:x-beta:p", "alpha:y", "alpha:y-beta:p", "alpha:y-flag:",
                                     "beta:p", "beta:q", "flag:"}));
    }

    // The loader's way of filling a type: items made in one go beside those already there are
    // all found by value afterwards, whether or not anyone listens.
    void newItemsUnique()
    {
        for (const bool listening : {false, true}) {
            Graph g;
            Recorder r;
            if (listening)
                AddHandler(g.alpha->itemAdded, &r, &Recorder::OnAdded);
            for (int k = 0; k < 20; ++k)
                g.alpha->NewItem(Value("old" + std::to_string(k)));
            std::vector<std::string> values;
            for (int k = 0; k < 1000; ++k)
                values.push_back("new" + std::to_string(k));
            const std::vector<std::string_view> views(values.begin(), values.end());
            std::vector<Item*> made;
            g.alpha->NewItemsUnique(views, made);
            QCOMPARE(made.size(), values.size());
            QCOMPARE(g.alpha->ItemCount(), size_t(1020));
            for (size_t k = 0; k < values.size(); ++k)
                QCOMPARE(g.alpha->HasItem(Value(values[k])).get(), made[k]);
            for (int k = 0; k < 20; ++k)
                QVERIFY(g.alpha->HasItem(Value("old" + std::to_string(k))));
            QCOMPARE(r.events.size(), listening ? 1020 : 0);
        }
    }

    // Damaged files leave the graph as it was; oddities a sound file may hold are tolerated.
    void load_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // null: no file
        QTest::addColumn<bool>("related");
        QTest::addColumn<int>("result");
        QTest::addColumn<QStringList>("loaded");
        QTest::addColumn<QString>("logged");
        const int loaded = int(DataSaver::LoadResult::Loaded), damaged = int(DataSaver::LoadResult::Damaged);
        const auto bad = [damaged](const char* name, const char* hex) {
            QTest::newRow(name) << QByteArray::fromHex(hex) << true << damaged << QStringList() << "damaged";
        };
        QTest::newRow("no file") << QByteArray() << true << int(DataSaver::LoadResult::NoFile) << QStringList()
                                 << QString();
        QTest::newRow("unknown type") << QByteArray::fromHex("02000000"
                                                             "05000000 67686f7374 00 01000000 01000000 01000000 67"
                                                             "05000000 616c706861 00 01000000 02000000 01000000 78"
                                                             "01000000 01000000 02000000")
                                      << true << loaded << QStringList{"alpha:x"} << "ghost";
        QTest::newRow("link the schema no longer relates")
            << QByteArray::fromHex("02000000"
                                   "05000000 616c706861 00 01000000 01000000 01000000 78"
                                   "04000000 62657461 00 01000000 02000000 01000000 70"
                                   "01000000 01000000 02000000")
            << false << loaded << QStringList{"alpha:x", "beta:p"} << "no longer related";
        // Ids out of order, repeated (the later record wins) and with gaps; links repeated, given
        // from either end and to a missing id.
        QTest::newRow("ids out of order") << QByteArray::fromHex(
            "02000000"
            "05000000 616c706861 00 03000000 09000000 01000000 78 03000000 01000000 79 09000000 01000000 7a"
            "04000000 62657461 00 01000000 05000000 01000000 70"
            "05000000 09000000 05000000 03000000 05000000 05000000 03000000 09000000 05000000 07000000 05000000")
                                          << true << loaded
                                          << QStringList{"alpha:y", "alpha:y-beta:p", "alpha:z", "alpha:z-beta:p",
                                                         "beta:p"}
                                          << QString();
        // Links are made in ascending order whatever their order in the file: the last one made
        // holds a key's only value.
        QTest::newRow("links out of order") << QByteArray::fromHex(
            "02000000"
            "06000000 676c6f62616c 00 01000000 01000000 04000000 706f7274"
            "0c000000 676c6f62616c5f76616c7565 00 02000000 02000000 01000000 61 03000000 01000000 62"
            "02000000 01000000 03000000 01000000 02000000")
                                            << true << loaded
                                            << QStringList{"global:port", "global:port-global_value:b",
                                                           "global_value:a", "global_value:b"}
                                            << QString();
        bad("negative name length", "01000000 ffffffff");
        bad("huge name length", "01000000 ffffff7f 00");
        bad("flag not 0 or 1", "01000000 04000000 666c6167 02 00000000 00000000");
        bad("null flag of a value type", "01000000 05000000 616c706861 01 01000000 01000000 00000000");
        bad("value flag of a null type", "01000000 04000000 666c6167 00 01000000 01000000 01000000 61 00000000");
        bad("negative value length", "01000000 05000000 616c706861 00 01000000 01000000 feffffff 00000000");
        bad("counts promise more", "ffffff7f 05000000 616c706861 00 ffffff7f 01000000 01000000 78");
        // Every cut of a good file, the empty file and a name running past the end included.
        for (int k = 0; k < kLayout.size(); ++k)
            QTest::addRow("first %d bytes", k) << kLayout.left(k) << true << damaged << QStringList() << "damaged";
    }

    void load()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, related);
        QFETCH(int, result);
        QFETCH(QStringList, loaded);
        QFETCH(QString, logged);
        if (!bytes.isNull())
            WriteFile(m_path, bytes);
        Graph b(related);
        b.alpha->NewItem("default") += b.flag->NewItem();
        QStringList expected = Describe(b.data) + loaded;
        expected.sort();
        Listener l, gone;
        DataSaver loader(&b.data, m_path);
        loader.AddDataLoadedEventHandler(&l);
        loader.AddDataLoadedEventHandler(&gone);
        loader.RemoveDataLoadedEventHandler(&gone);
        QCOMPARE(int(loader.Load()), result);
        QCOMPARE(Describe(b.data), expected);
        // Whatever the outcome, the listeners hear that loading is over.
        QCOMPARE(l.calls, 1);
        QCOMPARE(gone.calls, 0);
        QVERIFY(logged.isEmpty() || LogText().contains(logged));
        // A damaged file is kept aside where the next save cannot overwrite it.
        const bool damaged = result == int(DataSaver::LoadResult::Damaged);
        QCOMPARE(QFile::exists(m_path), !bytes.isNull() && !damaged);
        QCOMPARE(ReadFile(m_path + ".damaged"), damaged ? bytes : QByteArray());
    }

    void replacingTheFile()
    {
        QCOMPARE(DataSaver(nullptr).Path(), QDir::homePath() + "/.Tavrinel");
        // Saves killed midway left their numbered files; only those of this file's name go.
        const QStringList kept{".Tavrinel.", ".Tavrinel.1x", ".Tavrinel.damaged", "other.3"};
        for (const QString& name : kept + QStringList{".Tavrinel", ".Tavrinel.1", ".Tavrinel.2", ".Tavrinel.17"})
            WriteFile(m_dir->filePath(name), "partial");
        Graph g;
        g.alpha->NewItem("x");
        DataSaver saver(&g.data, m_path);
        saver.AddSavedType("alpha");
        QVERIFY(saver.Save());
        QCOMPARE(ReadFile(m_path), QByteArray::fromHex("01000000 05000000 616c706861 00 01000000 01000000"
                                                       "01000000 78 00000000"));
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden, QDir::Name),
                 QStringList{".Tavrinel"} + kept);

        // The save path is a directory that cannot be replaced: the rename fails, the old entry
        // stays and the partial temporary file is gone.
        const QString blocked = m_dir->filePath("blocked");
        QVERIFY(QDir(m_dir->path()).mkpath("blocked/inside"));
        DataSaver failing(&g.data, blocked);
        failing.AddSavedType("alpha");
        QVERIFY(!failing.Save());
        QVERIFY(QFileInfo::exists(blocked + "/inside"));
        QVERIFY(!QFile::exists(blocked + ".1"));
        QVERIFY(LogText().contains("Could not save"));
    }
};

QTEST_MAIN(TestDataSaver)
#include "tst_datasaver.moc"
