#include "model/datasaver.h"
#include "model/sizemanager.h"

#include <QHeaderView>
#include <QSplitter>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

class FakeWindow : public ResizableWindow
{
    Q_OBJECT

public:
    FakeWindow(int x, int y, int w, int h) : x(x), y(y), w(w), h(h) {}
    int GetX() override { return x; }
    int GetY() override { return y; }
    int GetWidth() override { return w; }
    int GetHeight() override { return h; }
    void SetPosition(int i_x, int i_y) override
    {
        x = i_x;
        y = i_y;
        ++applied;
    }
    void SetSize(int i_w, int i_h) override
    {
        w = i_w;
        h = i_h;
        ++applied;
    }
    void Move(int i_x, int i_y)
    {
        x = i_x;
        y = i_y;
        emit WindowMoved(i_x, i_y);
    }
    void Resize(int i_w, int i_h)
    {
        w = i_w;
        h = i_h;
        emit WindowResized(i_w, i_h);
    }
    int x, y, w, h;
    int applied = 0;
};

// Lets the test move a handle as the user's drag does.
class DraggableSplitter : public QSplitter
{
public:
    DraggableSplitter()
    {
        addWidget(new QWidget);
        addWidget(new QWidget);
        resize(400, 100);
    }
    void Drag(int pos, int index) { moveSplitter(pos, index); }
};

class TestSizeManager : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<DataSaver> m_saver;
    std::unique_ptr<SizeManager> m_sizes;

    static std::unique_ptr<QTreeWidget> Tree(QList<int> widths, bool stretchLast = false)
    {
        auto tree = std::make_unique<QTreeWidget>();
        tree->setColumnCount(widths.size());
        tree->header()->setStretchLastSection(stretchLast);
        for (int c = 0; c < widths.size(); ++c)
            tree->header()->resizeSection(c, widths[c]);
        return tree;
    }
    static QList<int> Widths(QTreeWidget* tree, int count)
    {
        QList<int> widths;
        for (int c = 0; c < count; ++c)
            widths << tree->header()->sectionSize(c);
        return widths;
    }
    // The stored widths of a key: column number -> width.
    static QMap<int, int> Stored(const char* keyType, const char* entryType, const char* numberType, QString key)
    {
        QMap<int, int> stored;
        ItemPtr keyItem = d.GetType(keyType)->HasItem(Value(key));
        for (ItemPtr entry : keyItem.GetItems(entryType)) {
            const int n = entry[numberType].AsInt();
            if (stored.contains(n))
                stored[n] = -1;  // two entries for one column: never expected
            else
                stored[n] = entry["sizer_size"].AsInt();
        }
        return stored;
    }
    static QMap<int, int> StoredTree(QString key)
    {
        return Stored("sizer_tree", "sizer_tree_column", "sizer_tree_column_number", key);
    }
    void SaveAndReload()
    {
        QVERIFY(m_saver->Save(m_dir->filePath("state")));
        d.RemoveAllItems();
        QCOMPARE(m_saver->Load(m_dir->filePath("state")), DataSaver::LoadResult::Loaded);
    }

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    void init()
    {
        d.RemoveAllItems();
        m_dir = std::make_unique<QTemporaryDir>();
        m_saver = std::make_unique<DataSaver>(&d, m_dir->filePath("state"));
        m_sizes = std::make_unique<SizeManager>();
        QCOMPARE(sizeManager, m_sizes.get());
    }

    void cleanup()
    {
        m_sizes.reset();
        m_saver.reset();
        m_dir.reset();
        QVERIFY(!sizeManager);
    }

    void storedWidthsComeBackAfterSaveAndLoad()
    {
        {
            // First registration: recorded, nothing changed on screen.
            auto tree = Tree({120, 80, 50});
            m_sizes->RegisterTreeWidget("search_results", tree.get());
            QCOMPARE(Widths(tree.get(), 3), QList<int>({120, 80, 50}));
            QCOMPARE(StoredTree("search_results"), (QMap<int, int>{{0, 120}, {1, 80}, {2, 50}}));
            tree->header()->resizeSection(1, 140);
            QCOMPARE(StoredTree("search_results"), (QMap<int, int>{{0, 120}, {1, 140}, {2, 50}}));
            // The old width has no user left.
            QVERIFY(!d.GetType("sizer_size")->HasItem(Value(80)));
        }
        // The tree is gone; its key stays. Widget items are never saved.
        QCOMPARE(d.GetType("sizer_tree_widget")->ItemCount(), size_t(0));
        QVERIFY(!m_saver->SavedTypes().count(d.GetType("sizer_tree_widget")));
        SaveAndReload();

        auto reopened = Tree({100, 100, 100, 100});
        m_sizes->RegisterTreeWidget("search_results", reopened.get());
        QCOMPARE(Widths(reopened.get(), 4), QList<int>({120, 140, 50, 100}));
        // A column the key did not have is recorded at its first resize, with all the others.
        reopened->header()->resizeSection(0, 90);
        QCOMPARE(StoredTree("search_results"), (QMap<int, int>{{0, 90}, {1, 140}, {2, 50}, {3, 100}}));
    }

    void twoTreesUnderOneKeyStayInStep()
    {
        auto first = Tree({120, 80, 50});
        auto second = Tree({10, 10, 10});
        m_sizes->RegisterTreeWidget("room_user_list", first.get());
        m_sizes->RegisterTreeWidget("room_user_list", second.get());
        QCOMPARE(Widths(second.get(), 3), QList<int>({120, 80, 50}));

        second->header()->resizeSection(1, 200);
        QCOMPARE(Widths(first.get(), 3), QList<int>({120, 200, 50}));
        first->header()->resizeSection(2, 70);
        QCOMPARE(Widths(second.get(), 3), QList<int>({120, 200, 70}));
        // Recorded once per column.
        QCOMPARE(StoredTree("room_user_list"), (QMap<int, int>{{0, 120}, {1, 200}, {2, 70}}));
        QCOMPARE(d.GetType("sizer_tree")->HasItem(Value("room_user_list")).GetItems("sizer_tree_column").size(),
                 size_t(3));

        // Closing one tab takes only its own widget item away.
        second.reset();
        QCOMPARE(d.GetType("sizer_tree")->HasItem(Value("room_user_list")).GetItems("sizer_tree_widget").size(),
                 size_t(1));
        first->header()->resizeSection(0, 60);
        QCOMPARE(StoredTree("room_user_list"), (QMap<int, int>{{0, 60}, {1, 200}, {2, 70}}));
    }

    void stretchedLastColumnIsSkipped()
    {
        auto stretched = Tree({120, 80, 50}, true);
        m_sizes->RegisterTreeWidget("user_list", stretched.get());
        QCOMPARE(StoredTree("user_list"), (QMap<int, int>{{0, 120}, {1, 80}}));
        stretched->header()->resizeSection(0, 130);
        QCOMPARE(StoredTree("user_list"), (QMap<int, int>{{0, 130}, {1, 80}}));

        // A key stored from a tree without stretching does not size the stretched column.
        auto plain = Tree({40, 40, 40});
        m_sizes->RegisterTreeWidget("upload_list", plain.get());
        auto other = Tree({100, 100, 100}, true);
        const int lastBefore = other->header()->sectionSize(2);
        m_sizes->RegisterTreeWidget("upload_list", other.get());
        QCOMPARE(other->header()->sectionSize(0), 40);
        QCOMPARE(other->header()->sectionSize(1), 40);
        QCOMPARE(other->header()->sectionSize(2), lastBefore);
    }

    void windowGeometry()
    {
        FakeWindow window(100, 50, 800, 600);
        FakeWindow neighbour(100, 0, 10, 10);
        m_sizes->RegisterResizableWindow("main_window", &window);
        m_sizes->RegisterResizableWindow("other_window", &neighbour);
        QCOMPARE(window.applied, 0);
        ItemPtr key = d.GetType("sizer_window")->HasItem(Value("main_window"));
        QCOMPARE(key["sizer_x"].AsInt(), 100);
        QCOMPARE(key["sizer_height"].AsInt(), 600);

        window.Move(200, 60);
        window.Resize(1024, 700);
        QCOMPARE(key["sizer_x"].AsInt(), 200);
        QCOMPARE(key["sizer_y"].AsInt(), 60);
        QCOMPARE(key["sizer_width"].AsInt(), 1024);
        QCOMPARE(key["sizer_height"].AsInt(), 700);
        // x 100 is still the neighbour's; 50, 800 and 600 have nobody left.
        QVERIFY(d.GetType("sizer_x")->HasItem(Value(100)));
        QVERIFY(!d.GetType("sizer_y")->HasItem(Value(50)));
        QVERIFY(!d.GetType("sizer_width")->HasItem(Value(800)));
        QVERIFY(!d.GetType("sizer_height")->HasItem(Value(600)));
        neighbour.Move(300, 0);
        QVERIFY(!d.GetType("sizer_x")->HasItem(Value(100)));

        SaveAndReload();
        FakeWindow reopened(0, 0, 1, 1);
        m_sizes->RegisterResizableWindow("main_window", &reopened);
        QCOMPARE(reopened.x, 200);
        QCOMPARE(reopened.y, 60);
        QCOMPARE(reopened.w, 1024);
        QCOMPARE(reopened.h, 700);
    }

    void splitterPanes()
    {
        DraggableSplitter splitter;
        splitter.show();
        const QList<int> shown = splitter.sizes();
        m_sizes->RegisterSplitter("wish_list_splitter", &splitter, {100, 250});
        // The defaults are recorded, not applied.
        QCOMPARE(splitter.sizes(), shown);
        QCOMPARE(Stored("sizer_splitter", "sizer_splitter_index", "sizer_splitter_index_number", "wish_list_splitter"),
                 (QMap<int, int>{{0, 100}, {1, 250}}));

        DraggableSplitter sibling;
        sibling.show();
        m_sizes->RegisterSplitter("wish_list_splitter", &sibling, {});
        splitter.Drag(150, 1);
        const QList<int> dragged = splitter.sizes();
        QCOMPARE(sibling.sizes(), dragged);
        QCOMPARE(Stored("sizer_splitter", "sizer_splitter_index", "sizer_splitter_index_number", "wish_list_splitter"),
                 (QMap<int, int>{{0, dragged[0]}, {1, dragged[1]}}));

        SaveAndReload();
        DraggableSplitter reopened;
        reopened.show();
        m_sizes->RegisterSplitter("wish_list_splitter", &reopened, {1, 1});
        QCOMPARE(reopened.sizes(), dragged);

        // An empty default list records the present sizes.
        DraggableSplitter rooms;
        rooms.show();
        m_sizes->RegisterSplitter("room_list_splitter", &rooms, {});
        const QList<int> present = rooms.sizes();
        QCOMPARE(Stored("sizer_splitter", "sizer_splitter_index", "sizer_splitter_index_number", "room_list_splitter"),
                 (QMap<int, int>{{0, present[0]}, {1, present[1]}}));
    }
};

QTEST_MAIN(TestSizeManager)
#include "tst_sizemanager.moc"
