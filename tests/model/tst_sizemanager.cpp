#include "model/datasaver.h"
#include "model/sizemanager.h"

#include <QHeaderView>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <memory>

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
    // The stored widths of a key: column number -> width.
    static QMap<int, int> Stored(QString key)
    {
        QMap<int, int> stored;
        for (ItemPtr entry : d.GetType("sizer_tree")->HasItem(Value(key)).GetItems("sizer_tree_column")) {
            const int n = entry["sizer_tree_column_number"].AsInt();
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
        m_sizes.reset(), m_saver.reset(), m_dir.reset();
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

    void widgetAddressFromGraphNeedsLiveRegisteredWidget()
    {
        auto tree = Tree({50, 50});
        m_sizes->RegisterTreeWidget("transfers", tree.get());
        // A widget item not registered here (as one left by a dead tree at a reused address)
        // is never turned back into a widget.
        auto stranger = Tree({40, 40});
        d.GetType("sizer_tree")->HasItem(Value("transfers")) +=
            d.GetType("sizer_tree_widget")->GetItem(Value(static_cast<QWidget*>(stranger.get())));
        tree->header()->resizeSection(0, 80);
        QCOMPARE(Stored("transfers"), (QMap<int, int>{{0, 80}, {1, 50}}));
        QCOMPARE(Widths(stranger), QList<int>({40, 40}));
    }
};

QTEST_MAIN(TestSizeManager)
#include "tst_sizemanager.moc"
