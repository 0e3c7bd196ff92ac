#include "ui/chat/roomuserlistitemwidget.h"

#include <QTreeWidget>

namespace {

// The number a cell shows: "1,234" files or "12.5" KiB/s; an empty cell stands for 0.
double CellNumber(const QTreeWidgetItem& row, int column)
{
    QString text = row.text(column);
    text.remove(QLatin1Char(','));
    return text.toDouble();
}

int CompareNames(const QTreeWidgetItem& a, const QTreeWidgetItem& b)
{
    using C = QRoomUserListItemWidget;
    return a.text(C::NameColumn).compare(b.text(C::NameColumn), Qt::CaseInsensitive);
}

}  // namespace

QRoomUserListItemWidget::QRoomUserListItemWidget(QTreeWidget* list)
    : QTreeWidgetItem(list, QTreeWidgetItem::Type)
{
}

bool QRoomUserListItemWidget::operator<(const QTreeWidgetItem& other) const
{
    // A row about to be placed is not in the list yet; the other row is.
    const QTreeWidget* list = treeWidget() ? treeWidget() : other.treeWidget();
    const int column = list ? list->sortColumn() : NameColumn;
    if (column == FilesColumn || column == SpeedColumn) {
        const double a = CellNumber(*this, column);
        const double b = CellNumber(other, column);
        if (a != b)
            return a < b;
    }
    // The other columns hold icons only; they, and equal numbers, go by name.
    return CompareNames(*this, other) < 0;
}
