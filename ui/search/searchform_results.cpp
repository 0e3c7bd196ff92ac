// The result side of the search page: a peer's reply becomes user, folder and file rows of its
// tab; the rows are filtered, ordered, expanded and downloaded from here.

#include "ui/search/searchform.h"

#include "app/eventtoolbar.h"
#include "app/usermenuoptions.h"
#include "model/delayedinvoker.h"
#include "model/helpers.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/filterparser.h"
#include "ui/search/searchresultlistitem.h"
#include "ui/search/searchresultmenuoptions.h"
#include "ui/search/searchresultsform.h"

#include <QLineEdit>
#include <QMenu>
#include <QTreeWidget>

#include <algorithm>

namespace {

// The group row that the node of this type ties to the key under the parent's node; `make` makes
// and fills the row when there is none yet, and its node joins the parent and the key.
template <class Make>
QTreeWidgetItem* GroupRow(ItemPtr parentNode, ItemPtr key, const char* nodeType, ItemPtr& o_node, Make make)
{
    o_node = d.GetItem(parentNode, key, nodeType);
    if (o_node)
        return ItemObject<QTreeWidgetItem>(o_node);
    QTreeWidgetItem* row = make();
    o_node = d.GetType(nodeType)->GetItem(Value(row));
    parentNode += o_node;
    o_node += key;
    return row;
}

ItemPtr RowRecord(const char* type, QTreeWidgetItem* row)
{
    return d.GetType(type)->HasItem(Value(row));
}

ItemPtr ResultOfRow(QTreeWidgetItem* fileRow)
{
    ItemPtr node = RowRecord("search_result_node", fileRow);
    return node ? node["search_result"] : ItemPtr();
}

void AppendFolderResults(ItemPtr folderNode, std::vector<ItemPtr>& out)
{
    for (ItemPtr node : folderNode.GetItems("search_result_node"))
        if (ItemPtr result = node["search_result"])
            out.push_back(result);
}

// Shows or hides a row; the row is touched only when that changes something.
void SetShown(QTreeWidgetItem* row, bool shown)
{
    if (row->isHidden() == shown)
        row->setHidden(!shown);
}

// Shows the folder row when enough of its files match. The folder text takes what it can; only
// the words it leaves are looked for in each file name, so no word is found across the two.
bool ShowMatchingFolder(const FilterParser& filter, QTreeWidgetItem* folderRow)
{
    FilterParser rest;
    if (filter.IsMatching(folderRow->text(3), &rest) == 2) {
        SetShown(folderRow, false);
        return false;
    }
    const bool attributes = rest.HasAttributes();
    int shownFiles = 0;
    for (int k = 0; k < folderRow->childCount(); ++k) {
        QTreeWidgetItem* fileRow = folderRow->child(k);
        const bool match =
            rest.IsMatching(fileRow->text(4), nullptr, attributes ? ResultOfRow(fileRow) : ItemPtr()) == 0;
        SetShown(fileRow, match);
        shownFiles += match ? 1 : 0;
    }
    // A folder none of whose files matches stays hidden even when no minimum is set: otherwise
    // it would show as an empty folder under a user that matches nothing.
    const bool shown = shownFiles > 0 && shownFiles >= rest.MinFilesInFolder();
    SetShown(folderRow, shown);
    return shown;
}

// A user row shows while one of its folders does.
void ShowMatchingUser(const FilterParser& filter, QTreeWidgetItem* userRow)
{
    bool anyFolder = false;
    for (int f = 0; f < userRow->childCount(); ++f)
        anyFolder = ShowMatchingFolder(filter, userRow->child(f)) || anyFolder;
    SetShown(userRow, anyFolder);
}

}  // namespace

// ---------------------------------------------------------------- replies

void SearchForm::OnUserSearchResults(ItemPtr searchResults)
{
    ItemPtr request = searchResults["search_request"];
    ItemPtr widget = request ? request["search_results_widget"] : ItemPtr();
    if (request && !widget && request.IsConnected("wishlist_search")) {
        const QString text = request["search_request_text"].AsString();
        ItemPtr wish = d.GetType("wish_list_item")->HasItem(Value(text));
        if (wish && wish.IsConnected("wish_list_item_enabled"))
            CreateSearchForm(request.AsUInt(), text, WishListSearch);
        widget = request["search_results_widget"];
    }
    if (!widget) {
        // No tab shows it (a disabled or removed wish): nothing would ever read or remove it.
        searchResults.GetItems("search_result").Remove();
        searchResults.Remove();
        return;
    }
    auto* tab = ItemObject<SearchResultsForm>(widget);
    QTreeWidget* tree = tab->searchResults();

    tree->setUpdatesEnabled(false);
    QTreeWidgetItem* userRow = nullptr;
    for (ItemPtr result : searchResults.GetItems("search_result"))
        userRow = AddSearchResult(widget, result);
    if (userRow)
        FilterUserRows(tab, userRow);
    tree->setUpdatesEnabled(true);

    RaiseWishAlert(widget, tab);
    delayedInvoker->Invoke(tab, "1Sort()", 1000);
}

QTreeWidgetItem* SearchForm::AddSearchResult(ItemPtr widget, ItemPtr result)
{
    auto* tab = ItemObject<SearchResultsForm>(widget);
    ItemPtr results = result["search_results"];
    ItemPtr user = results["user"];

    ItemPtr userNode;
    QTreeWidgetItem* userRow = GroupRow(widget, user, "search_results_user_node", userNode, [&] {
        auto* row = new SearchResultListItem(tab->searchResults());
        row->setText(0, user.AsString());
        row->setText(1, results["search_results_user_available"].AsString() == "yes"
                            ? QStringLiteral("Y")
                            : results["search_results_uploads_in_queue"].AsString());
        row->setTextAlignment(1, Qt::AlignCenter);
        ItemPtr speedItem = results["search_results_user_speed"];
        const double speed = (speedItem ? speedItem.AsInt64() : 0) / 1024.0;
        if (speed != 0)
            row->setText(2, QString::number(speed, 'f', 1));
        return row;
    });

    ItemPtr folder = result["search_result_file_folder"];
    ItemPtr folderNode;
    QTreeWidgetItem* folderRow = GroupRow(userNode, folder, "search_results_folder_node", folderNode, [&] {
        auto* row = new SearchResultListItem(userRow);
        row->setText(3, ReversePathname(folder.AsString()));
        return row;
    });

    auto* fileRow = new SearchResultListItem(folderRow);
    fileRow->setText(4, result["search_result_file_name"].AsString());
    ItemPtr size = result["file_size"];
    fileRow->setText(5, CommafyNumber(size ? size.AsInt64() : 0));
    fileRow->setText(6, sharedFoldersManager->GetFileItemDisplayString(result));

    if (widget["expand_users"].AsString() == "yes" && !userRow->isExpanded())
        userRow->setExpanded(true);
    if (widget["expand_folders"].AsString() == "yes" && !folderRow->isExpanded())
        folderRow->setExpanded(true);

    ItemPtr resultNode = d.GetType("search_result_node")->GetItem(Value(fileRow));
    resultNode += result;
    resultNode += folderNode;
    return userRow;
}

// ---------------------------------------------------------------- filtering

void SearchForm::FilterUserRows(SearchResultsForm* tab, QTreeWidgetItem* userRow)
{
    FilterParser filter;
    filter.Parse(tab->filterEdit()->text());
    ShowMatchingUser(filter, userRow);
}

void SearchForm::OnFilterTextChanged(QString text)
{
    SearchResultsForm* tab = TabOf(sender());
    ItemPtr widget = WidgetItem(tab);
    if (!widget)
        return;
    if (ItemPtr wish = widget["wish_list_item"]) {
        wish.Disconnect("wish_list_item_filter_text");
        wish += d.GetType("wish_list_item_filter_text")->GetItem(Value(text));
    }
    FilterTab(tab, text);
}

void SearchForm::FilterTab(SearchResultsForm* tab, const QString& text)
{
    FilterParser filter;
    filter.Parse(text);
    QTreeWidget* tree = tab->searchResults();
    tree->setUpdatesEnabled(false);
    for (int u = 0; u < tree->topLevelItemCount(); ++u)
        ShowMatchingUser(filter, tree->topLevelItem(u));
    tree->setUpdatesEnabled(true);
}

void SearchForm::RaiseWishAlert(ItemPtr widget, SearchResultsForm* tab)
{
    ItemPtr wish = widget["wish_list_item"];
    if (!wish || widget.IsConnected("search_results_widget_alerted"))
        return;
    QTreeWidget* tree = tab->searchResults();
    bool visible = false;
    for (int u = 0; u < tree->topLevelItemCount() && !visible; ++u)
        visible = !tree->topLevelItem(u)->isHidden();
    if (!visible)
        return;
    eventToolBar->AddEvent(wish.AsString(), ":/icons/wishlist_icon", tab, "");
    widget += d.GetType("search_results_widget_alerted")->GetGlobalNullItem();
}

// ---------------------------------------------------------------- downloads and the menu

bool SearchForm::CompareSearchResults(ItemPtr a, ItemPtr b)
{
    const QString folderA = a["search_result_file_folder"].AsString();
    const QString folderB = b["search_result_file_folder"].AsString();
    if (folderA != folderB)
        return folderA < folderB;
    return a["search_result_file_name"].AsString() < b["search_result_file_name"].AsString();
}

ItemPtr SearchForm::DownloadResult(ItemPtr result, ItemPtr searchText)
{
    ItemPtr results = result["search_results"];
    ItemPtr user = results ? results["user"] : ItemPtr();
    if (!user)
        return ItemPtr();
    ItemPtr size = result["file_size"];
    ItemPtr entry = transferQueueManager->AddDownload(
        user.AsString(), result["search_result_file_name"].AsStdString(),
        result["search_result_file_folder"].AsStdString(), size ? size.AsInt64() : 0, 0);
    // A refused download gets no mark: the icon would claim a download that does not exist.
    if (!entry)
        return entry;
    if (searchText)
        entry += searchText;
    if (ItemPtr node = result["search_result_node"])
        ItemObject<QTreeWidgetItem>(node)->setIcon(4, QIcon(":/icons/download_icon"));
    return entry;
}

void SearchForm::OnResultDoubleClicked(QTreeWidgetItem* row, int)
{
    if (!row)
        return;
    std::vector<ItemPtr> results;
    if (ItemPtr userNode = RowRecord("search_results_user_node", row)) {
        for (ItemPtr folderNode : userNode.GetItems("search_results_folder_node"))
            AppendFolderResults(folderNode, results);
    } else if (ItemPtr folderNode = RowRecord("search_results_folder_node", row)) {
        AppendFolderResults(folderNode, results);
    } else if (ItemPtr result = ResultOfRow(row)) {
        results.push_back(result);
    }
    if (results.empty())
        return;
    std::stable_sort(results.begin(), results.end(), &SearchForm::CompareSearchResults);
    ItemPtr request = results.front()["search_results"]["search_request"];
    ItemPtr searchText = request ? request["search_request_text"] : ItemPtr();
    for (ItemPtr result : results)
        DownloadResult(result, searchText);
}

QTreeWidgetItem* SearchForm::GetNodeUserNode(QTreeWidgetItem* row)
{
    if (!row || RowRecord("search_results_user_node", row))
        return row;
    if (RowRecord("search_results_folder_node", row))
        return row->parent();
    return row->parent() ? row->parent()->parent() : nullptr;
}

void SearchForm::OnSearchResultsContextMenuRequested(QPoint point)
{
    auto* tree = qobject_cast<QTreeWidget*>(sender());
    QTreeWidgetItem* row = tree ? tree->itemAt(point) : nullptr;
    QTreeWidgetItem* userRow = GetNodeUserNode(row);
    if (!row || !userRow)
        return;
    QMenu menu;
    SearchResultMenuOptions resultOptions(&menu, row, nullptr);
    UserMenuOptions userOptions(&menu, userRow->text(0), nullptr);
    menu.exec(tree->viewport()->mapToGlobal(point));
}
