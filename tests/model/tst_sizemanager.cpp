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
    void SetPosition(int i_x, int i_y) override { x = i_x, y = i_y, ++applied; }
    void SetSize(int i_w, int i_h) override { w = i_w, h = i_h, ++applied; }
    void Move(int i_x, int i_y) { x = i_x, y = i_y, emit WindowMoved(i_x, i_y); }
    void Resize(int i_w, int i_h) { w = i_w, h = i_h, emit WindowResized(i_w, i_h); }
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
        show();
    }
    void Drag(int pos, int index) { moveSplitter(pos, index); }
};

class TestSizeManager : public QObject
{
    Q_OBJECT

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
    static QList<int> Widths(const std::unique_ptr<QTreeWidget>& tree)
    {
        QList<int> widths;
        for (int c = 0; c < tree->columnCount(); ++c)
            widths << tree->header()->sectionSize(c);
        return widths;
    }
    // The stored sizes of a key: column or pane number -> size.
    static QMap<int, int> Stored(QString key, bool splitter = false)
    {
        const std::string kind = splitter ? "sizer_splitter" : "sizer_tree";
        const std::string entryType = kind + (splitter ? "_index" : "_column");
        QMap<int, int> stored;
        for (ItemPtr entry : d.GetType(kind)->HasItem(Value(key)).GetItems(entryType.c_str())) {
            const int n = entry[(entryType + "_number").c_str()].AsInt();
            const int size = stored.contains(n) ? -1 : entry["sizer_size"].AsInt();  // -1: two entries for one
            stored[n] = size;
        }
        return stored;
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
            QCOMPARE(Widths(tree), QList<int>({120, 80, 50}));
            tree->header()->resizeSection(1, 140);
            QCOMPARE(Stored("search_results"), (QMap<int, int>{{0, 120}, {1, 140}, {2, 50}}));
            // The old width has no user left.
            QVERIFY(!d.GetType("sizer_size")->HasItem(Value(80)));
        }
        // The tree is gone; its key stays. Widget items are never saved.
        QCOMPARE(d.GetType("sizer_tree_widget")->ItemCount(), size_t(0));
        QVERIFY(!m_saver->SavedTypes().count(d.GetType("sizer_tree_widget")));
        SaveAndReload();

        auto reopened = Tree({100, 100, 100, 100});
        m_sizes->RegisterTreeWidget("search_results", reopened.get());
        QCOMPARE(Widths(reopened), QList<int>({120, 140, 50, 100}));
        // A column the key did not have is recorded at its first resize, with all the others.
        reopened->header()->resizeSection(0, 90);
        QCOMPARE(Stored("search_results"), (QMap<int, int>{{0, 90}, {1, 140}, {2, 50}, {3, 100}}));
    }

    void twoTreesUnderOneKeyStayInStep()
    {
        auto first = Tree({120, 80, 50});
        auto second = Tree({10, 10, 10});
        m_sizes->RegisterTreeWidget("room_user_list", first.get());
        m_sizes->RegisterTreeWidget("room_user_list", second.get());
        QCOMPARE(Widths(second), QList<int>({120, 80, 50}));
        second->header()->resizeSection(1, 200);
        QCOMPARE(Widths(first), QList<int>({120, 200, 50}));
        first->header()->resizeSection(2, 70);
        QCOMPARE(Widths(second), QList<int>({120, 200, 70}));
        // Recorded once per column.
        QCOMPARE(Stored("room_user_list"), (QMap<int, int>{{0, 120}, {1, 200}, {2, 70}}));

        // Closing one tab takes only its own widget item away.
        second.reset();
        QCOMPARE(d.GetType("sizer_tree")->HasItem(Value("room_user_list")).GetItems("sizer_tree_widget").size(),
                 size_t(1));
        first->header()->resizeSection(0, 60);
        QCOMPARE(Stored("room_user_list"), (QMap<int, int>{{0, 60}, {1, 200}, {2, 70}}));
    }

    void stretchedLastColumnIsSkipped()
    {
        auto stretched = Tree({120, 80, 50}, true);
        m_sizes->RegisterTreeWidget("user_list", stretched.get());
        stretched->header()->resizeSection(0, 130);
        QCOMPARE(Stored("user_list"), (QMap<int, int>{{0, 130}, {1, 80}}));

        // A key stored from a tree without stretching does not size the stretched column.
        auto plain = Tree({40, 40, 40});
        m_sizes->RegisterTreeWidget("upload_list", plain.get());
        auto other = Tree({100, 100, 100}, true);
        const int lastBefore = other->header()->sectionSize(2);
        m_sizes->RegisterTreeWidget("upload_list", other.get());
        QCOMPARE(Widths(other), QList<int>({40, 40, lastBefore}));
    }

    void windowGeometry()
    {
        FakeWindow window(100, 50, 800, 600);
        m_sizes->RegisterResizableWindow("main_window", &window);
        QCOMPARE(window.applied, 0);
        window.Move(200, 60);
        window.Resize(1024, 700);
        ItemPtr key = d.GetType("sizer_window")->HasItem(Value("main_window"));
        QCOMPARE(QList<int>({key["sizer_x"].AsInt(), key["sizer_y"].AsInt(), key["sizer_width"].AsInt(),
                             key["sizer_height"].AsInt()}),
                 QList<int>({200, 60, 1024, 700}));

        SaveAndReload();
        FakeWindow reopened(0, 0, 1, 1);
        m_sizes->RegisterResizableWindow("main_window", &reopened);
        QCOMPARE(QList<int>({reopened.x, reopened.y, reopened.w, reopened.h}), QList<int>({200, 60, 1024, 700}));
    }

    void splitterPanes()
    {
        DraggableSplitter splitter, sibling;
        const QList<int> shown = splitter.sizes();
        m_sizes->RegisterSplitter("wish_list_splitter", &splitter, {100, 250});
        // The defaults are recorded, not applied.
        QCOMPARE(splitter.sizes(), shown);
        QCOMPARE(Stored("wish_list_splitter", true), (QMap<int, int>{{0, 100}, {1, 250}}));
        m_sizes->RegisterSplitter("wish_list_splitter", &sibling, {});
        splitter.Drag(150, 1);
        const QList<int> dragged = splitter.sizes();
        QCOMPARE(sibling.sizes(), dragged);
        QCOMPARE(Stored("wish_list_splitter", true), (QMap<int, int>{{0, dragged[0]}, {1, dragged[1]}}));

        SaveAndReload();
        DraggableSplitter reopened;
        m_sizes->RegisterSplitter("wish_list_splitter", &reopened, {1, 1});
        QCOMPARE(reopened.sizes(), dragged);

        // An empty default list records the present sizes.
        DraggableSplitter rooms;
        m_sizes->RegisterSplitter("room_list_splitter", &rooms, {});
        QCOMPARE(Stored("room_list_splitter", true), (QMap<int, int>{{0, rooms.sizes()[0]}, {1, rooms.sizes()[1]}}));
    }
};

QTEST_MAIN(TestSizeManager)
#include "tst_sizemanager.moc"
