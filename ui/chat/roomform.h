// The tab of one joined chat room: the room's chat above an input line, its members beside.
#pragma once

#include "model/data.h"
#include "ui/chat/chatdisplay.h"

#include <QHash>
#include <QPoint>
#include <QString>
#include <QUrl>
#include <QWidget>

class QRoomUserListItemWidget;
class QTreeWidgetItem;
class Ui_RoomForm;

class RoomForm : public QWidget, public DataHandler
{
    Q_OBJECT

public:
    RoomForm(QString room, QWidget* parent = nullptr);
    ~RoomForm() override;

    // Called once the form is a tab: the geometry it remembers depends on being laid out there.
    void Init();

    QString Room() const { return m_room; }

    // Appends a status line ("* text" in the status colour); never logged.
    void AddStatusMessage(QString text);

public slots:
    void OnRoomChat(QString i_room, QString i_user, QString i_chat);
    void OnUserItemClicked(QTreeWidgetItem* ip_item, int i_column);
    void OnEnterPressed();
    void OnConnected();
    void OnDisconnected();
    void OnUserListContextMenuRequested(QPoint i_point);
    void CheckChatInactivity();
    void OnURLClicked(QUrl i_url);

private:
    void OnUserAdded(ItemPtr user);
    void OnUserRemoved(ItemPtr user);
    void OnOperatorAdded(ItemPtr user);
    void OnOperatorRemoved(ItemPtr user);
    void OnUserNoteChanged(ItemPtr user);
    void OnUserNoteRemoved(ItemPtr user);
    void OnRoomAutojoinOn(ItemPtr room);
    void OnRoomAutojoinOff(ItemPtr room);
    void OnLeftRoom(ItemPtr room);

    // Calls the handler each time the path from `root` fires, while the tab listens.
    void Listen(PathNode* root, void (RoomForm::*handler)(ItemPtr));
    ItemPtr RoomItem() const;
    QRoomUserListItemWidget* RowOf(ItemPtr user) const;
    int SortedPlace(const QTreeWidgetItem* row) const;
    void OnSortIndicatorChanged(int i_column, Qt::SortOrder i_order);
    void SetNameWeight(ItemPtr user, int weight);
    void CountMembers();
    // Ends everything that could still reach the tab from outside: graph handlers, the server's
    // and the timer's signals.
    void Detach();
    void Unlink();

    Ui_RoomForm* mp_ui;
    QString m_room;
    ChatActivity m_activity;
    // Every line of the chat view, status lines too, is appended through it.
    BoundedChatView m_chat;
    // Set when the server took the room away: there is nothing left to leave.
    bool m_left = false;
    // The member rows by user name: a room of thousands is not searched row by row.
    QHash<QString, QRoomUserListItemWidget*> m_rows;
};
