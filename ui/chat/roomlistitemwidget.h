// A row of the main window's room list: sorted by name, the rooms the user owns, operates or
// belongs to come first; sorted by the user count, numerically.
#pragma once

#include <QTreeWidgetItem>

class QTreeWidget;

class QRoomListItemWidget : public QTreeWidgetItem
{
public:
    explicit QRoomListItemWidget(QTreeWidget* list);

    bool operator<(const QTreeWidgetItem& other) const override;
};
