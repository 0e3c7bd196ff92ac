#include "ui/chat/roomform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "app/usermenuoptions.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "model/sizemanager.h"
#include "model/timermanager.h"
#include "server/server.h"
#include "ui/chat/chatlog.h"
#include "ui/chat/roomuserlistitemwidget.h"
#include "ui/users/usernotedialog.h"

#include "ui_roomform.h"

#include <QDesktopServices>
#include <QFont>
#include <QHeaderView>
#include <QIcon>
#include <QMenu>

namespace {

using Row = QRoomUserListItemWidget;

const int kNormal = 50;
const int kBold = 75;

// A path of the graph rooted at every user.
PathNode* UserPath()
{
    return new PathNode(&d, "user");
}

// The flag of a country code. Rows of one country share one icon: a room of thousands would
// otherwise hold thousands of copies of a few flags.
QIcon FlagIcon(const QString& code)
{
    static QHash<QString, QIcon> flags;
    auto found = flags.find(code);
    if (found == flags.end())
        found = flags.insert(code, QIcon(":/resources/flags/" + code.toLower() + ".png"));
    return *found;
}

QIcon NoteIcon()
{
    static const QIcon icon(":/icons/note_icon");
    return icon;
}

QString AutojoinText(bool on)
{
    return on ? QStringLiteral("Auto-Join Room [on]") : QStringLiteral("Auto-Join Room [off]");
}

}  // namespace

RoomForm::RoomForm(QString room, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_RoomForm)
    , m_room(room)
    , m_activity(ChatNow())
{
    mp_ui->setupUi(this);
    connect(mp_ui->userList, &QTreeWidget::itemClicked, this, &RoomForm::OnUserItemClicked);
    connect(mp_ui->chatEdit, &QLineEdit::returnPressed, this, &RoomForm::OnEnterPressed);
    connect(mp_ui->userList, &QWidget::customContextMenuRequested, this, &RoomForm::OnUserListContextMenuRequested);
    connect(mp_ui->chatView, &QTextBrowser::anchorClicked, this, &RoomForm::OnURLClicked);

    QList<int> sizes = mp_ui->splitter->sizes();
    sizes[0] = 280;
    sizes[1] = 280;
    mp_ui->splitter->setSizes(sizes);
    // Widening the tab widens the chat, not the member list.
    mp_ui->splitter->setStretchFactor(0, 1);
    mp_ui->splitter->setStretchFactor(1, 0);

    QTreeWidget* list = mp_ui->userList;
    list->setHeaderLabels({QString(), QString(), "User", QString(), "Files", "K/s"});
    const int widths[] = {20, 25, 90, 25, 50, 40};
    for (int column = 0; column < 6; ++column)
        list->setColumnWidth(column, widths[column]);
    // The list keeps its order itself: a member joining goes straight to its place, where a
    // list that sorts itself would sort all its rows again for every one who joins. The header
    // still shows and changes the order.
    list->setSortingEnabled(false);
    list->header()->setSortIndicatorShown(true);
    list->header()->setSectionsClickable(true);
    connect(list->header(), &QHeaderView::sortIndicatorChanged, this, &RoomForm::OnSortIndicatorChanged);
    list->sortItems(Row::NameColumn, Qt::AscendingOrder);
    list->header()->setStretchLastSection(true);
    list->headerItem()->setIcon(Row::NoteColumn, QIcon(":/icons/note_icon"));

    Data::Scope scope(&d);
    ItemPtr roomItem = RoomItem();
    roomItem += d.GetType("room_form")->GetItem(Value(static_cast<QWidget*>(this)));

    // A member's row is made once the user is in the room and has all three statistics.
    PathNode* path = UserPath();
    new PathNode(path, roomItem, PathConnected);
    new PathNode(path, "average_download_speed", PathConnected);
    new PathNode(path, "shared_files_count", PathConnected);
    new PathNode(path, "country_code", PathConnected);
    Listen(path, &RoomForm::OnUserAdded);
    path = UserPath();
    new PathNode(path, roomItem, PathDisconnectedTrigger);
    Listen(path, &RoomForm::OnUserRemoved);
    path = UserPath();
    new PathNode(new PathNode(path, "room_operators", PathConnected), roomItem, PathConnected);
    Listen(path, &RoomForm::OnOperatorAdded);
    path = UserPath();
    new PathNode(new PathNode(path, "room_operators", PathDisconnectedTrigger), roomItem, PathConnected);
    Listen(path, &RoomForm::OnOperatorRemoved);

    if (gp_server)
        connect(gp_server, &Server::RoomChat, this, &RoomForm::OnRoomChat);

    // The server taking the room away ends the tab.
    path = new PathNode(roomItem);
    new PathNode(path, "in_room", PathDisconnectedTrigger);
    Listen(path, &RoomForm::OnLeftRoom);

    if (actionBar) {
        actionBar->RegisterWidget(this, "room");
        actionBar->AddWidgetKey(this, "room", m_room);
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin",
                                       AutojoinText(roomItem.IsConnected("room_autojoin")));
        // The give-up actions fit the role the room has now; it is not looked at again.
        const bool owner = roomItem.IsConnected("is_owner");
        actionBar->SetWidgetActionHidden(this, "give_up_membership", !(roomItem.IsConnected("is_member") && !owner));
        actionBar->SetWidgetActionHidden(this, "give_up_ownership", !owner);
        // The member list is where users are picked: focused, it offers the per-user actions
        // on the selected member, whose name is in column 2.
        actionBar->RegisterWidget(mp_ui->userList, "user");
        actionBar->AddWidgetColumnKey(mp_ui->userList, "user", Row::NameColumn);
    }

    path = new PathNode(roomItem);
    new PathNode(path, "room_autojoin", PathConnectedTrigger);
    Listen(path, &RoomForm::OnRoomAutojoinOn);
    path = new PathNode(roomItem);
    new PathNode(path, "room_autojoin", PathDisconnectedTrigger);
    Listen(path, &RoomForm::OnRoomAutojoinOff);

    if (gp_server) {
        connect(gp_server, &Server::Connected, this, &RoomForm::OnConnected);
        connect(gp_server, &Server::Disconnected, this, &RoomForm::OnDisconnected);
    }
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &RoomForm::CheckChatInactivity);

    path = UserPath();
    new PathNode(path, "user_note", PathConnectedTrigger);
    Listen(path, &RoomForm::OnUserNoteChanged);
    path = UserPath();
    new PathNode(path, "user_note", PathDisconnectedTrigger);
    Listen(path, &RoomForm::OnUserNoteRemoved);
}

RoomForm::~RoomForm()
{
    // Nothing from outside may reach a tab that is going, least of all the unlinks below.
    Detach();
    Unlink();
    if (!m_left && gp_server) {
        if (gp_server->IsConnected()) {
            gp_server->LeaveRoom(m_room);
        } else {
            // The server cannot be asked now, and would never confirm: the room counts as left
            // here, so that entering it again opens a tab.
            Data::Scope scope(&d);
            ItemPtr roomItem = RoomItem();
            roomItem.Disconnect("in_room");
            roomItem.Disconnect("user");
        }
    }
    delete mp_ui;
}

void RoomForm::Init()
{
    if (sizeManager) {
        sizeManager->RegisterSplitter("room_splitter", mp_ui->splitter, QList<int>());
        sizeManager->RegisterTreeWidget("room_user_list", mp_ui->userList);
    }
    RegisterWidgetForTabFocus(mp_ui->chatEdit, 1);
}

void RoomForm::Listen(PathNode* root, void (RoomForm::*handler)(ItemPtr))
{
    auto* h = new EventHandler<RoomForm, ItemPtr>(this, handler);
    AddDataHandler(h);
    d.AddPathEventHandler(root, h);
}

ItemPtr RoomForm::RoomItem() const
{
    return d.GetType("room")->GetItem(Value(m_room));
}

QRoomUserListItemWidget* RoomForm::RowOf(ItemPtr user) const
{
    return m_rows.value(user.AsString());
}

// ---------------------------------------------------------------- members

void RoomForm::OnUserAdded(ItemPtr user)
{
    const QString name = user.AsString();
    // A row once made stays as it is: later statistics do not change it.
    if (m_rows.contains(name))
        return;
    // Filled first, so that its place can be found.
    auto* row = new Row(nullptr);
    m_rows.insert(name, row);
    row->setText(Row::NameColumn, name);

    ItemPtr roomItem = RoomItem();
    ItemPtr operators = roomItem["room_operators"];
    ItemPtr owner = roomItem["room_owner"];
    const bool isOwner = owner && owner.IsConnected(user);
    if (isOwner || (operators && operators.IsConnected(user))) {
        QFont font = row->font(Row::NameColumn);
        font.setWeight(kBold);
        font.setUnderline(isOwner);
        row->setFont(Row::NameColumn, font);
    }

    const QString country = user["country_code"].AsString();
    if (!country.isEmpty())
        row->setIcon(Row::FlagColumn, FlagIcon(country));
    row->setText(Row::FilesColumn, CommafyNumber(user["shared_files_count"].AsInt()));
    const double speed = user["average_download_speed"].AsInt() * (1.0 / 1024);
    if (speed != 0)
        row->setText(Row::SpeedColumn, QStringLiteral("%1").arg(speed, 0, 'f', 1));
    if (user.IsConnected("user_note"))
        row->setIcon(Row::NoteColumn, NoteIcon());
    mp_ui->userList->insertTopLevelItem(SortedPlace(row), row);

    CountMembers();
}

// Where the row goes in the list as it is sorted now: after the rows that sort before it or
// equal to it.
int RoomForm::SortedPlace(const QTreeWidgetItem* row) const
{
    QTreeWidget* list = mp_ui->userList;
    const bool ascending = list->header()->sortIndicatorOrder() == Qt::AscendingOrder;
    int low = 0;
    int high = list->topLevelItemCount();
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const QTreeWidgetItem* at = list->topLevelItem(middle);
        if (ascending ? *row < *at : *at < *row)
            high = middle;
        else
            low = middle + 1;
    }
    return low;
}

void RoomForm::OnSortIndicatorChanged(int i_column, Qt::SortOrder i_order)
{
    mp_ui->userList->model()->sort(i_column, i_order);
}

void RoomForm::OnUserRemoved(ItemPtr user)
{
    Row* row = m_rows.take(user.AsString());
    if (!row)
        return;
    delete row;
    CountMembers();
}

// The room's member count, kept by the tab while it is open. Read off the room's neighbours,
// not by collecting them: a join of thousands counts once per member.
void RoomForm::CountMembers()
{
    ItemPtr roomItem = RoomItem();
    const ItemSet* members = roomItem->Neighbours(d.GetType("user"));
    const int count = members ? static_cast<int>(members->size()) : 0;
    roomItem += d.GetType("user_count")->GetItem(Value(count));
}

void RoomForm::SetNameWeight(ItemPtr user, int weight)
{
    Row* row = RowOf(user);
    if (!row)
        return;
    QFont font = row->font(Row::NameColumn);
    font.setWeight(weight);
    row->setFont(Row::NameColumn, font);
}

void RoomForm::OnOperatorAdded(ItemPtr user)
{
    SetNameWeight(user, kBold);
}

void RoomForm::OnOperatorRemoved(ItemPtr user)
{
    SetNameWeight(user, kNormal);
}

void RoomForm::OnUserNoteChanged(ItemPtr user)
{
    if (Row* row = RowOf(user))
        row->setIcon(Row::NoteColumn, NoteIcon());
}

void RoomForm::OnUserNoteRemoved(ItemPtr user)
{
    if (Row* row = RowOf(user))
        row->setIcon(Row::NoteColumn, QIcon());
}

void RoomForm::OnRoomAutojoinOn(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", AutojoinText(true));
}

void RoomForm::OnRoomAutojoinOff(ItemPtr)
{
    if (actionBar)
        actionBar->SetWidgetActionText(this, "toggle_room_autojoin", AutojoinText(false));
}

void RoomForm::OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column)
{
    if (!ip_item || i_column != Row::NoteColumn)
        return;
    const QString user = ip_item->text(Row::NameColumn);
    ItemPtr userItem = d.GetType("user")->HasItem(Value(user));
    if (userItem && userItem.IsConnected("user_note"))
        UserNoteDialog::GetDialog(user)->show();
}

void RoomForm::OnUserListContextMenuRequested(QPoint i_point)
{
    QTreeWidgetItem* row = mp_ui->userList->itemAt(i_point);
    if (!row)
        return;
    QMenu menu;
    UserMenuOptions options(&menu, row->text(Row::NameColumn));
    menu.exec(mp_ui->userList->viewport()->mapToGlobal(i_point));
}

// ---------------------------------------------------------------- the connection

void RoomForm::OnConnected()
{
    AddStatusMessage(QStringLiteral("Reconnected at %1.").arg(ChatTimeShort(ChatNow())));
    // Whatever kind of room it is, it is entered again as a public one.
    gp_server->EnterRoom(m_room, false);
}

void RoomForm::OnDisconnected()
{
    AddStatusMessage(QStringLiteral("Disconnected at %1.").arg(ChatTimeShort(ChatNow())));
}

void RoomForm::OnLeftRoom(ItemPtr)
{
    m_left = true;
    // This runs inside the graph's unlink, so the tab is deleted later; until then it must
    // neither show nor send anything, and a new join must find no form here.
    Detach();
    Unlink();
    deleteLater();
}

void RoomForm::Detach()
{
    RemoveDataHandlers();
    if (gp_server)
        disconnect(gp_server, nullptr, this, nullptr);
    if (timerManager)
        disconnect(timerManager->everyHalfMinute(), nullptr, this, nullptr);
}

// The link holds this form's address: it must not outlive the form, and a later join of the
// same room must find no form, so it goes as soon as the tab is done.
void RoomForm::Unlink()
{
    Data::Scope scope(&d);
    ItemPtr link = d.GetType("room_form")->HasItem(Value(static_cast<QWidget*>(this)));
    if (link)
        link.Remove();
}

// ---------------------------------------------------------------- chat

void RoomForm::OnRoomChat(QString i_room, QString i_user, QString i_chat)
{
    // Every tab hears every room.
    if (i_room != m_room)
        return;
    const QString text = i_chat.trimmed();
    const QDateTime now = ChatNow();

    // An action is a status line: no time, no activity, no bound.
    QString action;
    if (ChatAction(i_user, text, &action)) {
        AddStatusMessage(action);
        LogChat(ChatLogKind::Room, m_room, i_user, text, now);
        return;
    }

    const QString mode = GetSetting("chat_timestamps");
    const QString started = m_activity.OnChatLine(mode, now);
    if (!started.isEmpty())
        AddStatusMessage(started);
    m_chat.Append(mp_ui->chatView, ChatLineHtml(mode, now, i_user, text));
    LogChat(ChatLogKind::Room, m_room, i_user, text, now);
}

void RoomForm::AddStatusMessage(QString text)
{
    m_chat.Append(mp_ui->chatView, ChatStatusHtml(text));
}

void RoomForm::OnEnterPressed()
{
    const QString text = mp_ui->chatEdit->text();
    // A tab the server took away waits only for its deletion.
    if (text.isEmpty() || m_left)
        return;
    // Sent as typed; the line shows when the server hands it back. One that did not leave stays
    // in the input line, to be sent again once connected.
    if (!gp_server->SendRoomChat(m_room, text)) {
        AddStatusMessage("Message not sent: not connected to the server.");
        return;
    }
    mp_ui->chatEdit->clear();
}

void RoomForm::CheckChatInactivity()
{
    const QString ended = m_activity.OnTick(GetSetting("chat_timestamps"), ChatNow());
    if (!ended.isEmpty())
        AddStatusMessage(ended);
}

void RoomForm::OnURLClicked(QUrl i_url)
{
    QDesktopServices::openUrl(i_url);
    mp_ui->chatEdit->setFocus(Qt::OtherFocusReason);
}
