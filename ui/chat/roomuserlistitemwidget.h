// A row of a room tab's member list: by name without regard to case, and by the numbers behind
// the file-count and speed cells.
#pragma once

#include <QTreeWidgetItem>

class QTreeWidget;

class QRoomUserListItemWidget : public QTreeWidgetItem
{
public:
    // The columns the room tab fills.
    enum Column { FlagColumn = 1, NameColumn = 2, NoteColumn = 3, FilesColumn = 4, SpeedColumn = 5 };

    explicit QRoomUserListItemWidget(QTreeWidget* list);

    bool operator<(const QTreeWidgetItem& other) const override;
};
