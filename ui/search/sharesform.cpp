#include "ui/search/sharesform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "model/helpers.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/shareform.h"
#include "ui/search/uploadform.h"

#include "ui_sharesform.h"

#include <string>

SharesForm* sharesForm = nullptr;

namespace {

ItemPtr UserItem(const QString& user)
{
    return d.GetType("user")->GetItem(Value(user));
}

// The three tree actions on a page of the given kind; false when the page is of another kind.
template <typename Form>
bool RunTreeAction(QWidget* page, const QString& action)
{
    auto* form = qobject_cast<Form*>(page);
    if (!form)
        return false;
    if (action == "expand_level")
        form->ExpandLevel();
    else if (action == "collapse_all")
        form->CollapseAll();
    else if (action == "expand_all")
        form->ExpandAll();
    return true;
}

}  // namespace

SharesForm::SharesForm(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui_SharesForm)
{
    sharesForm = this;
    ui->setupUi(this);
}

SharesForm::~SharesForm()
{
    if (sharesForm == this)
        sharesForm = nullptr;
    delete ui;
}

void SharesForm::Init()
{
    Type* user = d.GetType("user");
    user->RelateToType(d.NewType("user_share_tab", PrimacyRoot, false, true), One, One, false);
    user->RelateToType(d.NewType("upload_share_tab", PrimacyRoot, false, true), One, One, false);
    d.NewType("user_share_folder_node", PrimacyReachable, false, true)
        ->RelateToType(d.GetType("user_share_folder"), One, One, false);
    d.NewType("user_share_file_node", PrimacyReachable, false, true)
        ->RelateToType(d.GetType("user_share_file"), One, One, false);

    if (actionBar) {
        actionBar->AddSetAction("share_folders", "expand_level", "Expand Level", ":/icons/browse_icon");
        actionBar->AddSetAction("share_folders", "collapse_all", "Collapse All", ":/icons/browse_icon");
        actionBar->AddSetAction("share_folders", "expand_all", "Expand All", ":/icons/browse_icon");
        actionBar->AddSetAction("upload_folders", "upload_share_folder", "Upload Folder", ":/icons/transfer_icon",
                                true);
        actionBar->AddSetAction("upload_folders", "expand_level", "Expand Level", ":/icons/browse_icon");
        actionBar->AddSetAction("upload_folders", "collapse_all", "Collapse All", ":/icons/browse_icon");
        actionBar->AddSetAction("upload_folders", "expand_all", "Expand All", ":/icons/browse_icon");
        actionBar->AddSetAction("upload_files", "upload_share_file", "Upload File", ":/icons/transfer_icon", true);
    }

    connect(ui->tabControl, &QTabWidget::tabCloseRequested, this, &SharesForm::OnTabCloseRequested,
            Qt::UniqueConnection);
    if (actionBar)
        connect(actionBar, &ActionSetToolBar::ActionTriggered, this, &SharesForm::OnToolBarActionTriggered,
                Qt::UniqueConnection);
    if (peerMessenger)
        connect(peerMessenger, &PeerMessenger::UserShare, this, &SharesForm::OnUserShare, Qt::UniqueConnection);
}

ShareForm* SharesForm::OpenShareBrowse(QString user)
{
    ItemPtr tab = UserItem(user).HasItem("user_share_tab");
    ShareForm* form = ItemObject<ShareForm>(tab);
    if (!form) {
        form = new ShareForm(user, this);
        ui->tabControl->addTab(form, LabelText(user));
        if (peerMessenger)
            peerMessenger->GetUserSharedFiles(user);
    }
    FocusWidgetAndParents(form);
    return form;
}

UploadForm* SharesForm::OpenUploadBrowse(QString user)
{
    ItemPtr tab = UserItem(user).HasItem("upload_share_tab");
    UploadForm* form = ItemObject<UploadForm>(tab);
    if (!form) {
        form = new UploadForm(user, this);
        ui->tabControl->addTab(form, "Upload to " + LabelText(user));
        FileInfoMap share;
        AttributeTranslationTable table;
        if (sharedFoldersManager)
            sharedFoldersManager->GetSharedFilesAsUserShare(user, share, table);
        form->SetShare(CreateUserShareData(share, table));
    }
    FocusWidgetAndParents(form);
    return form;
}

void SharesForm::OnUserShare(QString i_user, FileInfoMap& i_share, AttributeTranslationTable& i_translationTable)
{
    ItemPtr userItem = UserItem(i_user);
    auto* form = ItemObject<ShareForm>(userItem.HasItem("user_share_tab"));
    if (!form)
        return;
    // A share already stored stays: the form was handed it before.
    if (!userItem.HasItem("user_share"))
        userItem += CreateUserShareData(i_share, i_translationTable);
    form->SetShare(userItem.HasItem("user_share"));
}

ItemPtr SharesForm::CreateUserShareData(FileInfoMap& i_share, AttributeTranslationTable&)
{
    Type* folderNames = d.GetType("user_share_folder_name");
    Type* fileNames = d.GetType("user_share_file_name");
    Type* sizes = d.GetType("file_size");
    Type* bitrates = d.GetType("bitrate");
    Type* lengths = d.GetType("length_seconds");
    Type* modes = d.GetType("bitrate_mode");

    ItemPtr share = d.GetType("user_share")->NewItem();
    for (const auto& [path, files] : i_share) {
        ItemPtr folder = share.NewItem("user_share_folder");
        folder += folderNames->GetItem(Value(path));

        // The map's byte order puts a parent's path before its sub-folders' paths, so a parent
        // of this share already has its item; one whose path is missing leaves a top-level folder.
        const std::string parentPath = GetParentFolder(path);
        if (parentPath != path)
            if (ItemPtr parentName = folderNames->HasItem(Value(parentPath)))
                if (ItemPtr parent = d.GetItem(parentName, share, "user_share_folder"))
                    folder.NewItem("user_share_folder_parent") += parent.NewItem("user_share_folder_child");

        for (const FileInfo& info : files) {
            ItemPtr file = folder.NewItem("user_share_file");
            file += fileNames->GetItem(Value(info.name));
            file += sizes->GetItem(Value(static_cast<long long>(info.size)));
            for (const auto& [code, value] : info.attributes.attributes) {
                if (code == 0)
                    file += bitrates->GetItem(Value(value));
                else if (code == 1)
                    file += lengths->GetItem(Value(value));
                else if (code == 2)
                    file += modes->GetItem(Value(value == 0 ? "cbr" : "vbr"));
            }
        }
    }
    return share;
}

void SharesForm::OnToolBarActionTriggered(QWidget*, QString i_action)
{
    QWidget* page = ui->tabControl->currentWidget();
    if (!RunTreeAction<ShareForm>(page, i_action))
        RunTreeAction<UploadForm>(page, i_action);
}

void SharesForm::OnTabCloseRequested(int i_tabIndex)
{
    QWidget* page = ui->tabControl->widget(i_tabIndex);
    if (auto* share = qobject_cast<ShareForm*>(page)) {
        ui->tabControl->removeTab(i_tabIndex);
        share->Delete();
    } else if (auto* upload = qobject_cast<UploadForm*>(page)) {
        ui->tabControl->removeTab(i_tabIndex);
        upload->Delete();
    }
}
