#include "ui/users/userlistitemwidget.h"

#include "model/data.h"

#include <QTreeWidget>

namespace {

// Looked up without creating: sorting must not grow the graph.
bool IsOnline(const QString& name)
{
    ItemPtr user = d.GetType("user")->HasItem(Value(name));
    return user && user.IsConnected("is_online");
}

}  // namespace

UserListItemWidget::UserListItemWidget(QTreeWidget* parent)
    : QTreeWidgetItem(parent, QTreeWidgetItem::Type)
{
}

UserListItemWidget::~UserListItemWidget() = default;

bool UserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    const QString a = text(0);
    const QString b = other.text(0);
    const bool aOnline = IsOnline(a);
    const bool bOnline = IsOnline(b);
    if (aOnline != bOnline)
        return aOnline;
    return a.compare(b, Qt::CaseInsensitive) < 0;
}
