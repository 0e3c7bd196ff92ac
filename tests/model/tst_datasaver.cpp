#include "model/datasaver.h"
#include "model/diagnosticsform.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QtTest>

#include <memory>

namespace {

class Listener : public DataLoadedEventHandler
{
public:
    void DataLoaded() override { ++calls; }
    int calls = 0;
};

// The item graph of most cases: alpha items link to beta items, flags and other items;
// "other" is never saved.
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
    }
    void SaveAll(DataSaver& saver)
    {
        saver.AddSavedType("beta");
        saver.AddSavedType("alpha");
        saver.AddSavedType("flag");
    }

    Data data;
    Type* alpha;
    Type* beta;
    Type* flag;
    Type* other;
};

// Settings-like graph: a key has one value; values are saved when a saved key holds them.
struct Settings
{
    Settings()
    {
        global = data.NewType("global", PrimacyRoot, false, true);
        vglobal = data.NewType("vglobal", PrimacyRoot, false, true);
        value = data.NewType("global_value", PrimacyLeaf, false, true);
        global->RelateToType(value, Many, One, false);
        vglobal->RelateToType(value, Many, One, false);
    }
    Data data;
    Type* global;
    Type* vglobal;
    Type* value;
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
                const ItemSet* ns = item->Neighbours(r.first);
                if (!ns)
                    continue;
                for (const ItemPtr& n : *ns) {
                    const QString them =
                        QString::fromStdString(r.first->Name() + ":" + n->GetValue().str());
                    if (self < them)
                        out << self + "-" + them;
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
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
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

}  // namespace

class TestDataSaver : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void layout();
    void savedByConnection();
    void roundTrip();
    void nulInValue();
    void loadOverridesDefaults();
    void toleratedOddities_data();
    void toleratedOddities();
    void missingFile();
    void damagedFile_data();
    void damagedFile();
    void truncatedFiles();
    void takenTemporaryName();
    void failedSaveKeepsOldFile();
    void fieldFunctions();

private:
    QString LogText() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DiagnosticsForm> m_log;
    QString m_path;
};

void TestDataSaver::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
}

void TestDataSaver::init()
{
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    m_path = m_dir->filePath(".Tavrinel");
    m_log.reset(new DiagnosticsForm);
}

void TestDataSaver::cleanup()
{
    m_log.reset();
    m_dir.reset();
}

QString TestDataSaver::LogText() const
{
    QTextBrowser* view = m_log->LogView(QStringLiteral("Configuration Data"));
    return view ? view->toPlainText() : QString();
}

void TestDataSaver::layout()
{
    Graph g;
    // An empty registry writes two zero counts.
    {
        DataSaver empty(&g.data, m_path);
        QCOMPARE(dataSaver, &empty);
        QVERIFY(empty.Save());
        QCOMPARE(ReadFile(m_path), QByteArray(8, '\0'));
    }
    // Created out of order: blocks go by type name, items by value.
    ItemPtr p = g.beta->NewItem("p");
    ItemPtr y = g.alpha->NewItem("y");
    ItemPtr x = g.alpha->NewItem("x");
    ItemPtr f = g.flag->NewItem();
    ItemPtr o = g.other->NewItem("o");
    y += p;
    x += p;
    y += f;
    x += o;  // "other" is not saved: neither the item nor the link

    DataSaver saver(&g.data, m_path);
    g.SaveAll(saver);
    QVERIFY(saver.Save());
    QCOMPARE(ReadFile(m_path), kLayout);

    // A type registered both ways is written once, with all its items.
    saver.AddSavedByConnectionType("beta", "alpha");
    QVERIFY(saver.Save());
    QCOMPARE(ReadFile(m_path), kLayout);
}

void TestDataSaver::savedByConnection()
{
    Settings s;
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

    // One other type only: v2 is not selected.
    DataSaver narrow(&s.data, m_path);
    narrow.AddSavedType("global");
    narrow.AddSavedByConnectionType("global_value", "global");
    QVERIFY(narrow.Save());
    QCOMPARE(ReadFile(m_path), QByteArray::fromHex("02000000"
                                                   "06000000 676c6f62616c 00 01000000 01000000 02000000 6b31"
                                                   "0c000000 676c6f62616c5f76616c7565 00 01000000"
                                                   "  02000000 02000000 7631"
                                                   "01000000 01000000 02000000"));
}

void TestDataSaver::roundTrip()
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
    {
        DataSaver saver(&a.data, m_path);
        a.SaveAll(saver);
        QVERIFY(saver.Save());
    }

    Graph b;
    Listener one, two;
    DataSaver loader(&b.data, m_path);
    loader.AddDataLoadedEventHandler(&one);
    loader.AddDataLoadedEventHandler(&two);
    loader.AddDataLoadedEventHandler(&one);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
    QCOMPARE(one.calls, 1);
    QCOMPARE(two.calls, 1);
    QCOMPARE(Describe(b.data), QStringList({"alpha:x", "alpha:x-beta:p", "alpha:x-flag:", "alpha:y",
                                             "alpha:y-beta:p", "alpha:y-flag:", "beta:p", "flag:", "flag:"}));
    // Two separate flag items came back, one per alpha item.
    QCOMPARE(b.flag->ItemCount(), size_t(2));
    ItemPtr bx = b.alpha->HasItem("x");
    ItemPtr by = b.alpha->HasItem("y");
    QVERIFY(*bx->Neighbours(b.flag) != *by->Neighbours(b.flag));

    // Saving the loaded graph gives the same file again (the two flags may swap ids: null items
    // are written in identity order).
    const QByteArray first = ReadFile(m_path);
    b.SaveAll(loader);
    QVERIFY(loader.Save());
    const QByteArray second = ReadFile(m_path);
    QCOMPARE(second.size(), first.size());
    QCOMPARE(second.left(60), first.left(60));
}

void TestDataSaver::nulInValue()
{
    Graph a;
    a.alpha->NewItem(Value(std::string("a\0b", 3)));
    DataSaver saver(&a.data, m_path);
    saver.AddSavedType("alpha");
    QVERIFY(saver.Save());
    QCOMPARE(ReadFile(m_path), QByteArray::fromHex("01000000 05000000 616c706861 00 01000000"
                                                   "01000000 03000000 610062 00000000"));
    Graph b;
    DataSaver loader(&b.data, m_path);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
    QCOMPARE(Describe(b.data), QStringList({"alpha:a"}));
}

void TestDataSaver::loadOverridesDefaults()
{
    Settings a;
    a.global->NewItem("port") += a.value->NewItem("2240");
    {
        DataSaver saver(&a.data, m_path);
        saver.AddSavedType("global");
        saver.AddSavedByConnectionType("global_value", "global");
        QVERIFY(saver.Save());
    }
    // Defaults written before the load: the saved value replaces the one-valued link; the key
    // item is the same one.
    Settings b;
    ItemPtr port = b.global->NewItem("port");
    port += b.value->NewItem("2235");
    b.global->NewItem("other") += b.value->NewItem("yes");
    DataSaver loader(&b.data, m_path);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
    QCOMPARE(b.global->HasItem("port"), port);
    QCOMPARE(Describe(b.data), QStringList({"global:other", "global:other-global_value:yes", "global:port",
                                             "global:port-global_value:2240", "global_value:2235",
                                             "global_value:2240", "global_value:yes"}));
}

void TestDataSaver::toleratedOddities_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<bool>("related");
    QTest::addColumn<QStringList>("loaded");
    QTest::addColumn<QString>("logged");
    QTest::newRow("unknown type") << QByteArray::fromHex("02000000"
                                                         "05000000 67686f7374 00 01000000 01000000 01000000 67"
                                                         "05000000 616c706861 00 01000000 02000000 01000000 78"
                                                         "01000000 01000000 02000000")
                                  << true << QStringList{"alpha:x"} << "ghost";
    QTest::newRow("link the schema no longer relates")
        << QByteArray::fromHex("02000000"
                               "05000000 616c706861 00 01000000 01000000 01000000 78"
                               "04000000 62657461 00 01000000 02000000 01000000 70"
                               "01000000 01000000 02000000")
        << false << QStringList{"alpha:x", "beta:p"} << "no longer related";
    // Id 1 twice: the later record wins.
    QTest::newRow("repeated id") << QByteArray::fromHex("02000000"
                                                        "05000000 616c706861 00 01000000 01000000 01000000 78"
                                                        "04000000 62657461 00 01000000 01000000 01000000 70"
                                                        "00000000")
                                 << true << QStringList{"beta:p"} << QString();
    // A link given both ways, one to an id nobody has; bytes after the links are not read.
    QTest::newRow("repeated and dangling links")
        << QByteArray::fromHex("02000000"
                               "05000000 616c706861 00 02000000 01000000 01000000 78 02000000 01000000 79"
                               "04000000 62657461 00 01000000 03000000 01000000 70"
                               "03000000 03000000 01000000 01000000 03000000 02000000 07000000 deadbeef")
        << true << QStringList{"alpha:x", "alpha:x-beta:p", "alpha:y", "beta:p"} << QString();
}

void TestDataSaver::toleratedOddities()
{
    QFETCH(QByteArray, bytes);
    QFETCH(bool, related);
    QFETCH(QStringList, loaded);
    QFETCH(QString, logged);
    WriteFile(m_path, bytes);
    Graph b(related);
    Listener l;
    DataSaver loader(&b.data, m_path);
    loader.AddDataLoadedEventHandler(&l);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
    QCOMPARE(Describe(b.data), loaded);
    QCOMPARE(l.calls, 1);
    QVERIFY(QFile::exists(m_path));
    if (!logged.isEmpty())
        QVERIFY(LogText().contains(logged));
}

void TestDataSaver::missingFile()
{
    Graph b;
    b.alpha->NewItem("default");
    Listener l, gone;
    DataSaver loader(&b.data, m_path);
    loader.AddDataLoadedEventHandler(&l);
    loader.AddDataLoadedEventHandler(&gone);
    loader.RemoveDataLoadedEventHandler(&gone);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::NoFile);
    QCOMPARE(l.calls, 1);
    QCOMPARE(gone.calls, 0);
    QCOMPARE(Describe(b.data), QStringList({"alpha:default"}));
    DataSaver defaults(&b.data);
    QCOMPARE(defaults.Path(), QDir::homePath() + "/.Tavrinel");
}

void TestDataSaver::damagedFile_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("short count") << QByteArray::fromHex("010000");
    QTest::newRow("negative name length") << QByteArray::fromHex("01000000 ffffffff");
    QTest::newRow("name beyond the end") << QByteArray::fromHex("01000000 05000000 616c70");
    QTest::newRow("huge name length") << QByteArray::fromHex("01000000 ffffff7f 00");
    QTest::newRow("missing flag") << QByteArray::fromHex("01000000 05000000 616c706861");
    QTest::newRow("flag not 0 or 1") << QByteArray::fromHex("01000000 04000000 666c6167 02 00000000 00000000");
    QTest::newRow("null flag of a value type")
        << QByteArray::fromHex("01000000 05000000 616c706861 01 01000000 01000000 00000000");
    QTest::newRow("value flag of a null type")
        << QByteArray::fromHex("01000000 04000000 666c6167 00 01000000 01000000 01000000 61 00000000");
    QTest::newRow("negative value length")
        << QByteArray::fromHex("01000000 05000000 616c706861 00 01000000 01000000 feffffff 00000000");
    QTest::newRow("counts promise more")
        << QByteArray::fromHex("ffffff7f 05000000 616c706861 00 ffffff7f 01000000 01000000 78");
    QTest::newRow("no link count") << QByteArray::fromHex("00000000");
    QTest::newRow("half a link") << QByteArray::fromHex("00000000 01000000 01000000");
}

void TestDataSaver::damagedFile()
{
    QFETCH(QByteArray, bytes);
    WriteFile(m_path, bytes);
    Graph b;
    ItemPtr def = b.alpha->NewItem("default");
    def += b.flag->NewItem();
    const QStringList before = Describe(b.data);
    Listener l;
    DataSaver loader(&b.data, m_path);
    loader.AddDataLoadedEventHandler(&l);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Damaged);
    // Nothing created, nothing removed, and the listeners still hear that loading is over.
    QCOMPARE(Describe(b.data), before);
    QCOMPARE(l.calls, 1);
    // The evidence is kept aside where the next save cannot overwrite it.
    QVERIFY(!QFile::exists(m_path));
    QCOMPARE(ReadFile(m_path + ".damaged"), bytes);
    QVERIFY(LogText().contains("damaged"));
}

void TestDataSaver::truncatedFiles()
{
    Graph b;
    b.alpha->NewItem("default");
    const QStringList before = Describe(b.data);
    DataSaver loader(&b.data, m_path);
    for (int k = 0; k < kLayout.size(); ++k) {
        WriteFile(m_path, kLayout.left(k));
        QCOMPARE(loader.Load(), DataSaver::LoadResult::Damaged);
        QCOMPARE(Describe(b.data), before);
    }
    WriteFile(m_path, kLayout);
    QCOMPARE(loader.Load(), DataSaver::LoadResult::Loaded);
    QCOMPARE(b.alpha->ItemCount(), size_t(3));
}

void TestDataSaver::takenTemporaryName()
{
    // Left behind by someone else: not ours to touch.
    WriteFile(m_path + ".1", "junk");
    WriteFile(m_path, "old");
    Graph g;
    DataSaver saver(&g.data, m_path);
    QVERIFY(saver.Save());
    QCOMPARE(ReadFile(m_path), QByteArray(8, '\0'));
    QCOMPARE(ReadFile(m_path + ".1"), QByteArray("junk"));
    QVERIFY(!QFile::exists(m_path + ".2"));
    QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

void TestDataSaver::failedSaveKeepsOldFile()
{
    // The save path is a directory that cannot be replaced: the rename fails.
    QVERIFY(QDir(m_dir->path()).mkpath(".Tavrinel/inside"));
    Graph g;
    g.alpha->NewItem("x");
    DataSaver saver(&g.data, m_path);
    saver.AddSavedType("alpha");
    QVERIFY(!saver.Save());
    QVERIFY(QFileInfo(m_path).isDir());
    QVERIFY(QFileInfo::exists(m_path + "/inside"));
    // The partial temporary file is gone.
    QVERIFY(!QFile::exists(m_path + ".1"));
    QVERIFY(LogText().contains("Could not save"));

    // A folder that does not exist: nothing is created anywhere.
    DataSaver nowhere(&g.data, m_dir->filePath("missing/.Tavrinel"));
    QVERIFY(!nowhere.Save());
    QVERIFY(!QFileInfo::exists(m_dir->filePath("missing")));

    // After a good save the next one replaces the file whole.
    const QString good = m_dir->filePath("good");
    DataSaver ok(&g.data, good);
    QVERIFY(ok.Save());
    QCOMPARE(ReadFile(good), QByteArray(8, '\0'));
    ok.AddSavedType("alpha");
    QVERIFY(ok.Save());
    QCOMPARE(ReadFile(good), QByteArray::fromHex("01000000 05000000 616c706861 00 01000000 01000000"
                                                 "01000000 78 00000000"));
    QVERIFY(!QFile::exists(good + ".1"));
}

void TestDataSaver::fieldFunctions()
{
    QFile out(m_path);
    QVERIFY(out.open(QIODevice::WriteOnly));
    WriteType<bool>(out, true);
    WriteType<int>(out, -2);
    WriteString(out, std::string("ab\0c", 4));
    WriteString(out, std::string());
    out.close();
    QCOMPARE(ReadFile(m_path), QByteArray::fromHex("01 feffffff 04000000 61620063 00000000"));

    // Lengths that are negative or beyond the end of the file are refused before anything is
    // allocated from them.
    WriteFile(m_path, QByteArray::fromHex("feffffff 04000000 61620063 ffffffff 0000ff7f 00"));
    QFile in(m_path);
    QVERIFY(in.open(QIODevice::ReadOnly));
    int n = 0;
    std::string text = "old";
    ReadType<int>(in, n);
    QCOMPARE(n, -2);
    ReadString(in, text);
    QCOMPARE(text, std::string("ab"));
    for (int k = 0; k < 2; ++k) {
        bool failed = false;
        try {
            ReadString(in, text);
        } catch (const DataLoadFailure&) {
            failed = true;
        }
        QVERIFY(failed);
        QCOMPARE(text, std::string("ab"));
    }
    // A short read.
    bool failed = false;
    try {
        ReadType<int>(in, n);
    } catch (const DataLoadFailure&) {
        failed = true;
    }
    QVERIFY(failed);
}

QTEST_MAIN(TestDataSaver)
#include "tst_datasaver.moc"
