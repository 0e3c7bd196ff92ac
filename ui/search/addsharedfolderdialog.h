// Shares a new folder, or changes who may see one already shared: everyone, everyone on the
// user list, or only the members of chosen user-list groups.
#pragma once

#include "model/data.h"

#include <QDialog>
#include <QString>

class Ui_AddSharedFolderDialog;

class AddSharedFolderDialog : public QDialog
{
    Q_OBJECT

public:
    // A null folder: the dialog for choosing and sharing a new one. Deletes itself once closed.
    AddSharedFolderDialog(ItemPtr folder, QWidget* parent = nullptr);
    ~AddSharedFolderDialog() override;

public slots:
    void OnSelectFolderClicked();
    void OnAccessibleToEveryoneCheckStateChanged(int i_checkState);
    void OnAccessibleToUserListCheckStateChanged(int i_checkState);
    void accept() override;

private:
    Ui_AddSharedFolderDialog* ui;
    // The folder is found again by its path on OK: it may have been unshared, and its item
    // freed, while the dialog stood open.
    bool m_editing = false;
    QString m_folderPath;
};
