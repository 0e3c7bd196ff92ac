// A row of the User List: online users first, then by name without regard to case.
#pragma once

#include <QTreeWidgetItem>

class QTreeWidget;

class UserListItemWidget : public QTreeWidgetItem
{
public:
    explicit UserListItemWidget(QTreeWidget* parent);
    ~UserListItemWidget() override;

    // The sort column is not consulted: the order is the same whatever column the list sorts by.
    bool operator<(const QTreeWidgetItem& other) const override;
};
