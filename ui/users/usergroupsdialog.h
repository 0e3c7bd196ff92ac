// Puts one listed user into user-list groups or takes the user out of them, and creates groups.
#pragma once

#include "model/data.h"

#include <QDialog>
#include <QString>

#include <map>

class QListWidgetItem;
class Ui_UserGroupsDialog;

class UserGroupsDialog : public QDialog, public DataHandler
{
    Q_OBJECT

public:
    UserGroupsDialog(QString i_user, QWidget* parent = nullptr);
    ~UserGroupsDialog() override;

public slots:
    void OnNewGroupButtonClicked();
    void OnGroupItemChanged(QListWidgetItem* ip_item);

private:
    void OnUserGroupAdded(ItemPtr i_group);
    void OnUserGroupRemoved(ItemPtr i_group);
    // Null once the user has left the list: no membership can be recorded then.
    ItemPtr ListedItem() const;
    void AddRow(ItemPtr i_group, bool i_checked);

    QString m_user;
    Ui_UserGroupsDialog* mp_ui;
    // Rows by group name, so a removed group's row is found without a walk.
    std::map<QString, QListWidgetItem*> m_rows;
};
