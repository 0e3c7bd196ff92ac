// The search page: entering searches, one tab per search, and the wish list.

#include "ui/search/searchform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/sizemanager.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "ui/search/searchresultsform.h"

#include "ui_searchform.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>

#include <algorithm>
#include <limits>

SearchForm* searchForm = nullptr;

namespace {

const char* const kRoomPrefix = "Room: ";
// Rows of the saved wish list made in one pass of the event loop: a row with its check box costs
// some tens of microseconds, and a list of ten thousand must not hold the window for a second.
const int kWishRowsPerPass = 500;

ItemPtr RequestOf(unsigned int token)
{
    return d.GetType("search_request")->HasItem(Value(token));
}

// Removes a reply with its results; their names and sizes go with the next collection.
void RemoveReply(ItemPtr results)
{
    results.GetItems("search_result").Remove();
    results.Remove();
}

// Removes the wish-list searches of the text that no tab shows (no reply came for them, or every
// reply was dropped), all but the `keep` latest of them.
void RemoveWishSearchesWithoutTab(const QString& text, size_t keep)
{
    ItemPtr textItem = d.GetType("search_request_text")->HasItem(Value(text));
    if (!textItem)
        return;
    std::vector<ItemPtr> requests;
    for (ItemPtr request : textItem.GetItems("search_request"))
        if (request.IsConnected("wishlist_search") && !request.IsConnected("search_results_widget"))
            requests.push_back(request);
    if (requests.size() <= keep)
        return;
    // Tokens are handed out in increasing order.
    std::sort(requests.begin(), requests.end(),
              [](ItemPtr a, ItemPtr b) { return a.AsUInt() < b.AsUInt(); });
    requests.resize(requests.size() - keep);
    for (ItemPtr request : requests) {
        for (ItemPtr results : request.GetItems("search_results"))
            RemoveReply(results);
        request.Remove();
    }
}

// The check box of a wish's row, or null.
QCheckBox* WishCheckBox(ItemPtr wish)
{
    ItemPtr node = wish["wish_list_node"];
    ItemPtr box = node ? node["wish_list_node_checkbox"] : ItemPtr();
    return box ? ItemObject<QCheckBox>(box) : nullptr;
}

}  // namespace

SearchForm::SearchForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SearchForm)
{
    searchForm = this;
    ui->setupUi(this);
    ui->wishList->setHeaderLabels({"Wish List Item"});
    ui->searchStatusLabel->hide();
}

SearchForm::~SearchForm()
{
    if (dataSaver)
        dataSaver->RemoveDataLoadedEventHandler(this);
    if (searchForm == this)
        searchForm = nullptr;
    delete ui;
}

void SearchForm::Init()
{
    connect(peerMessenger, &PeerMessenger::SearchResults, this, &SearchForm::OnUserSearchResults);
    connect(gp_server, &Server::SearchRequested, this, &SearchForm::OnSearchRequested);
    connect(gp_server, &Server::Connected, ui->searchStatusLabel, &QWidget::hide);

    DeclareTypes();
    AddHandler(d.GetType("wish_list_item")->itemRemoved, this, &SearchForm::OnWishListItemRemoved);

    connect(ui->searchTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnTabCloseRequested);
    connect(ui->wishListTabControl, &QTabWidget::tabCloseRequested, this, &SearchForm::OnWishTabCloseRequested);
    connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SearchForm::OnActionBarTriggered);

    const QString searchIcon = ":/icons/search_icon";
    actionBar->AddSetAction("search_results", "order_by_available", "Order by Available", searchIcon, false);
    actionBar->AddSetAction("search_results", "order_by_fastest", "Order by Fastest", searchIcon, false);
    actionBar->AddSetAction("search_results", "expand_folders", "Expand Folders", searchIcon, false);
    actionBar->AddSetAction("search_results", "expand_users", "Expand Users", searchIcon, false);
    actionBar->AddSetAction("search_results", "add_remove_wishlist", "Add to Wishlist", ":/icons/wishlist_icon", false);

    ui->wishList->setColumnCount(2);
    ui->wishList->setHeaderLabels({"", "Wish List Search"});
    ui->wishList->setColumnWidth(0, 20);
    ui->wishList->header()->setStretchLastSection(true);
    ui->wishList->header()->setSectionResizeMode(QHeaderView::Fixed);
    ui->wishList->setSortingEnabled(true);
    ui->wishList->sortByColumn(1, Qt::AscendingOrder);

    const QString wishIcon = ":/icons/wishlist_icon";
    actionBar->AddSetAction("wish_list", "remove_wish_list_item", "Remove Wish List Search", wishIcon, false);
    actionBar->AddSetAction("wish_list", "enable_all_wish_list_items", "Enable All Wish List Searches", wishIcon, false);
    actionBar->AddSetAction("wish_list", "disable_all_wish_list_items", "Disable All Wish List Searches", wishIcon,
                            false);
    actionBar->RegisterWidget(ui->wishList, "wish_list");

    // The search text of a download survives a restart, so the download can search again.
    d.GetType("search_request_text")->RelateToType(d.GetType("download_entry"), One, Many, false);
    dataSaver->AddSavedByConnectionType("search_request_text", "download_entry");

    dataSaver->AddDataLoadedEventHandler(this);
    RegisterWidgetForTabFocus(ui->searchEdit, 1);
    RegisterWidgetForTabFocus(ui->wishList, 1);

    d.NewType("saved_filter", PrimacyRoot, false, true);
    dataSaver->AddSavedType("saved_filter");

    ui->searchTargetBox->addItem("All");
    ui->searchTargetBox->addItem("User List");

    const std::pair<PathNodeRelation, void (SearchForm::*)(ItemPtr)> roomPaths[] = {
        {PathConnectedTrigger, &SearchForm::OnEnteredRoom}, {PathNotConnected, &SearchForm::OnLeftRoom}};
    for (const auto& path : roomPaths) {
        auto* root = new PathNode(&d, "room");
        new PathNode(root, "in_room", path.first);
        auto* handler = new EventHandler<SearchForm, ItemPtr>(this, path.second);
        AddDataHandler(handler);
        d.AddPathEventHandler(root, handler);
    }
}

void SearchForm::DeclareTypes()
{
    Type* widget = d.NewType("search_results_widget", PrimacyRoot, false, true);
    Type* alerted = d.NewType("search_results_widget_alerted", PrimacyLeaf, true, true);
    widget->RelateToType(d.GetType("search_request"), One, Many, false);
    widget->RelateToType(d.GetType("wish_list_item"), One, One, false);
    widget->RelateToType(alerted, Many, One, false);
    Type* expandFolders = d.NewType("expand_folders", PrimacyLeaf, false, true);
    Type* expandUsers = d.NewType("expand_users", PrimacyLeaf, false, true);
    widget->RelateToType(expandFolders, Many, One, false);
    widget->RelateToType(expandUsers, Many, One, false);

    Type* userNode = d.NewType("search_results_user_node", PrimacyReachable, false, true);
    Type* folderNode = d.NewType("search_results_folder_node", PrimacyReachable, false, true);
    Type* resultNode = d.NewType("search_result_node", PrimacyReachable, false, true);
    widget->RelateToType(userNode, One, Many, true);
    userNode->RelateToType(d.GetType("user"), Many, One, false);
    userNode->RelateToType(folderNode, One, Many, true);
    folderNode->RelateToType(d.GetType("search_result_file_folder"), Many, One, false);
    resultNode->RelateToType(d.GetType("search_result"), One, One, false);
    resultNode->RelateToType(folderNode, Many, One, false);

    Type* wishNode = d.NewType("wish_list_node", PrimacyRoot, false, true);
    Type* wishBox = d.NewType("wish_list_node_checkbox", PrimacyRoot, false, true);
    Type* wishFilter = d.NewType("wish_list_item_filter_text", PrimacyLeaf, false, true);
    Type* wish = d.GetType("wish_list_item");
    wish->RelateToType(wishNode, One, One, false);
    wishNode->RelateToType(wishBox, One, One, false);
    wish->RelateToType(wishFilter, Many, One, false);
    dataSaver->AddSavedType("wish_list_item_filter_text");
}

void SearchForm::DataLoaded()
{
    QStringList wishes;
    for (Item* wish : d.GetType("wish_list_item")->ItemsInOrder())
        wishes << ItemPtr(wish).AsString();
    if (!wishes.isEmpty()) {
        // In the order the list sorts them (the desktop's collation, as the tree compares its
        // texts), so that every row is made in its place: a row added to the sorted tree out of
        // place moves every row and check box after it.
        std::sort(wishes.begin(), wishes.end(),
                  [](const QString& a, const QString& b) { return a.localeAwareCompare(b) < 0; });
        m_pendingWishes = wishes;
        m_nextPendingWish = 0;
        ui->wishList->setSortingEnabled(false);
        AddPendingWishRows(kWishRowsPerPass);
    }
    const QList<int> sizes{width() - 200, 200};
    ui->searchSplitter->setSizes(sizes);
    sizeManager->RegisterSplitter("wish_list_splitter", ui->searchSplitter, sizes);
}

// ---------------------------------------------------------------- rooms in the scope box

void SearchForm::OnEnteredRoom(ItemPtr room)
{
    ui->searchTargetBox->addItem(kRoomPrefix + room.AsString());
}

void SearchForm::OnLeftRoom(ItemPtr room)
{
    const int index =
        ui->searchTargetBox->findText(kRoomPrefix + room.AsString(), Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index >= 0)
        ui->searchTargetBox->removeItem(index);
}

// ---------------------------------------------------------------- searches and their tabs

void SearchForm::OnSearchEntered()
{
    const QString text = ui->searchEdit->text().trimmed();
    if (text.isEmpty() || !SearchCanGoOut())
        return;
    const QString scope = ui->searchTargetBox->currentText();
    if (scope == "All") {
        const unsigned int token = gp_server->FileSearch(text, false);
        gp_server->GetSearchCorrelations(text);
        CreateSearchForm(token, text, GlobalSearch);
    } else if (scope == "User List") {
        CreateSearchForm(gp_server->SearchUserList(text), text, UserListSearch);
    } else if (scope.startsWith(kRoomPrefix)) {
        const QString room = scope.mid(int(strlen(kRoomPrefix)));
        CreateSearchForm(gp_server->SearchRoom(room, text), text, RoomSearch);
    }
    ui->searchEdit->clear();
}

bool SearchForm::SearchCanGoOut()
{
    // Logged out, nothing would reach the server: a tab would wait for replies that never come.
    // The text stays in the box to be searched again.
    if (!gp_server->IsConnected()) {
        ui->searchStatusLabel->setText("Search not sent: not connected to the server.");
        ui->searchStatusLabel->show();
        return false;
    }
    ui->searchStatusLabel->hide();
    return true;
}

void SearchForm::CreateSearchForm(unsigned int token, QString text, SearchType type)
{
    ItemPtr wish;
    if (type == WishListSearch) {
        wish = d.GetType("wish_list_item")->HasItem(Value(text));
        if (!wish)
            return;
        // All searches of one wish gather in one tab.
        if (ItemPtr widget = wish["search_results_widget"]) {
            if (ItemPtr request = RequestOf(token))
                widget += request;
            return;
        }
    }

    auto* tab = new SearchResultsForm(text, type == WishListSearch, this);
    QTreeWidget* tree = tab->searchResults();
    tree->setColumnCount(7);
    tree->setHeaderLabels({"User", "Free", "K/s", "Folder", "File", "Size", "Attributes"});
    const int widths[] = {100, 40, 40, 150, 170, 70};
    for (int column = 0; column < 6; ++column)
        tree->setColumnWidth(column, widths[column]);
    tree->header()->setStretchLastSection(false);
    tree->header()->setSectionsMovable(false);
    // Sorting is the tab's own affair, at most once a second: a header click must not add one.
    tree->header()->setSectionsClickable(false);
    tree->setContextMenuPolicy(Qt::CustomContextMenu);

    switch (type) {
    case UserListSearch: ui->searchTabControl->addTab(tab, QIcon(":/icons/users_icon"), LabelText(text)); break;
    case RoomSearch: ui->searchTabControl->addTab(tab, QIcon(":/icons/room_icon"), LabelText(text)); break;
    case WishListSearch: ui->wishListTabControl->addTab(tab, QIcon(":/icons/wishlist_icon"), LabelText(text)); break;
    default: ui->searchTabControl->addTab(tab, QIcon(":/icons/search_icon"), LabelText(text)); break;
    }

    ItemPtr widget = d.GetType("search_results_widget")->GetItem(Value(tab));
    if (ItemPtr request = RequestOf(token))
        widget += request;

    // The filter box is filled before its textChanged is connected: the tree is still empty.
    if (wish) {
        widget += wish;
        if (ItemPtr filter = wish["wish_list_item_filter_text"])
            tab->filterEdit()->setText(filter.AsString());
    }
    const QString defaultFilter = GetSetting("default_search_filter");
    if (!defaultFilter.isEmpty() && tab->filterEdit()->text().isEmpty())
        tab->filterEdit()->setText(defaultFilter);

    connect(tree, &QTreeWidget::itemDoubleClicked, this, &SearchForm::OnResultDoubleClicked);
    actionBar->RegisterWidget(tab, "search_results");

    if (wish)
        actionBar->SetWidgetActionText(tab, "add_remove_wishlist", "Remove from Wish List");
    actionBar->SetWidgetActionText(tab, "order_by_available", "Order by Available [on]");
    actionBar->SetWidgetActionText(tab, "order_by_fastest", "Order by Fastest");
    actionBar->SetWidgetActionText(tab, "expand_folders", "Expand Folders [on]");
    actionBar->SetWidgetActionText(tab, "expand_users", "Expand Users [on]");
    widget += d.GetType("expand_folders")->GetItem("yes");
    widget += d.GetType("expand_users")->GetItem("yes");

    tab->SetSortingParamters(1, Qt::DescendingOrder);

    // A wish tab opens in the background.
    if (type != WishListSearch)
        FocusWidget(tree);

    connect(tree, &QWidget::customContextMenuRequested, this, &SearchForm::OnSearchResultsContextMenuRequested);
    connect(tab->filterEdit(), &QLineEdit::textChanged, this, &SearchForm::OnFilterTextChanged);
    sizeManager->RegisterTreeWidget("search_results", tree);
    tab->Init();
    connect(tab->CorrelationsWidget(), &QTreeWidget::itemClicked, this, &SearchForm::OnCorrelationClicked);
    connect(tab->CorrelationsWidget(), &QTreeWidget::itemDoubleClicked, this,
            &SearchForm::OnCorrelationDoubleClicked);
}

void SearchForm::OnSearchRequested(uint, QString text, bool wishList)
{
    // A wish is searched again and again, and a search no tab took up would stay for the whole
    // run. The one before this keeps its late replies coming until the next one; older ones are
    // over.
    if (wishList)
        RemoveWishSearchesWithoutTab(text, 2);
}

SearchResultsForm* SearchForm::GetCurrentSearchResultsForm()
{
    for (QTabWidget* tabs : {static_cast<QTabWidget*>(ui->searchTabControl),
                             static_cast<QTabWidget*>(ui->wishListTabControl)})
        if (tabs->isVisible())
            return qobject_cast<SearchResultsForm*>(tabs->currentWidget());
    return nullptr;
}

void SearchForm::OnTabCloseRequested(int index)
{
    CloseTab(ui->searchTabControl, index);
}

void SearchForm::OnWishTabCloseRequested(int index)
{
    CloseTab(ui->wishListTabControl, index);
}

void SearchForm::CloseTab(QTabWidget* tabs, int index)
{
    QWidget* page = tabs->widget(index);
    if (!page)
        return;
    ItemPtr widget = d.GetType("search_results_widget")->HasItem(Value(page));
    if (!widget)
        return;
    const ItemSet requests = widget.GetItems("search_request");
    widget.Remove();
    if (auto* tab = qobject_cast<SearchResultsForm*>(page))
        tab->MarkClosed();
    tabs->removeTab(index);
    // At once: a sort still scheduled for the page dies with it.
    delete page;
    for (ItemPtr request : requests) {
        request.GetItems("search_results").Remove();
        request.Remove();
    }
    d.RemoveDisconnectedItems();
}

// ---------------------------------------------------------------- related searches

void SearchForm::OnCorrelationClicked(QTreeWidgetItem* item, int)
{
    if (item)
        ui->searchEdit->setText(item->text(0));
}

void SearchForm::OnCorrelationDoubleClicked(QTreeWidgetItem* item, int)
{
    if (!item)
        return;
    if (!SearchCanGoOut())
        return;
    const QString text = item->text(0);
    const unsigned int token = gp_server->FileSearch(text, false);
    gp_server->GetSearchCorrelations(text);
    CreateSearchForm(token, text, GlobalSearch);
    ui->searchEdit->clear();
}

// ---------------------------------------------------------------- the wish list

void SearchForm::OnWishListItemAdded(ItemPtr wish)
{
    auto* row = new QTreeWidgetItem(ui->wishList);
    row->setText(1, wish.AsString());
    auto* box = new QCheckBox;
    ui->wishList->setItemWidget(row, 0, box);
    row->setTextAlignment(0, Qt::AlignCenter);
    // Set before the box is connected, so it changes nothing in the graph.
    if (wish.IsConnected("wish_list_item_enabled")) {
        row->setText(0, "Y");
        box->setChecked(true);
    }
    ItemPtr node = d.GetType("wish_list_node")->GetItem(Value(row));
    wish += node;
    node += d.GetType("wish_list_node_checkbox")->GetItem(Value(box));
    connect(box, &QCheckBox::stateChanged, this, &SearchForm::OnWishListItemCheckStateChanged);
}

void SearchForm::AddPendingWishRows(int count)
{
    if (m_pendingWishes.isEmpty())
        return;
    Type* wishes = d.GetType("wish_list_item");
    const int end = m_pendingWishes.size() - m_nextPendingWish > count ? m_nextPendingWish + count
                                                                         : m_pendingWishes.size();
    for (; m_nextPendingWish < end; ++m_nextPendingWish) {
        // A wish removed meanwhile is gone; one added meanwhile has its row already.
        ItemPtr wish = wishes->HasItem(Value(m_pendingWishes[m_nextPendingWish]));
        if (wish && !wish["wish_list_node"])
            OnWishListItemAdded(wish);
    }
    if (m_nextPendingWish < m_pendingWishes.size()) {
        QTimer::singleShot(0, this, [this] { AddPendingWishRows(kWishRowsPerPass); });
        return;
    }
    m_pendingWishes.clear();
    m_nextPendingWish = 0;
    ui->wishList->setSortingEnabled(true);
}

void SearchForm::OnWishListItemCheckStateChanged(int state)
{
    ItemPtr box = d.GetType("wish_list_node_checkbox")->HasItem(Value(sender()));
    ItemPtr node = box ? box["wish_list_node"] : ItemPtr();
    ItemPtr wish = node ? node["wish_list_item"] : ItemPtr();
    if (!wish)
        return;
    auto* row = ItemObject<QTreeWidgetItem>(node);
    if (state == Qt::Checked) {
        wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
        row->setText(0, "Y");
    } else if (state == Qt::Unchecked) {
        wish.Disconnect("wish_list_item_enabled");
        row->setText(0, "");
    }
}

void SearchForm::OnWishListItemRemoved(ItemPtr wish)
{
    // Nothing will take up its pending searches any more.
    RemoveWishSearchesWithoutTab(wish.AsString(), 0);
    ItemPtr node = wish["wish_list_node"];
    if (!node)
        return;
    delete ItemObject<QTreeWidgetItem>(node);
    if (ItemPtr box = node["wish_list_node_checkbox"])
        box.Remove();
    node.Remove();
}

// ---------------------------------------------------------------- toolbar actions

void SearchForm::OnActionBarTriggered(QWidget* widget, QString action)
{
    if (widget == ui->wishList) {
        if (action == "remove_wish_list_item") {
            for (QTreeWidgetItem* row : ui->wishList->selectedItems()) {
                ItemPtr node = d.GetType("wish_list_node")->HasItem(Value(row));
                if (ItemPtr wish = node ? node["wish_list_item"] : ItemPtr())
                    wish.Remove();
            }
        } else if (action == "enable_all_wish_list_items" || action == "disable_all_wish_list_items") {
            // Every wish, also those whose rows are still to come.
            AddPendingWishRows(std::numeric_limits<int>::max());
            const bool enable = action == "enable_all_wish_list_items";
            for (ItemPtr wish : d.GetType("wish_list_item")->GetItems())
                if (QCheckBox* box = WishCheckBox(wish))
                    box->setChecked(enable);
        }
        return;
    }

    auto* tab = qobject_cast<SearchResultsForm*>(widget);
    if (action == "add_remove_wishlist") {
        SearchResultsForm* current = GetCurrentSearchResultsForm();
        ItemPtr record = WidgetItem(current);
        ItemPtr request = record ? ItemPtr(record.GetItems("search_request")) : ItemPtr();
        ItemPtr text = request ? request["search_request_text"] : ItemPtr();
        if (!text)
            return;
        Type* wishes = d.GetType("wish_list_item");
        if (!request.IsConnected("wishlist_search")) {
            if (wishes->HasItem(text.GetValue()))
                return;
            ItemPtr wish = wishes->GetItem(text.GetValue());
            wish += d.GetType("wish_list_item_enabled")->GetGlobalNullItem();
            OnWishListItemAdded(wish);
        } else if (ItemPtr wish = wishes->HasItem(text.GetValue())) {
            wish.Remove();
        }
    } else if (!WidgetItem(tab)) {
        return;
    } else if (action == "order_by_available" || action == "order_by_fastest") {
        const bool available = action == "order_by_available";
        actionBar->SetWidgetActionText(tab, "order_by_available",
                                       available ? "Order by Available [on]" : "Order by Available");
        actionBar->SetWidgetActionText(tab, "order_by_fastest", available ? "Order by Fastest" : "Order by Fastest [on]");
        tab->SetSortingParamters(available ? 1 : 2, Qt::DescendingOrder);
        tab->Sort();
    } else if (action == "expand_folders") {
        ToggleExpand(tab, "expand_folders", "expand_folders", "Expand Folders", false);
    } else if (action == "expand_users") {
        ToggleExpand(tab, "expand_users", "expand_users", "Expand Users", true);
    }
}

void SearchForm::ToggleExpand(SearchResultsForm* tab, const char* type, const char* action, const QString& label,
                              bool users)
{
    ItemPtr record = WidgetItem(tab);
    const bool expand = record[type].AsString() == "no";
    record += d.GetType(type)->GetItem(expand ? "yes" : "no");
    actionBar->SetWidgetActionText(tab, action, label + (expand ? " [on]" : " [off]"));
    QTreeWidget* tree = tab->searchResults();
    for (int u = 0; u < tree->topLevelItemCount(); ++u) {
        QTreeWidgetItem* userRow = tree->topLevelItem(u);
        if (users) {
            userRow->setExpanded(expand);
            continue;
        }
        for (int f = 0; f < userRow->childCount(); ++f)
            userRow->child(f)->setExpanded(expand);
    }
}

ItemPtr SearchForm::WidgetItem(SearchResultsForm* tab)
{
    return tab ? d.GetType("search_results_widget")->HasItem(Value(tab)) : ItemPtr();
}

SearchResultsForm* SearchForm::TabOf(QObject* child)
{
    for (QObject* o = child; o; o = o->parent())
        if (auto* tab = qobject_cast<SearchResultsForm*>(o))
            return tab;
    return nullptr;
}
