#include "ui/search/searchresultlistitem.h"

#include <QTreeWidget>

namespace {

const int kFreeColumn = 1;
const int kSpeedColumn = 2;
const int kFileColumn = 4;

// Text that is not a number counts 0.
double Speed(const QTreeWidgetItem& row)
{
    return row.text(kSpeedColumn).toDouble();
}

long long Queue(const QString& free)
{
    return free.toLongLong();
}

}  // namespace

bool SearchResultListItem::operator<(const QTreeWidgetItem& other) const
{
    const QTreeWidget* tree = treeWidget();
    const int column = tree ? tree->sortColumn() : 0;
    if (column == kFreeColumn) {
        const QString mine = text(kFreeColumn);
        const QString theirs = other.text(kFreeColumn);
        if (mine != theirs) {
            const QString free = QStringLiteral("Y");
            if (mine == free)
                return false;
            if (theirs == free)
                return true;
            // A longer queue is the smaller value. Queues that read as the same number go on to
            // the speed, as equal texts do, so that the order stays one order.
            const long long a = Queue(mine);
            const long long b = Queue(theirs);
            if (a != b)
                return a > b;
        }
    }
    if (column == kFreeColumn || column == kSpeedColumn) {
        const double a = Speed(*this);
        const double b = Speed(other);
        if (a != b)
            return a < b;
    }
    return other.text(kFileColumn) < text(kFileColumn);
}
