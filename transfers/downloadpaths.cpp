#include "transfers/downloadpaths.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

bool IsSeparator(QChar c) { return c == QLatin1Char('\\') || c == QLatin1Char('/'); }

int LastSeparator(const QString& text)
{
    return std::max(text.lastIndexOf(QLatin1Char('\\')), text.lastIndexOf(QLatin1Char('/')));
}

QString DropOneTrailingSeparator(const QString& text)
{
    return !text.isEmpty() && IsSeparator(text.back()) ? text.left(text.size() - 1) : text;
}

}  // namespace

QString SafeDownloadComponent(const QString& name)
{
    QString safe;
    safe.reserve(name.size());
    for (QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            continue;
        safe += IsSeparator(c) ? QLatin1Char('_') : c;
    }
    if (safe.isEmpty() || safe == QLatin1String(".") || safe == QLatin1String(".."))
        return QStringLiteral("_");
    return safe;
}

QString KeptRemoteFolder(const QString& remoteFolder, int level)
{
    QString kept;
    if (remoteFolder.isEmpty())
        return kept;
    // Ignoring one trailing separator of either kind at every step keeps "a\b\" and "a\b" alike;
    // a folder with no separator left has no parent, so a level beyond the depth stops there.
    QString folder = DropOneTrailingSeparator(remoteFolder);
    for (int n = std::max(level, 0);; --n) {
        const int sep = LastSeparator(folder);
        kept.prepend(QLatin1Char('\\') + SafeDownloadComponent(folder.mid(sep + 1)));
        if (n == 0 || sep < 0)
            break;
        folder = DropOneTrailingSeparator(folder.left(sep));
        if (folder.isEmpty())
            break;
    }
    return kept;
}

QString DownloadFolderText(const QString& base, bool complete, const QString& remoteFolder, int level)
{
    QString text = base;
    text.replace(QLatin1Char('/'), QLatin1Char('\\'));
    text += complete ? QLatin1String("\\complete") : QLatin1String("\\downloading");
    return text + KeptRemoteFolder(remoteFolder, level);
}

QString DownloadLocalPath(const QString& text)
{
    QString local = text;
    return local.replace(QLatin1Char('\\'), QLatin1Char('/'));
}

bool LiesInsideFolder(const QString& folder, const QString& path)
{
    const QString f = QDir::cleanPath(folder);
    const QString p = QDir::cleanPath(path);
    if (f.isEmpty())
        return false;
    const QString prefix = f.endsWith(QLatin1Char('/')) ? f : f + QLatin1Char('/');
    return p.size() > prefix.size() && p.startsWith(prefix);
}

QString FreeFileName(const QString& folder, const QString& name)
{
    // The number goes before the extension, so the file still opens with the same program;
    // a leading dot starts a hidden name, not an extension.
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    const QDir dir(folder);
    for (int k = 1; k <= 9999; ++k) {
        const QString candidate = QStringLiteral("%1 (%2)%3").arg(stem, QString::number(k), extension);
        if (!QFileInfo::exists(dir.filePath(candidate)) && !QFileInfo(dir.filePath(candidate)).isSymLink())
            return candidate;
    }
    return QString();
}
