#include "ui/chat/roomlistitemwidget.h"

#include "model/data.h"

#include <QTreeWidget>

namespace {

// Owned rooms first, then operated ones, then memberships, then the rest.
int RankOf(bool owner, bool operatorRole, bool member)
{
    return owner ? 0 : operatorRole ? 1 : member ? 2 : 3;
}

// Looked up without creating: sorting must not grow the graph.
int LookUpRank(const QString& room)
{
    ItemPtr item = d.GetType("room")->HasItem(Value(room));
    if (!item)
        return RankOf(false, false, false);
    return RankOf(item.IsConnected("is_owner"), item.IsConnected("is_operator"), item.IsConnected("is_member"));
}

// An empty cell stands for no users; toInt gives 0 for it and for any non-number.
int CountOfText(const QTreeWidgetItem& row)
{
    return row.text(1).toInt();
}

int RankOfRow(const QTreeWidgetItem& row)
{
    return LookUpRank(row.text(0));
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
        const auto* room = dynamic_cast<const QRoomListItemWidget*>(&other);
        return Count() < (room ? room->Count() : CountOfText(other));
    }

    const auto* room = dynamic_cast<const QRoomListItemWidget*>(&other);
    const int a = Rank();
    const int b = room ? room->Rank() : RankOfRow(other);
    if (a != b)
        return a < b;
    return text(0).compare(other.text(0), Qt::CaseInsensitive) < 0;
}

void QRoomListItemWidget::SetRoles(bool owner, bool operatorRole, bool member)
{
    const int rank = RankOf(owner, operatorRole, member);
    if (rank == m_rank)
        return;
    m_rank = rank;
    // A list that sorts itself moves a changed row, this one alone, to its place.
    emitDataChanged();
}

void QRoomListItemWidget::SetUserCount(int count)
{
    if (m_hasCount && count == m_count)
        return;
    m_count = count;
    m_hasCount = true;
    QTreeWidget* list = treeWidget();
    if (!list)
        return;
    // A refreshed room list changes thousands of counts at once. Only a list sorted by the
    // count needs to hear of each, to move the row; telling any other would cost every change
    // a search for the row's place on screen, and a repaint is all it needs.
    if (list->isSortingEnabled() && list->sortColumn() == 1)
        emitDataChanged();
    else
        list->viewport()->update();
}

QVariant QRoomListItemWidget::data(int column, int role) const
{
    if (column == 1 && m_hasCount && (role == Qt::DisplayRole || role == Qt::EditRole))
        return m_count != 0 ? QString::number(m_count) : QString();
    return QTreeWidgetItem::data(column, role);
}

void QRoomListItemWidget::setData(int column, int role, const QVariant& value)
{
    // A text set as such replaces the count.
    if (column == 1 && (role == Qt::DisplayRole || role == Qt::EditRole))
        m_hasCount = false;
    QTreeWidgetItem::setData(column, role, value);
}

int QRoomListItemWidget::Count() const
{
    return m_hasCount ? m_count : CountOfText(*this);
}

int QRoomListItemWidget::Rank() const
{
    return m_rank >= 0 ? m_rank : RankOfRow(*this);
}
