// Icons of the program's own resources.
#pragma once

class QIcon;
class QString;

// The icon of a resource path, built from its file on first use and shared after that. Building
// one reads the file and looks its type up, which a burst of new tabs and event buttons would do
// once per tab and button; one shared icon is also drawn from one cache. GUI thread only.
const QIcon& ResourceIcon(const QString& path);
