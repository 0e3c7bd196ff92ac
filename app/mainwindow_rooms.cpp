// The Rooms and Chat tabs: the room list, room tabs and private conversations.

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::OnRoomAdded(ItemPtr)
{
}

void MainWindow::OnRoomUserCountChanged(ItemPtr)
{
}

void MainWindow::OnBecomingRoomOwner(ItemPtr)
{
}

void MainWindow::OnBecomingRoomOperator(ItemPtr)
{
}

void MainWindow::OnBecomingRoomMember(ItemPtr)
{
}

void MainWindow::OnLosingRoomRole(ItemPtr)
{
}

void MainWindow::OnEnteredRoom(ConnectionInfo&)
{
}

void MainWindow::OnRoomListItemDoubleClicked(QTreeWidgetItem*, int)
{
}

void MainWindow::OnRoomListItemSelectionChanged()
{
}

void MainWindow::OnRoomListContextMenuRequested(QPoint)
{
}

void MainWindow::OnEnterRoom()
{
}

void MainWindow::OnRoomTabClosed(int)
{
}

void MainWindow::OnPrivateRoomAddEnabled(bool)
{
}

ChatForm* MainWindow::GetChatForm(const QString&)
{
    return nullptr;
}

void MainWindow::OpenChatForm(const QString&)
{
}

void MainWindow::OnPrivateChat(QString, QString, time_t, bool)
{
}

void MainWindow::OnChatTabClosed(int)
{
}

void MainWindow::OnUserOnline(ItemPtr)
{
}

void MainWindow::OnUserOffline(ItemPtr)
{
}
