#include "app/icons.h"

#include <QHash>
#include <QIcon>
#include <QString>

const QIcon& ResourceIcon(const QString& path)
{
    static QHash<QString, QIcon> icons;
    auto known = icons.find(path);
    if (known == icons.end())
        known = icons.insert(path, QIcon(path));
    return *known;
}
