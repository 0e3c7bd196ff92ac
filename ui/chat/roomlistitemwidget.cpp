#include "ui/chat/roomlistitemwidget.h"

#include "model/data.h"

#include <QTreeWidget>

namespace {

struct Roles
{
    bool owner = false;
    bool operatorRole = false;
    bool member = false;
};

// Looked up without creating: sorting must not grow the graph.
Roles RolesOf(const QString& room)
{
    Roles roles;
    ItemPtr item = d.GetType("room")->HasItem(Value(room));
    if (!item)
        return roles;
    roles.owner = item.IsConnected("is_owner");
    roles.operatorRole = item.IsConnected("is_operator");
    roles.member = item.IsConnected("is_member");
    return roles;
}

}  // namespace

QRoomListItemWidget::QRoomListItemWidget(QTreeWidget* list)
    : QTreeWidgetItem(list, QTreeWidgetItem::Type)
{
}

bool QRoomListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* list = treeWidget();
    const int column = list ? list->sortColumn() : 0;
    if (column != 0) {
        // An empty cell stands for no users; toInt gives 0 for it and for any non-number.
        return text(1).toInt() < other.text(1).toInt();
    }

    const Roles a = RolesOf(text(0));
    const Roles b = RolesOf(other.text(0));
    if (a.owner != b.owner)
        return a.owner;
    if (a.operatorRole != b.operatorRole)
        return a.operatorRole;
    if (a.member != b.member)
        return a.member;
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}
