#include "ui/search/uploadform.h"

#include "app/actionsettoolbar.h"
#include "model/helpers.h"
#include "transfers/transferqueuemanager.h"
#include "ui/search/filterhelpdialog.h"
#include "ui/search/sharetree.h"

#include "ui_uploadform.h"

#include <QIcon>

#include <map>
#include <string>

namespace {

// The path of a file as the share lists it: its folder's path, a backslash, its name.
QString SharePathOf(ItemPtr file)
{
    ItemPtr folder = file.HasItem("user_share_folder");
    ItemPtr folderName = folder ? folder.HasItem("user_share_folder_name") : ItemPtr();
    ItemPtr fileName = file.HasItem("user_share_file_name");
    if (!folderName || !fileName)
        return QString();
    return ToQString(folderName.AsStdString() + "\\" + fileName.AsStdString());
}

void MarkUploaded(QTreeWidgetItem* row)
{
    static const QIcon icon(":/icons/upload_icon");
    row->setIcon(0, icon);
}

}  // namespace

UploadForm::UploadForm(QString user, QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui_UploadForm)
    , m_user(user)
{
    m_ui->setupUi(this);
    connect(m_ui->folderTree, &QTreeWidget::currentItemChanged, this, &UploadForm::OnCurrentItemChanged);
    connect(m_ui->filterEdit, &QLineEdit::textChanged, this, &UploadForm::OnFilterTextChanged);
    connect(m_ui->filterHelpButton, &QPushButton::clicked, this, &UploadForm::OnFilterHelpClicked);

    ShowShareViews(m_ui, false);

    SetUpShareColumns(m_ui->folderTree, m_ui->fileList);

    if (actionBar) {
        actionBar->RegisterWidget(m_ui->folderTree, "upload_folders");
        actionBar->RegisterWidget(m_ui->fileList, "upload_files");
    }
    ItemPtr tab = d.GetType("upload_share_tab")->GetItem(Value(this));
    d.GetType("user")->GetItem(Value(user)) += tab;
}

UploadForm::~UploadForm()
{
    delete m_ui;
}

void UploadForm::SetShare(ItemPtr share)
{
    if (m_userShare || !share)
        return;
    m_userShare = share;
    m_maxLevel = ShowShareFolderTree(m_ui->folderTree, share);

    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &UploadForm::OnActionBarTriggered,
                Qt::UniqueConnection);
    m_expandLevel = 0;
    ShowShareViews(m_ui, true);
}

void UploadForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    ListFolderFiles(m_ui->fileList, ip_current, m_ui->filterEdit->text());
}

void UploadForm::OnFilterTextChanged(QString i_text)
{
    FilterShareTree(m_ui->folderTree, m_ui->fileList, i_text);
}

void UploadForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void UploadForm::OnActionBarTriggered(QWidget* ip_widget, QString i_action)
{
    if (i_action == "upload_share_folder" && ip_widget == m_ui->folderTree) {
        for (QTreeWidgetItem* row : m_ui->folderTree->selectedItems())
            if (ItemPtr folder = FolderOfRow(row))
                UploadFolder(folder);
    } else if (i_action == "upload_share_file" && ip_widget == m_ui->fileList) {
        for (QTreeWidgetItem* row : m_ui->fileList->selectedItems()) {
            ItemPtr file = FileOfRow(row);
            if (!file)
                continue;
            if (transferQueueManager)
                transferQueueManager->AddUpload(m_user, SharePathOf(file));
            MarkUploaded(row);
        }
    }
}

void UploadForm::UploadFolder(ItemPtr folder)
{
    // In name order, so that the user's queue follows what the list shows.
    std::map<std::string, ItemPtr> files;
    for (ItemPtr file : folder.GetItems("user_share_file")) {
        ItemPtr name = file.HasItem("user_share_file_name");
        files.emplace(name ? name.AsStdString() : std::string(), file);
    }
    for (const auto& entry : files) {
        ItemPtr file = entry.second;
        if (transferQueueManager)
            transferQueueManager->AddUpload(m_user, SharePathOf(file));
        if (ItemPtr node = file.HasItem("user_share_file_node"))
            MarkUploaded(ItemObject<QTreeWidgetItem>(node));
    }

    std::map<std::string, ItemPtr> subfolders;
    for (ItemPtr sub : SubFolders(folder)) {
        ItemPtr name = sub.HasItem("user_share_folder_name");
        subfolders.emplace(name ? name.AsStdString() : std::string(), sub);
    }
    for (const auto& entry : subfolders)
        UploadFolder(entry.second);
}

void UploadForm::Delete()
{
    RemoveDataHandlers();
    if (actionBar)
        disconnect(actionBar, nullptr, this, nullptr);
    ClearShareFileList(m_ui->fileList);
    if (ItemPtr tab = d.GetType("upload_share_tab")->HasItem(Value(this)))
        tab.Remove();
    if (m_userShare) {
        ItemSet folders = m_userShare.GetItems("user_share_folder");
        folders.GetItems("user_share_file").Remove();
        folders.Remove();
        m_userShare.Remove();
        m_userShare = ItemPtr();
    }
    d.RemoveDisconnectedItems();
    deleteLater();
}

void UploadForm::ExpandLevel()
{
    ExpandTreeLevel(m_ui->folderTree, m_expandLevel, m_maxLevel);
}

void UploadForm::CollapseAll()
{
    CollapseTree(m_ui->folderTree, m_expandLevel);
}

void UploadForm::ExpandAll()
{
    ExpandTree(m_ui->folderTree, m_expandLevel);
}
