// The tab of one joined chat room: the room's chat above an input line, its members beside.
#pragma once

#include "model/data.h"

#include <QString>
#include <QWidget>

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

public slots:
    void CheckChatInactivity();

private:
    void OnLeftRoom(ItemPtr room);
    void Unlink();

    Ui_RoomForm* mp_ui;
    QString m_room;
    // Set when the server took the room away: there is nothing left to leave.
    bool m_left = false;
};
