// The Rooms and Chat tabs: the room list, room tabs and private conversations.

#include "app/mainwindow.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "app/icons.h"
#include "app/tabwidget.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "server/server.h"
#include "ui/chat/chatform.h"
#include "ui/chat/messagelistform.h"
#include "ui/chat/roomform.h"
#include "ui/chat/roomlistitemwidget.h"

#include "ui_mainwindow.h"

#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>
#include <QTabWidget>

#include <functional>

namespace {

// The room's row in the room list, through the address its `room_node` holds; null when the
// room has no row.
QTreeWidgetItem* RoomRow(ItemPtr room)
{
    ItemPtr node = room["room_node"];
    if (!node)
        return nullptr;
    return reinterpret_cast<QTreeWidgetItem*>(static_cast<uintptr_t>(node.AsUInt64()));
}

// The user's open conversation, or null.
ChatForm* OpenChatFormOf(ItemPtr user)
{
    ItemPtr link = user["user_chat_widget"];
    if (!link)
        return nullptr;
    return reinterpret_cast<ChatForm*>(static_cast<uintptr_t>(link.AsUInt64()));
}

QFont RowFont(QTreeWidgetItem* row)
{
    const QVariant stored = row->data(0, Qt::FontRole);
    return stored.canConvert<QFont>() ? stored.value<QFont>() : QFont();
}

// The row keeps the room's roles as its sort keys.
void SetRowRoles(QTreeWidgetItem* row, ItemPtr room)
{
    if (auto* roomRow = dynamic_cast<QRoomListItemWidget*>(row))
        roomRow->SetRoles(room.IsConnected("is_owner"), room.IsConnected("is_operator"),
                          room.IsConnected("is_member"));
}

void RestyleRoomRow(QTreeWidget* list, ItemPtr room, const std::function<void(QFont&)>& change)
{
    QTreeWidgetItem* row = RoomRow(room);
    if (!row)
        return;
    // The order puts the rooms with a role first, so a role change can move the row. A list
    // that keeps itself sorted moves this row alone; sorting all of it again for each role of
    // each private room would cost the whole list every time.
    SetRowRoles(row, room);
    QFont font = RowFont(row);
    change(font);
    row->setData(0, Qt::FontRole, font);
    if (!list->isSortingEnabled()) {
        const QHeaderView* header = list->header();
        list->sortItems(header->sortIndicatorSection(), header->sortIndicatorOrder());
    }
}

void SetChatTabIcon(QTabWidget* tabs, ItemPtr user, const char* icon)
{
    ChatForm* form = OpenChatFormOf(user);
    if (!form)
        return;
    const int index = tabs->indexOf(form);
    if (index >= 0)
        tabs->setTabIcon(index, ResourceIcon(icon));
}

}  // namespace

// ---------------------------------------------------------------- room list

void MainWindow::OnRoomAdded(ItemPtr room)
{
    if (room["room_node"])
        return;
    auto* row = new QRoomListItemWidget(ui->roomList);
    row->setText(0, room.AsString());
    SetRowRoles(row, room);
    room += d.GetType("room_node")->GetItem(Value(static_cast<QTreeWidgetItem*>(row)));
}

void MainWindow::OnRoomUserCountChanged(ItemPtr room)
{
    QTreeWidgetItem* row = RoomRow(room);
    if (!row)
        return;
    ItemPtr count = room["user_count"];
    // The row shows the count, empty for 0.
    if (auto* roomRow = dynamic_cast<QRoomListItemWidget*>(row))
        roomRow->SetUserCount(count ? count.AsInt() : 0);
}

void MainWindow::OnBecomingRoomOwner(ItemPtr room)
{
    RestyleRoomRow(ui->roomList, room, [](QFont& font) {
        font.setItalic(true);
        font.setUnderline(true);
        font.setWeight(QFont::Bold);
    });
}

void MainWindow::OnBecomingRoomOperator(ItemPtr room)
{
    RestyleRoomRow(ui->roomList, room, [](QFont& font) {
        font.setItalic(true);
        font.setWeight(QFont::Bold);
    });
}

void MainWindow::OnBecomingRoomMember(ItemPtr room)
{
    // An owner's or operator's row already shows more than membership.
    if (room.IsConnected("is_owner") || room.IsConnected("is_operator"))
        return;
    RestyleRoomRow(ui->roomList, room, [](QFont& font) { font.setItalic(true); });
}

void MainWindow::OnLosingRoomRole(ItemPtr room)
{
    const bool member = room.IsConnected("is_member");
    const bool owner = room.IsConnected("is_owner");
    const bool operatorRole = room.IsConnected("is_operator");
    RestyleRoomRow(ui->roomList, room, [=](QFont& font) {
        font.setItalic(member);
        font.setUnderline(owner);
        font.setWeight(operatorRole ? QFont::Bold : QFont::Normal);
    });
}

void MainWindow::OnEnteredRoom(ConnectionInfo& info)
{
    ItemPtr room = info.item;
    if (room["room_form"])
        return;
    const QString name = room.AsString();
    auto* form = new RoomForm(name, nullptr);
    // Rooms entered at login come in hundreds.
    ui->roomsTabControl->addTab(form, ResourceIcon(QStringLiteral(":/icons/room_icon")), LabelText(name));
    form->Init();
    FocusWidget(form);
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem* item, int column)
{
    if (column != 0 || !item)
        return;
    mp_server->EnterRoom(item->text(0), false);
}

void MainWindow::OnRoomListItemSelectionChanged()
{
}

void MainWindow::OnRoomListContextMenuRequested(QPoint pos)
{
    if (!ui->roomList->itemAt(pos))
        return;
    QMenu menu;
    menu.addAction(QIcon(":/icons/room_icon"), "Enter Room", this, &MainWindow::OnEnterRoom);
    menu.exec(ui->roomList->viewport()->mapToGlobal(pos));
}

void MainWindow::OnEnterRoom()
{
    // The selection, not the row under the mouse.
    const QList<QTreeWidgetItem*> rows = ui->roomList->selectedItems();
    if (rows.isEmpty())
        return;
    mp_server->EnterRoom(rows.first()->text(0), false);
}

void MainWindow::OnRoomTabClosed(int index)
{
    delete ui->roomsTabControl->widget(index);
}

void MainWindow::OnPrivateRoomAddEnabled(bool enabled)
{
    SetSetting("enable_private_room_add", enabled ? "yes" : "no");
    if (actionBar)
        actionBar->SetWidgetActionText(ui->roomList, "enable_private_room_add",
                                       enabled ? "Reject Private Room Invitations"
                                               : "Accept Private Room Invitations");
}

// ---------------------------------------------------------------- private chats

ChatForm* MainWindow::GetChatForm(const QString& user)
{
    ItemPtr userItem = d.GetType("user")->GetItem(Value(user));
    if (ChatForm* open = OpenChatFormOf(userItem))
        return open;

    auto* form = new ChatForm(user, ui->chatTabControl, this);
    const char* icon = userItem.IsConnected("is_online") ? ":/icons/online_dot_icon" : ":/icons/offline_dot_icon";
    // A burst of new senders lays the tab row out once.
    ui->chatTabControl->ChatTabs()->InsertTab(ui->chatTabControl, -1, form, ResourceIcon(icon), LabelText(user));
    userItem += d.GetType("user_chat_widget")->GetItem(Value(form));
    mp_server->TrackUser(user);
    return form;
}

void MainWindow::OpenChatForm(const QString& user)
{
    FocusWidgetAndParents(GetChatForm(user));
}

void MainWindow::OnPrivateChat(QString user, QString text, time_t, bool)
{
    GetChatForm(user)->AddChat(user, text);
}

void MainWindow::OnChatTabClosed(int index)
{
    QWidget* page = ui->chatTabControl->widget(index);
    // The message list is a fixed page.
    if (qobject_cast<MessageListForm*>(page))
        return;
    delete page;
}

void MainWindow::OnUserOnline(ItemPtr user)
{
    SetChatTabIcon(ui->chatTabControl, user, ":/icons/online_dot_icon");
}

void MainWindow::OnUserOffline(ItemPtr user)
{
    SetChatTabIcon(ui->chatTabControl, user, ":/icons/offline_dot_icon");
}
