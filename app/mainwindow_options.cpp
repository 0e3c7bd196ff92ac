// The Options page: shared folders and the settings controls.
// Every control writes its setting the moment it changes; there is no OK or Apply step.

#include "app/mainwindow.h"

#include "app/filechooser.h"
#include "app/updatechecker.h"
#include "model/settings.h"
#include "server/portforwarder.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/search/addsharedfolderdialog.h"
#include "ui/search/sharedfilesrescanneddialog.h"
#include "ui/settings/colorselectiondialog.h"

#include "ui_mainwindow.h"

#include <QDesktopServices>
#include <QIcon>
#include <QMenu>
#include <QUrl>

namespace {

// Text controls can hold NUL characters (pasted, or set by code); a stored setting ends at
// the first one, as every reader of the save file would cut it there anyway.
Value TextValue(const QString& text)
{
    const int nul = text.indexOf(QChar(0));
    return Value(nul < 0 ? text : text.left(nul));
}

Value YesNo(bool on)
{
    return Value(on ? "yes" : "no");
}

QTreeWidgetItem* FindFolderRow(QTreeWidget* list, const QString& path)
{
    const QList<QTreeWidgetItem*> rows = list->findItems(path, Qt::MatchExactly | Qt::MatchCaseSensitive, 0);
    return rows.isEmpty() ? nullptr : rows.first();
}

// Who may see a folder: everyone outranks the user list, which outranks named groups.
QString AccessText(ItemPtr folder)
{
    if (folder.IsConnected("shared_public"))
        return QStringLiteral("Everyone");
    if (folder.IsConnected("shared_userlist"))
        return QStringLiteral("User List");
    Type* groups = d.HasType("user_list_group");
    if (!groups || !folder.GetType()->IsRelated(groups))
        return QString();
    QStringList names;
    for (const ItemPtr& group : folder.GetItems("user_list_group").SortAlphabetic(true))
        names << group.AsString();
    return names.join(QStringLiteral(", "));
}

QString ObfuscatedPortText(const QString& port)
{
    return QStringLiteral("Obfuscated port is %1, if you're manually forwarding your ports be sure to open it as well.")
        .arg(port);
}

} // namespace

// ---------------------------------------------------------------- shared folders

void MainWindow::OnSharedFolderAdded(ItemPtr folder)
{
    auto* row = new QTreeWidgetItem(QStringList{folder.AsString()});
    ui->sharedFoldersList->addTopLevelItem(row);
}

void MainWindow::OnSharedFolderRemoved(ItemPtr folder)
{
    delete FindFolderRow(ui->sharedFoldersList, folder.AsString());
}

void MainWindow::OnSharedFolderChange(ConnectionInfo info)
{
    if (!info.item || !info.other)
        return;
    const std::string& other = info.other.GetType()->Name();
    if (other != "shared_public" && other != "shared_userlist" && other != "user_list_group")
        return;
    if (QTreeWidgetItem* row = FindFolderRow(ui->sharedFoldersList, info.item.AsString()))
        row->setText(1, AccessText(info.item));
}

void MainWindow::OnSharedFoldersListContextMenuRequested(QPoint pos)
{
    QTreeWidget* list = ui->sharedFoldersList;
    if (!list->itemAt(pos))
        return;
    const QIcon icon(":/icons/browse_icon");
    QMenu menu(this);
    connect(menu.addAction(icon, "Set Folder Permissions"), &QAction::triggered, this,
            &MainWindow::OnSetFolderPermissions);
    connect(menu.addAction(icon, "Unshare Folder"), &QAction::triggered, this, &MainWindow::OnUnshareFolder);
    menu.exec(list->viewport()->mapToGlobal(pos));
}

void MainWindow::OnUnshareFolder()
{
    const QList<QTreeWidgetItem*> selected = ui->sharedFoldersList->selectedItems();
    if (!selected.isEmpty())
        UnshareFolders({selected.first()});
}

void MainWindow::UnshareFolders(const QList<QTreeWidgetItem*>& rows)
{
    if (rows.isEmpty())
        return;
    // Paths first: removing a folder deletes its row, which `rows` still holds.
    QStringList paths;
    for (QTreeWidgetItem* row : rows)
        paths << row->text(0);
    for (const QString& path : paths) {
        // Looked up, never created: making the item here would share the folder anew and add
        // a second row, only for the removal to take away the first one. A row without its
        // folder is stale and goes by itself.
        if (ItemPtr folder = d.GetType("shared_folder")->HasItem(TextValue(path)))
            folder.Remove();
        else
            delete FindFolderRow(ui->sharedFoldersList, path);
    }
    d.RemoveDisconnectedItems();
}

void MainWindow::OnSetFolderPermissions()
{
    const QList<QTreeWidgetItem*> selected = ui->sharedFoldersList->selectedItems();
    if (selected.isEmpty())
        return;
    // A dialog on an item made just for it would share the folder by merely being opened.
    ItemPtr folder = d.GetType("shared_folder")->HasItem(TextValue(selected.first()->text(0)));
    if (!folder)
        return;
    auto* dialog = new AddSharedFolderDialog(folder, this);
    dialog->show();
}

void MainWindow::OnSharedFilesRescanned(int added, int removed)
{
    auto* dialog = new SharedFilesRescannedDialog(this);
    dialog->Append(QString("%1 files added.").arg(added));
    dialog->Append(QString("%1 files removed.").arg(removed));
    dialog->setWindowTitle("Shared Files Rescanned");
    dialog->show();
}

void MainWindow::OnOptionsTabSelectionChanged(int index)
{
    // Focus on the list makes the context toolbar offer the shared-folder actions.
    if (index != -1 && ui->optionsTabControl->tabText(index) == "File Sharing")
        ui->sharedFoldersList->setFocus(Qt::OtherFocusReason);
}

// ---------------------------------------------------------------- settings shown on the page

void MainWindow::OnUsernameChanged(ItemPtr key)
{
    ui->usernameEdit->setText(key["global_value"].AsString());
}

void MainWindow::OnObfuscatedPortSet(ItemPtr key)
{
    ui->obfuscatedPortLabel->setText(ObfuscatedPortText(key["global_value"].AsString()));
}

void MainWindow::OnNewListeningPortChanged(ItemPtr key)
{
    ItemPtr value = key["global_value"];
    ui->listeningPortEdit->setText(value.AsString());
    ui->obfuscatedPortLabel->setText(ObfuscatedPortText(QString::number(value.AsInt64() + 1)));
}

// ---------------------------------------------------------------- controls

void MainWindow::OnUPnPCheckboxToggled(bool checked)
{
    SetSetting("use_upnp", YesNo(checked));
    // Unchecking leaves the mappings in place: they lapse on the gateway by themselves.
    if (checked && portForwarder)
        portForwarder->Init();
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool checked)
{
    SetSetting("minimize_to_tray", YesNo(checked));
    // Without a system tray the icon would show nowhere, and the window could never come back.
    m_trayIcon.setVisible(checked && QSystemTrayIcon::isSystemTrayAvailable());
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool checked)
{
    SetSetting("expand_new_shares", YesNo(checked));
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int index)
{
    // The box's order is the meaning of its entries; anything else, no selection included,
    // turns time stamps off.
    static const char* const modes[] = {"activity_based", "per_message_short", "per_message_long"};
    SetSetting("chat_timestamps", index >= 0 && index < 3 ? modes[index] : "no_timestamps");
}

void MainWindow::OnSelectColors()
{
    auto* dialog = new ColorSelectionDialog(this);
    dialog->show();
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool checked)
{
    SetSetting("accept_userlist_uploads", YesNo(checked));
}

void MainWindow::OnSelectPictureClicked()
{
    const QString picture = ChooseOnePath(this, "Select Picture", QFileDialog::ExistingFile);
    if (picture.isEmpty())
        return;
    SetSetting("user_picture_file", TextValue(picture));
    ui->userPictureFilenameEdit->setText(picture);
}

void MainWindow::OnUserInfoTextChanged()
{
    SetSetting("user_description", TextValue(ui->userDescriptionEdit->toPlainText()));
}

void MainWindow::OnClearPictureClicked()
{
    // No value at all, not an empty one: readers then see that no picture is set.
    d.GetType("global")->GetItem("user_picture_file").Disconnect("global_value");
    ui->userPictureFilenameEdit->clear();
}

void MainWindow::OnCheckPortsClicked()
{
    const auto open = [](const char* key) {
        const qint64 port = GetSetting(key).toLongLong();
        QDesktopServices::openUrl(MakerWebPageUrl("/porttest.php", QString("port=%1").arg(port)));
    };
    open("listening_port");
    open("obfuscated_listening_port");
}

void MainWindow::OnShowAwayStatusClicked(bool checked)
{
    SetSetting("show_away_status_in_application_icon", YesNo(checked));
    ResetApplicationIcon();
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool checked)
{
    SetSetting("log_room_chat", YesNo(checked));
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool checked)
{
    SetSetting("log_private_chat", YesNo(checked));
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool checked)
{
    SetSetting("check_for_empty_shares", YesNo(checked));
}

void MainWindow::OnEmptyShareWarningEditEdited(QString text)
{
    ui->saveEmptyShareWarningMessageButton->setEnabled(!text.trimmed().isEmpty());
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
    // Stored as typed: blanks around the message are the user's to keep.
    SetSetting("empty_share_message", TextValue(ui->emptyShareWarningEdit->text()));
    ui->emptyShareWarningEdit->setCursorPosition(0);
    ui->saveEmptyShareWarningMessageButton->setEnabled(false);
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int value)
{
    SetSetting("max_queued_uploads_per_user", value);
}

void MainWindow::OnCodePageSelected(int index)
{
    if (!extendedAsciiTranslator)
        return;
    // The first entry, "[None]", is no code page; so is a box that has lost its selection.
    if (index <= 0)
        extendedAsciiTranslator->SetCodePage(std::string());
    else
        extendedAsciiTranslator->SetCodePage(ui->codePageBox->itemText(index).toLatin1().toStdString());
}

// The toolbar actions and the dialogs they open are in mainwindow_actions.cpp.
