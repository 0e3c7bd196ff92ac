#include "ui/chat/roomform.h"

#include "app/actionsettoolbar.h"
#include "app/focus.h"
#include "model/sizemanager.h"
#include "model/timermanager.h"
#include "server/server.h"

#include "ui_roomform.h"

RoomForm::RoomForm(QString room, QWidget* parent)
    : QWidget(parent)
    , mp_ui(new Ui_RoomForm)
    , m_room(room)
{
    mp_ui->setupUi(this);
    mp_ui->splitter->setStretchFactor(0, 1);
    mp_ui->splitter->setStretchFactor(1, 0);

    ItemPtr roomItem = d.GetType("room")->GetItem(Value(m_room));
    roomItem += d.GetType("room_form")->GetItem(Value(static_cast<QWidget*>(this)));

    // The server taking the room away ends the tab.
    auto* root = new PathNode(roomItem);
    new PathNode(root, "in_room", PathDisconnectedTrigger);
    auto* left = new EventHandler<RoomForm, ItemPtr>(this, &RoomForm::OnLeftRoom);
    AddDataHandler(left);
    d.AddPathEventHandler(root, left);

    if (actionBar) {
        actionBar->RegisterWidget(this, "room");
        actionBar->AddWidgetKey(this, "room", m_room);
        // The member list is where users are picked: focused, it offers the per-user actions
        // on the selected member, whose name is in column 2.
        actionBar->RegisterWidget(mp_ui->userList, "user");
        actionBar->AddWidgetColumnKey(mp_ui->userList, "user", 2);
    }
    if (timerManager)
        connect(timerManager->everyHalfMinute(), &QTimer::timeout, this, &RoomForm::CheckChatInactivity);
}

RoomForm::~RoomForm()
{
    Unlink();
    if (!m_left && gp_server)
        gp_server->LeaveRoom(m_room);
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

void RoomForm::CheckChatInactivity()
{
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

void RoomForm::OnLeftRoom(ItemPtr)
{
    m_left = true;
    Unlink();
    // Not deleted here: this runs inside the graph's dispatch of the unlink.
    deleteLater();
}
