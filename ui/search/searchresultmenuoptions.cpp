#include "ui/search/searchresultmenuoptions.h"

#include "model/data.h"
#include "ui/search/searchform.h"
#include "ui/search/shareform.h"
#include "ui/search/sharesform.h"

#include <QIcon>
#include <QMenu>
#include <QTreeWidget>

#include <algorithm>
#include <set>

namespace {

ItemPtr RowRecord(const char* type, QTreeWidgetItem* row)
{
    return d.GetType(type)->HasItem(Value(row));
}

}  // namespace

SearchResultMenuOptions::SearchResultMenuOptions(QMenu* menu, QTreeWidgetItem* row, QObject* parent)
    : QObject(parent)
    , mp_row(row)
{
    ItemPtr fileNode = RowRecord("search_result_node", row);
    ItemPtr folderNode = RowRecord("search_results_folder_node", row);
    ItemPtr results;
    if (fileNode) {
        ItemPtr result = fileNode["search_result"];
        results = result ? result["search_results"] : ItemPtr();
        m_folder = result ? result["search_result_file_folder"].AsString() : QString();
    } else if (folderNode) {
        m_folder = folderNode["search_result_file_folder"].AsString();
        // The folder item is shared by every reply that names the same path, whoever sent it:
        // the row's own user row and file rows say whose folder it is.
        ItemPtr userNode = folderNode["search_results_user_node"];
        m_user = userNode ? userNode["user"].AsString() : QString();
        for (ItemPtr node : folderNode.GetItems("search_result_node"))
            if (ItemPtr result = node["search_result"]) {
                results = result["search_results"];
                break;
            }
    }
    if (results) {
        ItemPtr request = results["search_request"];
        m_searchText = request ? request["search_request_text"].AsString() : QString();
        if (fileNode)
            m_user = results["user"].AsString();
    }
    if (fileNode)
        menu->addAction(QIcon(":/icons/download_icon"), "Download File(s)", this, &SearchResultMenuOptions::OnDownloadFile,
                        QKeySequence());
    if (fileNode || folderNode) {
        menu->addAction(QIcon(":/icons/downloads_icon"), "Download Folder(s)", this,
                        &SearchResultMenuOptions::OnDownloadFolder, QKeySequence());
        menu->addAction(QIcon(":/icons/browse_icon"), "Browse Folder", this, &SearchResultMenuOptions::OnBrowseFolder,
                        QKeySequence());
    }
}

void SearchResultMenuOptions::OnDownloadFile()
{
    ItemPtr searchText = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    for (QTreeWidgetItem* row : mp_row->treeWidget()->selectedItems()) {
        ItemPtr node = RowRecord("search_result_node", row);
        if (!node)
            return;
        if (ItemPtr result = node["search_result"])
            SearchForm::DownloadResult(result, searchText);
    }
}

void SearchResultMenuOptions::OnDownloadFolder()
{
    std::vector<ItemPtr> folderNodes;
    for (QTreeWidgetItem* row : mp_row->treeWidget()->selectedItems()) {
        ItemPtr folderNode = RowRecord("search_results_folder_node", row);
        if (!folderNode)
            if (ItemPtr fileNode = RowRecord("search_result_node", row))
                folderNode = fileNode["search_results_folder_node"];
        // A user row in the selection: nothing at all is downloaded.
        if (!folderNode)
            return;
        folderNodes.push_back(folderNode);
    }
    std::set<ItemPtr> unique;
    for (ItemPtr folderNode : folderNodes)
        for (ItemPtr node : folderNode.GetItems("search_result_node"))
            if (ItemPtr result = node["search_result"])
                unique.insert(result);
    std::vector<ItemPtr> results(unique.begin(), unique.end());
    std::stable_sort(results.begin(), results.end(), [](ItemPtr a, ItemPtr b) {
        return a["search_result_file_name"].AsString() < b["search_result_file_name"].AsString();
    });
    ItemPtr searchText = d.GetType("search_request_text")->GetItem(Value(m_searchText));
    for (ItemPtr result : results)
        SearchForm::DownloadResult(result, searchText);
}

void SearchResultMenuOptions::OnBrowseFolder()
{
    if (!sharesForm || m_user.isEmpty())
        return;
    if (ShareForm* share = sharesForm->OpenShareBrowse(m_user))
        share->BrowseToFolder(m_folder);
}
