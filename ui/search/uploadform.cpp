#include "ui/search/uploadform.h"

#include "app/actionsettoolbar.h"
#include "ui/search/sharetree.h"

#include "ui_uploadform.h"


UploadForm::UploadForm(QString user, QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui_UploadForm)
    , m_user(user)
{
    m_ui->setupUi(this);
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
    m_ui->folderTree->setUpdatesEnabled(false);
    m_maxLevel = BuildShareFolderTree(m_ui->folderTree, share);
    m_ui->folderTree->setUpdatesEnabled(true);
    m_expandLevel = 0;
}

void UploadForm::Delete()
{
    RemoveDataHandlers();
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
