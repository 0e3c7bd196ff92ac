// The context toolbar's actions that the main window carries out, and the dialogs it opens.

#include "app/mainwindow.h"

#include "app/actionsettoolbar.h"
#include "app/filechooser.h"
#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "server/server.h"
#include "shares/sharedfoldersmanager.h"
#include "ui/chat/chatform.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/createroomdialog.h"
#include "ui/search/addsharedfolderdialog.h"
#include "ui/search/sharesform.h"
#include "ui/settings/changelisteningportdialog.h"
#include "ui/settings/changeusernamepassworddialog.h"
#include "ui/settings/datadialog.h"
#include "ui/settings/typenavigatordialog.h"

#include "ui_mainwindow.h"

#include <QDir>
#include <QIcon>
#include <QMessageBox>
#include <QTabWidget>
#include <QTreeWidget>

namespace {

// Asks without a parent window; only Yes goes ahead, and No is what Enter gives.
bool Confirm(const QString& title, const QString& text)
{
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    // The room name in the text comes from the network.
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

// A dialog shown without blocking, gone once closed.
void ShowModeless(QDialog* dialog)
{
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->show();
}

}  // namespace

void MainWindow::OnToolBarActionTriggered(QWidget*, QString id)
{
    Data::Scope scope(&d);
    const QString roomName = actionBar ? actionBar->GetKey("room") : QString();
    const QString userName = actionBar ? actionBar->GetKey("user") : QString();
    // With no room or user published, the subject would be an item named "", which the
    // server would be asked about and an auto-join mark would even save.
    const auto room = [&] { return d.GetType("room")->GetItem(Value(roomName)); };

    if (id == "refresh_room_list") {
        mp_server->GetRoomList();
    } else if (id == "enter_room") {
        if (!roomName.isEmpty())
            mp_server->EnterRoom(roomName, false);
    } else if (id == "create_room") {
        if (!createRoomDialog)
            new CreateRoomDialog(this);
        createRoomDialog->show();
        createRoomDialog->raise();
        createRoomDialog->activateWindow();
    } else if (id == "enable_private_room_add") {
        // The setting and the action's text follow the server's answer, not the request.
        mp_server->EnablePrivateRoomAdd(GetSetting("enable_private_room_add") != "yes");
    } else if (id == "share_folder") {
        ShowModeless(new AddSharedFolderDialog(ItemPtr(), this));
    } else if (id == "unshare_folder") {
        UnshareFolders(ui->sharedFoldersList->selectedItems());
    } else if (id == "set_download_folder") {
        const QString folder = ChooseOnePath(this, "Set Download Folder", QFileDialog::Directory);
        if (!folder.isEmpty()) {
            SetSetting("download_folder", folder);
            ui->downloadFolderEdit->setText(folder);
        }
    } else if (id == "rescan_shares") {
        if (sharedFoldersManager)
            sharedFoldersManager->RescanShares();
    } else if (id == "browse_user") {
        if (!userName.isEmpty())
            UserMenuOptions(userName).OnBrowseUser();
    } else if (id == "message_user") {
        if (!userName.isEmpty())
            UserMenuOptions(userName).OnMessageUser();
    } else if (id == "add_user") {
        if (!userName.isEmpty())
            UserMenuOptions(userName).OnAddUser();
    } else if (id == "toggle_room_autojoin") {
        if (roomName.isEmpty())
            return;
        ItemPtr r = room();
        if (r.IsConnected("room_autojoin"))
            r.Disconnect("room_autojoin");
        else
            r.NewItem("room_autojoin");
    } else if (id == "room_chat_log") {
        if (!roomName.isEmpty())
            OpenChatLog(ChatLogKind::Room, roomName, ui->roomsTabControl, this);
    } else if (id == "give_up_membership") {
        if (roomName.isEmpty())
            return;
        ItemPtr r = room();
        if (!r.IsConnected("is_member") || r.IsConnected("is_owner"))
            return;
        if (Confirm("Give up membership?",
                    QString("Are you sure you want to give up your membership to the %1 private room?").arg(roomName)))
            mp_server->GiveUpPrivateRoomMembership(roomName);
    } else if (id == "give_up_ownership") {
        if (roomName.isEmpty() || !room().IsConnected("is_owner"))
            return;
        if (!Confirm("Give up membership?",
                     QString("Are you SURE you want to give up your ownership of the %1 private room?").arg(roomName)))
            return;
        if (!Confirm("REALLY?", "REALLY?"))
            return;
        mp_server->GiveUpPrivateRoom(roomName);
        mp_server->LeaveRoom(roomName);
    } else if (id == "set_user_pass") {
        if (mp_server->IsConnected()) {
            QMessageBox box(QMessageBox::Information, "Cannot change username while online",
                            "You must be disconnected from the Tavrinel server to change your username.",
                            QMessageBox::Ok, this);
            box.exec();
        } else {
            ShowModeless(new ChangeUsernamePasswordDialog(false, this));
        }
    } else if (id == "set_listening_port") {
        ShowModeless(new ChangeListeningPortDialog(this));
    } else if (id == "connect_disconnect") {
        // Connecting counts as not logged in: a second press starts over rather than cancels.
        if (!mp_server->IsConnected())
            mp_server->Connect();
        else
            mp_server->Disconnect();
    }
}

void MainWindow::OnShowData()
{
    if (!mp_dataDialog)
        mp_dataDialog = new DataDialog(&d, this);
    mp_dataDialog->show();
    mp_dataDialog->raise();
    mp_dataDialog->activateWindow();
}

void MainWindow::OnTypeNavigator()
{
    if (!mp_typeNavigatorDialog) {
        auto* navigator = new TypeNavigatorDialog(this);
        navigator->Init();
        mp_typeNavigatorDialog = navigator;
    }
    mp_typeNavigatorDialog->show();
    mp_typeNavigatorDialog->raise();
    mp_typeNavigatorDialog->activateWindow();
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
    ShowModeless(new ChangeUsernamePasswordDialog(false, this));
}

void MainWindow::OnDisconnectClicked()
{
    mp_server->Disconnect();
}
