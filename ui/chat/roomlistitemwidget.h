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

    // The user's role in the room, kept in the row so that sorting asks the graph nothing. A
    // change moves the row to its place in a list that keeps itself sorted. Until it is first
    // set, the row looks the roles up by its name.
    void SetRoles(bool owner, bool operatorRole, bool member);

    // The number of users, shown in column 1 (empty for 0) and kept as the row's sort key there.
    void SetUserCount(int count);

    QVariant data(int column, int role) const override;
    void setData(int column, int role, const QVariant& value) override;

private:
    int Rank() const;
    int Count() const;

    // 0 owned, 1 operated, 2 member, 3 none; -1 not yet set.
    int m_rank = -1;
    int m_count = 0;
    // False while column 1 shows a text set as such.
    bool m_hasCount = false;
};
