// The Options page: shared folders, the settings controls and the toolbar actions.

#include "app/mainwindow.h"

#include "ui_mainwindow.h"

void MainWindow::OnSharedFolderAdded(ItemPtr)
{
}

void MainWindow::OnSharedFolderRemoved(ItemPtr)
{
}

void MainWindow::OnSharedFolderChange(ConnectionInfo)
{
}

void MainWindow::OnSharedFoldersListContextMenuRequested(QPoint)
{
}

void MainWindow::OnUnshareFolder()
{
}

void MainWindow::OnSetFolderPermissions()
{
}

void MainWindow::OnSharedFilesRescanned(int, int)
{
}

void MainWindow::OnOptionsTabSelectionChanged(int)
{
}

void MainWindow::OnUsernameChanged(ItemPtr)
{
}

void MainWindow::OnObfuscatedPortSet(ItemPtr)
{
}

void MainWindow::OnNewListeningPortChanged(ItemPtr)
{
}

void MainWindow::OnUPnPCheckboxToggled(bool)
{
}

void MainWindow::OnMinimizeToTrayCheckboxToggled(bool)
{
}

void MainWindow::OnExpandNewSharesCheckboxToggled(bool)
{
}

void MainWindow::OnChatTimestampsBoxIndexChanged(int)
{
}

void MainWindow::OnSelectColors()
{
}

void MainWindow::OnAcceptUserlistUploadsCheckboxToggled(bool)
{
}

void MainWindow::OnSelectPictureClicked()
{
}

void MainWindow::OnUserInfoTextChanged()
{
}

void MainWindow::OnClearPictureClicked()
{
}

void MainWindow::OnCheckPortsClicked()
{
}

void MainWindow::OnShowAwayStatusClicked(bool)
{
}

void MainWindow::OnLogRoomChatCheckBoxClicked(bool)
{
}

void MainWindow::OnLogPrivateChatCheckBoxClicked(bool)
{
}

void MainWindow::OnEmptyShareWarningMessageCheckBoxClicked(bool)
{
}

void MainWindow::OnEmptyShareWarningEditEdited(QString)
{
}

void MainWindow::OnSaveEmptyShareWarningMessageButtonClicked()
{
}

void MainWindow::OnMaxUploadsPerUserSpinBoxValueChanged(int)
{
}

void MainWindow::OnCodePageSelected(int)
{
}

void MainWindow::OnToolBarActionTriggered(QWidget*, QString)
{
}

void MainWindow::OnShowData()
{
}

void MainWindow::OnTypeNavigator()
{
}

void MainWindow::OnChangeUsernamePasswordClicked()
{
}

void MainWindow::OnDisconnectClicked()
{
}
