// The one window that sets each user-list group's download priority and upload right, and
// deletes groups. Every change is stored at once.
#pragma once

#include "model/data.h"

#include <QDialog>
#include <QString>

#include <map>

class QListWidgetItem;
class Ui_UserGroupConfigDialog;

class UserGroupConfigDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    explicit UserGroupConfigDialog(QWidget* parent = nullptr);
    ~UserGroupConfigDialog() override;

private slots:
    void OnCurrentGroupItemChanged(QListWidgetItem* ip_currentItem, QListWidgetItem* ip_lastItem);
    void OnPrioritySpinValueChanged(int i_value);
    void OnAcceptUploadsCheckboxToggled(bool i_toggled);
    void OnDeleteClicked();

private:
    void OnUserGroupAdded(ItemPtr i_group);
    void OnUserGroupRemoved(ItemPtr i_group);
    // The group of the current row; null when there is no current row.
    ItemPtr CurrentGroup() const;

    Ui_UserGroupConfigDialog* mp_ui;
    // Rows by group name, so a removed group's row is found without a walk.
    std::map<QString, QListWidgetItem*> m_rows;
};

// The open dialog, or null.
extern UserGroupConfigDialog* userGroupConfigDialog;
