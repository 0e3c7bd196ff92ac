#include "ui/transfers/downloadmenuoptions.h"

#include "model/helpers.h"
#include "server/server.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/searchform.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QTreeWidgetItem>
#include <QUrl>

namespace {

const char* const kAlertIcon = ":/icons/alert_icon";
const char* const kTransferIcon = ":/icons/transfer_icon";

bool IsComplete(ItemPtr entry)
{
    return entry["download_entry_status"].AsString() == "complete";
}

bool IsRunning(ItemPtr entry)
{
    ItemPtr status = entry["download_entry_status"];
    return status && status.IsConnected("is_active");
}

bool AnyUnfinished(const ItemSet& entries)
{
    for (const ItemPtr& entry : entries)
        if (!IsComplete(entry))
            return true;
    return false;
}

// The one neighbour of that type that every entry shares; null when they have several.
ItemPtr Shared(const ItemSet& entries, const char* type)
{
    ItemSet all;
    for (const ItemPtr& entry : entries)
        all.Add(entry.GetItems(type));
    return all.size() == 1 ? ItemPtr(all) : ItemPtr();
}

QTreeWidgetItem* RowOf(ItemPtr node)
{
    return node ? ItemObject<QTreeWidgetItem>(node) : nullptr;
}

}  // namespace

void DownloadMenuOptions::OpenLocal(QString path)
{
    if (path.isEmpty())
        return;
    path.replace('\\', '/');
    QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

DownloadMenuOptions::DownloadMenuOptions(QMenu* menu, ItemSet entries, QObject* parent)
    : QObject(parent)
    , m_scope(&d)
    , m_entries(std::move(entries))
{
    if (m_entries.empty())
        return;
    const bool single = m_entries.size() == 1;
    ItemPtr first = First();

    if (!menu->actions().isEmpty())
        menu->addSeparator();
    if (single && IsComplete(first))
        menu->addAction("Open File", this, &DownloadMenuOptions::OnOpenFile);
    menu->addAction("Open Folder", this, &DownloadMenuOptions::OnOpenFolder);
    if (!single)
        menu->addAction(QIcon(kTransferIcon), "Retry downloads", this, &DownloadMenuOptions::OnRetryDownloads);
    else if (!IsComplete(first) && !IsRunning(first))
        menu->addAction(QIcon(kTransferIcon), "Retry download", this, &DownloadMenuOptions::OnRetryDownloads);
    menu->addSeparator();
    menu->addAction(QIcon(kTransferIcon), single ? "Remove download" : "Remove downloads", this,
                    &DownloadMenuOptions::OnRemoveDownloads);

    m_user = Shared(m_entries, "user");
    m_folder = Shared(m_entries, "remote_folder");
    AddAlertMenu(menu);

    if (ItemPtr text = first["search_request_text"]) {
        m_searchText = text.AsString();
        menu->addAction(QIcon(":/icons/search_icon"), "Re-run Search: " + LabelText(m_searchText), this,
                        &DownloadMenuOptions::OnRerunSearch);
    }
}

void DownloadMenuOptions::AddAlertMenu(QMenu* menu)
{
    QMenu* alerts = menu->addMenu(QIcon(kAlertIcon), "Notify me when...");
    ItemPtr first = First();
    if (m_entries.size() == 1 && !first["complete_download_alert"] && !IsComplete(first))
        alerts->addAction("File download completes", this, &DownloadMenuOptions::OnSetFileDownloadAlert);
    if (m_folder && m_user && m_folder.GetItems("complete_download_alert").Connected(m_user).empty() &&
        FolderAwaited())
        alerts->addAction("Folder download completes", this, &DownloadMenuOptions::OnSetFolderDownloadAlert);
    // Offered only when the user's row shows two folders or more: with one, the folder alert
    // says the same.
    if (m_user && m_user["download_list_user_node"].GetItems("download_list_folder_node").size() > 1 &&
        m_user.GetItems("complete_download_alert").NotConnected("remote_folder").empty() && UserAwaited())
        alerts->addAction("All downloads from user complete", this, &DownloadMenuOptions::OnSetUserDownloadAlert);
    if (alerts->actions().isEmpty())
        delete alerts;
}

bool DownloadMenuOptions::FolderAwaited() const
{
    return AnyUnfinished(m_folder.GetItems("download_entry").Connected(m_user));
}

bool DownloadMenuOptions::UserAwaited() const
{
    return AnyUnfinished(m_user.GetItems("download_entry"));
}

ItemPtr DownloadMenuOptions::First() const
{
    return m_entries.empty() || m_entries.begin()->get()->IsRemoved() ? ItemPtr() : *m_entries.begin();
}

void DownloadMenuOptions::OnOpenFile()
{
    if (ItemPtr entry = First())
        OpenLocal(transferQueueManager->GetDownloadTargetPath(entry, true));
}

void DownloadMenuOptions::OnOpenFolder()
{
    if (ItemPtr entry = First())
        OpenLocal(transferQueueManager->GetDownloadTargetFolder(entry, true));
}

void DownloadMenuOptions::OnRetryDownloads()
{
    // The menu ran an event loop, in which the engine may have removed any of them.
    for (const ItemPtr& entry : m_entries)
        if (!entry->IsRemoved())
            transferQueueManager->RequeueDownload(entry);
}

void DownloadMenuOptions::OnRemoveDownloads()
{
    // A removal may take others with it (a handler clearing rows): each is looked at when due.
    for (const ItemPtr& entry : m_entries)
        if (!entry->IsRemoved())
            transferQueueManager->RemoveDownload(entry);
}

void DownloadMenuOptions::OnRerunSearch()
{
    if (!gp_server || !searchForm)
        return;
    const unsigned int token = gp_server->FileSearch(m_searchText, false);
    searchForm->CreateSearchForm(token, m_searchText, GlobalSearch);
}

void DownloadMenuOptions::OnSetFileDownloadAlert()
{
    ItemPtr entry = First();
    if (!entry)
        return;
    if (QTreeWidgetItem* row = RowOf(entry["download_list_node"]))
        row->setIcon(2, QIcon(kAlertIcon));
    entry.NewItem("complete_download_alert");
}

void DownloadMenuOptions::OnSetFolderDownloadAlert()
{
    // The menu ran an event loop: the folder's last download may have gone or finished since it
    // was offered, and an alert with nothing to wait for would fire for a later, unrelated one.
    if (m_user->IsRemoved() || m_folder->IsRemoved() || !FolderAwaited())
        return;
    ItemPtr userNode = m_user["download_list_user_node"];
    if (QTreeWidgetItem* row = userNode ? RowOf(d.GetItem(userNode, m_folder, "download_list_folder_node")) : nullptr)
        row->setIcon(1, QIcon(kAlertIcon));
    ItemPtr alert = m_user.NewItem("complete_download_alert");
    alert += m_folder;
}

void DownloadMenuOptions::OnSetUserDownloadAlert()
{
    // As for the folder: only while a download of the user is still to finish.
    if (m_user->IsRemoved() || !UserAwaited())
        return;
    if (QTreeWidgetItem* row = RowOf(m_user["download_list_user_node"]))
        row->setIcon(0, QIcon(kAlertIcon));
    m_user.NewItem("complete_download_alert");
}
