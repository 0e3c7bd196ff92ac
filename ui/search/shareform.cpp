#include "ui/search/shareform.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "app/updatechecker.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/filterhelpdialog.h"
#include "ui/search/filterparser.h"
#include "ui/search/sharetree.h"

#include "ui_shareform.h"

#include <QShowEvent>

ShareForm::ShareForm(QString user, QWidget* parent)
    : QWidget(parent)
    , m_ui(new Ui_ShareForm)
{
    m_ui->setupUi(this);
    connect(m_ui->folderTree, &QTreeWidget::currentItemChanged, this, &ShareForm::OnCurrentItemChanged,
            Qt::UniqueConnection);
    connect(m_ui->fileList, &QTreeWidget::currentItemChanged, this, &ShareForm::OnFileItemChanged,
            Qt::UniqueConnection);
    connect(m_ui->filterEdit, &QLineEdit::textChanged, this, &ShareForm::OnFilterTextChanged, Qt::UniqueConnection);
    connect(m_ui->filterHelpButton, &QPushButton::clicked, this, &ShareForm::OnFilterHelpClicked,
            Qt::UniqueConnection);

    ShowShareViews(m_ui, false);

    SetUpShareColumns(m_ui->folderTree, m_ui->fileList);
    if (actionBar) {
        actionBar->RegisterWidget(m_ui->folderTree, "share_folders");
        actionBar->RegisterWidget(m_ui->fileList, "share_files");
    }

    ItemPtr tab = d.GetType("user_share_tab")->GetItem(Value(this));
    d.GetType("user")->GetItem(Value(user)) += tab;

    m_ui->messageBrowser->append("Requesting file list...");

    if (peerMessenger) {
        connect(peerMessenger, &PeerMessenger::ConnectionToUserFailed, this, &ShareForm::OnConnectionToUserFailed,
                Qt::UniqueConnection);
        connect(peerMessenger, &PeerMessenger::UserShareFailed, this, &ShareForm::OnUserShareFailed,
                Qt::UniqueConnection);
    }

    m_user = user;
    m_handled = false;

    m_ui->folderTree->setContextMenuPolicy(Qt::CustomContextMenu);
    m_ui->fileList->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_ui->folderTree, &QWidget::customContextMenuRequested, this, &ShareForm::OnFolderContextMenuRequested,
            Qt::UniqueConnection);
    connect(m_ui->fileList, &QWidget::customContextMenuRequested, this, &ShareForm::OnFileContextMenuRequested,
            Qt::UniqueConnection);
}

ShareForm::~ShareForm()
{
    RemoveDataHandlers();
    delete m_ui;
}

void ShareForm::SetShare(ItemPtr share)
{
    // A share already held stays as it is: removing its data here would leave the rows on
    // screen with nothing behind them, queueing downloads of nothing.
    if (m_userShare || !share)
        return;
    m_handled = true;
    m_userShare = share;
    // Also for an empty share: a later BrowseToFolder must not reach it once it is removed.
    if (!m_subscribed) {
        AddHandler(d.GetType("user_share")->itemRemoved, this, &ShareForm::OnUserShareItemRemoved);
        m_subscribed = true;
    }

    if (!share.IsConnected("user_share_folder")) {
        m_ui->messageBrowser->append("No files returned. The user is either not sharing any files, or is sharing "
                                     "all of their files privately.");
        if (eventToolBar)
            eventToolBar->AddEvent(m_user, ":/icons/browse_icon", m_ui->messageBrowser, "");
        return;
    }

    // The rows of a share removed meanwhile go; the new share's rows replace them.
    ClearFileList();
    ClearFolderTree();
    m_maxLevel = ShowShareFolderTree(m_ui->folderTree, share);

    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &ShareForm::OnActionBarTriggered,
                Qt::UniqueConnection);
    m_expandLevel = 0;

    m_ui->messageBrowser->hide();
    ShowShareViews(m_ui, true);

    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/browse_icon", m_ui->folderTree, "");

    connect(m_ui->folderTree, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFolderDoubleClicked,
            Qt::UniqueConnection);
    connect(m_ui->fileList, &QTreeWidget::itemDoubleClicked, this, &ShareForm::OnFileDoubleClicked,
            Qt::UniqueConnection);

    if (!m_browseFolder.isEmpty())
        BrowseToFolder(m_browseFolder);
}

void ShareForm::ClearFileList()
{
    ClearShareFileList(m_ui->fileList);
}

void ShareForm::ClearFolderTree()
{
    if (m_ui->folderTree->topLevelItemCount() == 0)
        return;
    Type* nodes = d.GetType("user_share_folder_node");
    for (QTreeWidgetItemIterator it(m_ui->folderTree); *it; ++it)
        if (ItemPtr node = nodes->HasItem(Value(*it)))
            node.Remove();
    m_ui->folderTree->clear();
}

void ShareForm::OnCurrentItemChanged(QTreeWidgetItem* ip_current, QTreeWidgetItem*)
{
    ListFolderFiles(m_ui->fileList, ip_current, m_ui->filterEdit->text());
}

void ShareForm::OnFileItemChanged(QTreeWidgetItem*, QTreeWidgetItem*)
{
}

void ShareForm::OnActionBarTriggered(QWidget*, QString)
{
}

void ShareForm::OnFilterTextChanged(QString i_text)
{
    FilterShareTree(m_ui->folderTree, m_ui->fileList, i_text);
}

void ShareForm::OnFilterHelpClicked()
{
    FilterHelpDialog::Open(this);
}

void ShareForm::ExpandLevel()
{
    ExpandTreeLevel(m_ui->folderTree, m_expandLevel, m_maxLevel);
}

void ShareForm::CollapseAll()
{
    CollapseTree(m_ui->folderTree, m_expandLevel);
}

void ShareForm::ExpandAll()
{
    ExpandTree(m_ui->folderTree, m_expandLevel);
}

void ShareForm::BrowseToFolder(QString folder)
{
    if (!m_userShare) {
        m_browseFolder = folder;
        return;
    }
    ItemPtr name = d.GetType("user_share_folder_name")->HasItem(Value(folder));
    if (!name)
        return;
    ItemPtr shareFolder = d.GetItem(m_userShare, name, "user_share_folder");
    ItemPtr node = shareFolder ? shareFolder.HasItem("user_share_folder_node") : ItemPtr();
    auto* row = ItemObject<QTreeWidgetItem>(node);
    if (!row)
        return;
    m_ui->folderTree->scrollToItem(row, QAbstractItemView::PositionAtTop);
    m_ui->folderTree->setCurrentItem(row);
}

void ShareForm::OnConnectionToUserFailed(QString i_user, QString i_connectionType)
{
    if (i_connectionType == "P")
        ShowFailure(i_user);
}

void ShareForm::OnUserShareFailed(QString i_user)
{
    ShowFailure(i_user);
}

void ShareForm::ShowFailure(const QString& user)
{
    if (m_handled || user != m_user)
        return;
    m_handled = true;
    const int port = GetSettingInt("listening_port");
    const QString link = MakerWebPageUrl("/porttest.php", QString("port=%1").arg(port)).toString(QUrl::FullyEncoded);
    m_ui->messageBrowser->append(QString("A connection could not be successfully formed to the user. If this is "
                                         "happening to you a lot, <a href=\"%1\">Check here</a> to make sure that "
                                         "your port is open.")
                                     .arg(link.toHtmlEscaped()));
    if (eventToolBar)
        eventToolBar->AddEvent(m_user, ":/icons/browse_icon", m_ui->messageBrowser, "");
}

void ShareForm::showEvent(QShowEvent* ip_event)
{
    QWidget::showEvent(ip_event);
    if (eventToolBar)
        eventToolBar->RemoveEvent(m_ui->folderTree);
}

void ShareForm::OnUserShareItemRemoved(ItemPtr item)
{
    if (item == m_userShare)
        m_userShare = ItemPtr();
}

void ShareForm::Delete()
{
    m_userShare = ItemPtr();
    // Nothing of this form may run once its data starts to go.
    RemoveDataHandlers();
    m_subscribed = false;
    if (peerMessenger)
        disconnect(peerMessenger, nullptr, this, nullptr);
    if (actionBar)
        disconnect(actionBar, nullptr, this, nullptr);
    ClearFileList();
    if (sharedFoldersManager)
        sharedFoldersManager->RemoveUserShare(m_user);
    if (ItemPtr tab = d.GetType("user_share_tab")->HasItem(Value(this)))
        tab.Remove();
    deleteLater();
}
