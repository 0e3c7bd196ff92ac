#include "ui/search/addsharedfolderdialog.h"

#include "app/filechooser.h"
#include "shares/sharedfoldersmanager.h"

#include "ui_addsharedfolderdialog.h"


AddSharedFolderDialog::AddSharedFolderDialog(ItemPtr folder, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_AddSharedFolderDialog)
{
    ui->setupUi(this);
    setAttribute(Qt::WA_DeleteOnClose);

    if (folder) {
        m_editing = true;
        m_folderPath = folder.AsString();
        ui->selectFolderButton->setEnabled(false);
        ui->selectedFolderEdit->setEnabled(false);
        ui->selectedFolderEdit->setText(m_folderPath);
        const bool everyone = folder.IsConnected("shared_public");
        ui->everyoneCheckBox->setChecked(everyone);
        ui->userListCheckBox->setChecked(everyone || folder.IsConnected("shared_userlist"));
    }

    Type* groups = d.HasType("user_list_group");
    const bool folderHasGroups = folder && groups && folder.GetType()->IsRelated(groups);
    if (groups) {
        for (const ItemPtr& group : groups->GetItems()) {
            auto* row = new QListWidgetItem(group.AsString(), ui->groupsListWidget);
            row->setFlags(row->flags() | Qt::ItemIsUserCheckable);
            row->setCheckState(folderHasGroups && folder.IsConnected(group) ? Qt::Checked : Qt::Unchecked);
        }
    }

    // The enabled states of an edited folder follow its boxes as a user's clicks would set them.
    if (folder) {
        OnAccessibleToEveryoneCheckStateChanged(ui->everyoneCheckBox->checkState());
        OnAccessibleToUserListCheckStateChanged(ui->userListCheckBox->checkState());
    }

    connect(ui->selectFolderButton, &QPushButton::clicked, this, &AddSharedFolderDialog::OnSelectFolderClicked);
    connect(ui->everyoneCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged);
    connect(ui->userListCheckBox, &QCheckBox::stateChanged, this,
            &AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged);
}

AddSharedFolderDialog::~AddSharedFolderDialog()
{
    delete ui;
}

void AddSharedFolderDialog::OnSelectFolderClicked()
{
    const QString folder =
        ChooseOnePath(this, "Select Folder to Share", QFileDialog::Directory, QFileDialog::ShowDirsOnly);
    if (!folder.isEmpty())
        ui->selectedFolderEdit->setText(folder);
}

void AddSharedFolderDialog::OnAccessibleToEveryoneCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked) {
        ui->userListCheckBox->setEnabled(false);
        ui->userListCheckBox->setChecked(true);
        ui->groupsListWidget->setEnabled(false);
    } else if (i_checkState == Qt::Unchecked) {
        ui->userListCheckBox->setEnabled(true);
        ui->groupsListWidget->setEnabled(!ui->userListCheckBox->isChecked());
    }
}

void AddSharedFolderDialog::OnAccessibleToUserListCheckStateChanged(int i_checkState)
{
    if (i_checkState == Qt::Checked)
        ui->groupsListWidget->setEnabled(false);
    else if (i_checkState == Qt::Unchecked)
        ui->groupsListWidget->setEnabled(true);
}

void AddSharedFolderDialog::accept()
{
    const QString path = ui->selectedFolderEdit->text();
    if (path.isEmpty())
        return;

    ItemPtr folder;
    if (m_editing) {
        // Unshared meanwhile: sharing it again is not what an access change asked for.
        folder = d.GetType("shared_folder")->HasItem(m_folderPath);
        if (!folder) {
            QDialog::reject();
            return;
        }
    } else if (sharedFoldersManager) {
        folder = sharedFoldersManager->AddSharedFolder(path);
    } else {
        folder = d.GetType("shared_folder")->GetItem(path);
    }

    // The broadest box decides; narrower links stay as they were underneath it.
    if (ui->everyoneCheckBox->isChecked()) {
        folder.NewItem("shared_public");
        QDialog::accept();
        return;
    }
    folder.Disconnect("shared_public");
    if (ui->userListCheckBox->isChecked()) {
        folder.NewItem("shared_userlist");
        QDialog::accept();
        return;
    }
    folder.Disconnect("shared_userlist");

    Type* groups = d.HasType("user_list_group");
    if (groups && folder.GetType()->IsRelated(groups)) {
        for (int k = 0; k < ui->groupsListWidget->count(); ++k) {
            QListWidgetItem* row = ui->groupsListWidget->item(k);
            if (row->checkState() == Qt::Checked) {
                folder += groups->GetItem(row->text());
            } else if (ItemPtr group = groups->HasItem(row->text())) {
                if (folder.IsConnected(group))
                    folder.Disconnect(group);
            }
        }
    }
    QDialog::accept();
}
