#include "model/sizemanager.h"

#include "model/datasaver.h"

#include <QHeaderView>
#include <QSplitter>
#include <QTreeWidget>

SizeManager* sizeManager = nullptr;

namespace {

const char* const kSavedTypes[] = {
    "sizer_window", "sizer_tree", "sizer_tree_column_number", "sizer_tree_column",
    "sizer_splitter", "sizer_splitter_index_number", "sizer_splitter_index",
    "sizer_x", "sizer_y", "sizer_width", "sizer_height", "sizer_size",
};

void DeclareSizeTypes()
{
    // A manager built again in the same process (tests) finds the types already there.
    if (d.HasType("sizer_window"))
        return;
    Type* window = d.NewType("sizer_window", PrimacyRoot, false, true);
    Type* windowWidget = d.NewType("sizer_window_widget", PrimacyRoot, false, true);
    Type* x = d.NewType("sizer_x", PrimacyLeaf, false, true);
    Type* y = d.NewType("sizer_y", PrimacyLeaf, false, true);
    Type* width = d.NewType("sizer_width", PrimacyLeaf, false, true);
    Type* height = d.NewType("sizer_height", PrimacyLeaf, false, true);
    Type* size = d.NewType("sizer_size", PrimacyLeaf, false, true);
    Type* tree = d.NewType("sizer_tree", PrimacyRoot, false, true);
    Type* treeWidget = d.NewType("sizer_tree_widget", PrimacyRoot, false, true);
    Type* columnNumber = d.NewType("sizer_tree_column_number", PrimacyLeaf, false, true);
    Type* column = d.NewType("sizer_tree_column", PrimacyReachable, true, true);
    Type* splitter = d.NewType("sizer_splitter", PrimacyRoot, false, true);
    Type* splitterWidget = d.NewType("sizer_splitter_widget", PrimacyRoot, false, true);
    Type* indexNumber = d.NewType("sizer_splitter_index_number", PrimacyLeaf, false, true);
    Type* index = d.NewType("sizer_splitter_index", PrimacyReachable, true, true);

    window->RelateToType(windowWidget, One, One, false);
    window->RelateToType(x, Many, One, false);
    window->RelateToType(y, Many, One, false);
    window->RelateToType(width, Many, One, false);
    window->RelateToType(height, Many, One, false);
    tree->RelateToType(treeWidget, One, Many, false);
    column->RelateToType(tree, Many, One, false);
    column->RelateToType(columnNumber, Many, One, false);
    column->RelateToType(size, Many, One, false);
    splitter->RelateToType(splitterWidget, One, Many, false);
    index->RelateToType(splitter, Many, One, false);
    index->RelateToType(indexNumber, Many, One, false);
    index->RelateToType(size, Many, One, false);
}

ItemPtr NumberItem(const char* i_type, int i_number)
{
    return d.GetType(i_type)->GetItem(Value(i_number));
}

// The stretched last column follows the window, not the user, so it is never stored.
int StoredColumnCount(QHeaderView* header)
{
    const int count = header->count();
    return header->stretchLastSection() && count > 0 ? count - 1 : count;
}

// Widget items hold addresses; only widgets registered here and still alive are trusted,
// so an item can never be turned into a dangling pointer.
template <typename W>
W* LiveWidget(const std::map<unsigned long long, QObject*>& registered, ItemPtr widgetItem)
{
    auto it = registered.find(widgetItem.AsUInt64());
    return it == registered.end() ? nullptr : static_cast<W*>(it->second);
}

}  // namespace

static unsigned long long AddressOf(const void* p)
{
    return static_cast<unsigned long long>(reinterpret_cast<quintptr>(p));
}

SizeManager::SizeManager(QObject* parent) : QObject(parent)
{
    DeclareSizeTypes();
    if (dataSaver) {
        for (const char* type : kSavedTypes)
            dataSaver->AddSavedType(type);
    }
    sizeManager = this;
}

SizeManager::~SizeManager()
{
    if (sizeManager == this)
        sizeManager = nullptr;
}

void SizeManager::ReplaceNumber(ItemPtr i_owner, const char* i_type, int i_number)
{
    ItemPtr old = i_owner[i_type];
    i_owner += NumberItem(i_type, i_number);
    // Number items are shared; one nobody uses any more would otherwise linger.
    if (old && old.IsDisconnectedFromAll())
        old.Remove();
}

ItemPtr SizeManager::Entry(ItemPtr i_key, const char* i_entryType, const char* i_numberType, int i_number)
{
    ItemPtr number = NumberItem(i_numberType, i_number);
    ItemPtr entry = d.GetItem(i_key, number, i_entryType);
    if (!entry) {
        entry = d.GetType(i_entryType)->NewItem();
        entry += i_key;
        entry += number;
    }
    return entry;
}

// ---------------------------------------------------------------- windows

void SizeManager::RegisterResizableWindow(const QString& i_key, ResizableWindow* ip_window)
{
    Data::Scope scope(&d);
    Type* keys = d.GetType("sizer_window");
    ItemPtr key = keys->HasItem(Value(i_key));
    if (!key) {
        key = keys->GetItem(Value(i_key));
        key += NumberItem("sizer_x", ip_window->GetX());
        key += NumberItem("sizer_y", ip_window->GetY());
        key += NumberItem("sizer_width", ip_window->GetWidth());
        key += NumberItem("sizer_height", ip_window->GetHeight());
    } else {
        ip_window->SetPosition(key["sizer_x"].AsInt(), key["sizer_y"].AsInt());
        ip_window->SetSize(key["sizer_width"].AsInt(), key["sizer_height"].AsInt());
    }
    key += d.GetType("sizer_window_widget")->GetItem(Value(ip_window));
    // Connected after restoring, so the restore itself is not recorded.
    connect(ip_window, &ResizableWindow::WindowMoved, this, &SizeManager::OnWindowMoved, Qt::UniqueConnection);
    connect(ip_window, &ResizableWindow::WindowResized, this, &SizeManager::OnWindowResized,
            Qt::UniqueConnection);
}

void SizeManager::RecordWindow(const char* i_firstType, int i_first, const char* i_secondType, int i_second)
{
    Data::Scope scope(&d);
    auto* window = qobject_cast<ResizableWindow*>(sender());
    if (!window)
        return;
    ItemPtr key = d.GetType("sizer_window_widget")->HasItem(Value(window))["sizer_window"];
    if (!key)
        return;
    ReplaceNumber(key, i_firstType, i_first);
    ReplaceNumber(key, i_secondType, i_second);
}

void SizeManager::OnWindowMoved(int i_x, int i_y)
{
    RecordWindow("sizer_x", i_x, "sizer_y", i_y);
}

void SizeManager::OnWindowResized(int i_width, int i_height)
{
    RecordWindow("sizer_width", i_width, "sizer_height", i_height);
}

// ---------------------------------------------------------------- splitters

void SizeManager::RegisterSplitter(const QString& i_key, QSplitter* ip_splitter, QList<int> i_defaultSizes)
{
    Data::Scope scope(&d);
    Type* keys = d.GetType("sizer_splitter");
    ItemPtr key = keys->HasItem(Value(i_key));
    if (!key) {
        key = keys->GetItem(Value(i_key));
        // Recorded only: a caller that wants its defaults shown sets them itself first.
        const QList<int> sizes = i_defaultSizes.isEmpty() ? ip_splitter->sizes() : i_defaultSizes;
        for (int i = 0; i < sizes.size(); ++i) {
            ItemPtr index = d.GetType("sizer_splitter_index")->NewItem();
            index += key;
            index += NumberItem("sizer_splitter_index_number", i);
            index += NumberItem("sizer_size", sizes[i]);
        }
    } else {
        QList<int> sizes;
        for (ItemPtr index :
             key.GetItems("sizer_splitter_index").SortNumericBy("sizer_splitter_index_number", true))
            sizes.append(index["sizer_size"].AsInt());
        ip_splitter->setSizes(sizes);
    }
    key += d.GetType("sizer_splitter_widget")->GetItem(Value(ip_splitter));
    m_liveWidgets[AddressOf(ip_splitter)] = ip_splitter;
    connect(ip_splitter, &QSplitter::splitterMoved, this, &SizeManager::OnSplitterMoved, Qt::UniqueConnection);
    connect(ip_splitter, &QObject::destroyed, this, &SizeManager::OnSplitterDestroyed, Qt::UniqueConnection);
}

void SizeManager::OnSplitterMoved(int /*i_position*/, int /*i_index*/)
{
    if (m_propagating)
        return;
    auto* splitter = qobject_cast<QSplitter*>(sender());
    if (!splitter)
        return;
    Data::Scope scope(&d);
    ItemPtr widgetItem = d.GetType("sizer_splitter_widget")->HasItem(Value(splitter));
    ItemPtr key = widgetItem["sizer_splitter"];
    if (!key)
        return;
    const QList<int> sizes = splitter->sizes();
    for (int i = 0; i < sizes.size(); ++i)
        ReplaceNumber(Entry(key, "sizer_splitter_index", "sizer_splitter_index_number", i), "sizer_size",
                      sizes[i]);

    m_propagating = true;
    for (ItemPtr sibling : key.GetItems("sizer_splitter_widget")) {
        if (sibling == widgetItem)
            continue;
        if (auto* other = LiveWidget<QSplitter>(m_liveWidgets, sibling))
            other->setSizes(sizes);
    }
    m_propagating = false;
}

void SizeManager::OnSplitterDestroyed(QObject* ip_object)
{
    ForgetWidget(ip_object, "sizer_splitter_widget");
}

// The widget item goes with its widget; the key and its stored sizes stay.
void SizeManager::ForgetWidget(QObject* ip_object, const char* i_widgetType)
{
    m_liveWidgets.erase(AddressOf(ip_object));
    if (ItemPtr item = d.GetType(i_widgetType)->HasItem(Value(ip_object)))
        item.Remove();
}

// ---------------------------------------------------------------- trees

void SizeManager::RegisterTreeWidget(const QString& i_key, QTreeWidget* ip_tree)
{
    Data::Scope scope(&d);
    QHeaderView* header = ip_tree->header();
    const int columns = StoredColumnCount(header);
    Type* keys = d.GetType("sizer_tree");
    ItemPtr key = keys->HasItem(Value(i_key));
    if (!key) {
        key = keys->GetItem(Value(i_key));
        for (int c = 0; c < columns; ++c) {
            ItemPtr column = d.GetType("sizer_tree_column")->NewItem();
            column += key;
            column += NumberItem("sizer_tree_column_number", c);
            column += NumberItem("sizer_size", header->sectionSize(c));
        }
    } else {
        for (ItemPtr column :
             key.GetItems("sizer_tree_column").SortNumericBy("sizer_tree_column_number", true)) {
            const int c = column["sizer_tree_column_number"].AsInt();
            if (c >= 0 && c < columns)
                header->resizeSection(c, column["sizer_size"].AsInt());
        }
    }
    key += d.GetType("sizer_tree_widget")->GetItem(Value(ip_tree));
    m_liveWidgets[AddressOf(ip_tree)] = ip_tree;
    connect(header, &QHeaderView::sectionResized, this, &SizeManager::OnTreeColumnResizedMoved,
            Qt::UniqueConnection);
    connect(ip_tree, &QObject::destroyed, this, &SizeManager::OnTreeDestroyed, Qt::UniqueConnection);
}

void SizeManager::OnTreeColumnResizedMoved(int /*i_index*/, int /*i_newSize*/, int /*i_oldSize*/)
{
    if (m_propagating)
        return;
    auto* header = qobject_cast<QHeaderView*>(sender());
    auto* tree = header ? qobject_cast<QTreeWidget*>(header->parent()) : nullptr;
    if (!tree)
        return;
    Data::Scope scope(&d);
    ItemPtr widgetItem = d.GetType("sizer_tree_widget")->HasItem(Value(tree));
    ItemPtr key = widgetItem["sizer_tree"];
    if (!key)
        return;

    m_propagating = true;
    const ItemSet siblings = key.GetItems("sizer_tree_widget");
    const int columns = StoredColumnCount(header);
    for (int c = 0; c < columns; ++c) {
        const int size = header->sectionSize(c);
        ReplaceNumber(Entry(key, "sizer_tree_column", "sizer_tree_column_number", c), "sizer_size", size);
        for (ItemPtr sibling : siblings) {
            if (sibling == widgetItem)
                continue;
            if (auto* other = LiveWidget<QTreeWidget>(m_liveWidgets, sibling))
                other->header()->resizeSection(c, size);
        }
    }
    m_propagating = false;
}

void SizeManager::OnTreeDestroyed(QObject* ip_object)
{
    ForgetWidget(ip_object, "sizer_tree_widget");
}
