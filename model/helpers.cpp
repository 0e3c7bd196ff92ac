#include "model/helpers.h"

#include "app/focus.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

// One trailing separator is not a component of its own.
std::string DropOneTrailingSeparator(const std::string& path)
{
    if (!path.empty() && IsSeparator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}

}  // namespace

bool GetBit(unsigned int value, int n)
{
    const unsigned int shift = static_cast<unsigned int>(n - 1) & 31u;
    return (value >> shift) & 1u;
}

std::string StringReplace(std::string text, const std::string& find, const std::string& replacement)
{
    // An empty pattern matches everywhere and would never move forward.
    if (find.empty())
        return text;
    size_t pos = 0;
    while ((pos = text.find(find, pos)) != std::string::npos) {
        text.replace(pos, find.size(), replacement);
        pos += replacement.size();
    }
    return text;
}

int findFirstOf(const QString& text, const QString& chars, int start)
{
    int best = -1;
    for (const QChar c : chars) {
        const int p = text.indexOf(c, start, Qt::CaseSensitive);
        if (p >= 0 && (best < 0 || p < best))
            best = p;
    }
    return best;
}

QString ReversePathname(QString path)
{
    QString result;
    bool first = true;
    while (!path.isEmpty()) {
        int end = path.size();
        while (end > 0 && (path[end - 1] == QLatin1Char('\\') || path[end - 1] == QLatin1Char('/')))
            --end;
        path.truncate(end);
        if (path.isEmpty())
            break;
        if (!first)
            result += QLatin1Char('/');
        first = false;
        const int sep = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
        if (sep < 0) {
            result += path;
            break;
        }
        result += path.mid(sep + 1);
        path.truncate(sep);
    }
    return result;
}

QString CommafyNumber(long long n)
{
    QString result;
    int digits = 0;
    while (n >= 1) {
        if (digits > 0 && digits % 3 == 0)
            result.prepend(QLatin1Char(','));
        result.prepend(QLatin1Char(static_cast<char>('0' + n % 10)));
        n /= 10;
        ++digits;
    }
    return result;
}

QString ConvertLinks(const QString& text)
{
    static const QRegularExpression re(
        QStringLiteral("(\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|])"));
    QString result = text;
    result.replace(re, QStringLiteral("<a href=\"\\1\">\\1</a>"));
    return result;
}

QString EscapeHTML(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    result.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    result.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return result;
}

QString GetAbsoluteFileName(const QString& path)
{
    if (path.isEmpty())
        return path;
    QString key = path;
    if (key.endsWith(QLatin1Char('\\')) || key.endsWith(QLatin1Char('/')))
        key.chop(1);
    return key.toLower();
}

std::string GetFileExtension(const std::string& name)
{
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos)
        return std::string();
    std::string ext = name.substr(dot + 1);
    for (char& c : ext)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return ext;
}

std::string GetFileName(const std::string& path)
{
    if (path.empty())
        return path;
    const std::string p = DropOneTrailingSeparator(path);
    const size_t sep = p.find_last_of("\\/");
    return sep == std::string::npos ? p : p.substr(sep + 1);
}

std::string GetFolder(const std::string& path)
{
    if (path.empty())
        return path;
    const std::string p = DropOneTrailingSeparator(path);
    const size_t sep = p.find_last_of("\\/");
    return sep == std::string::npos ? p : p.substr(0, sep);
}

std::string GetRemoteFolder(const std::string& path)
{
    const std::string p = DropOneTrailingSeparator(path);
    return p.find_last_of("\\/") == std::string::npos ? std::string() : GetFolder(path);
}

std::string GetParentFolder(const std::string& path)
{
    if (path.empty())
        return path;
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '\\')
        --end;
    if (end == 0)
        return std::string();
    return GetFolder(path.substr(0, end));
}

QString FormatSeconds(long seconds)
{
    const long days = seconds / 86400;
    const long hours = (seconds / 3600) % 24;
    const long minutes = (seconds / 60) % 60;
    const long secs = seconds % 60;
    QString result;
    if (days != 0)
        result += QString::number(days) + QLatin1Char('d');
    if (days != 0 || hours != 0)
        result += QString::number(hours) + QLatin1Char('h');
    result += QString::number(minutes) + QLatin1Char('m');
    result += QString::number(secs) + QLatin1Char('s');
    return result;
}

void FocusWidget(QWidget* widget)
{
    if (!widget)
        return;
    widget->activateWindow();
    widget->setFocus(Qt::OtherFocusReason);
    // The page of a tab widget is the nearest widget on the walked chain that it knows as a page
    // (the widget itself may be the page).
    for (QWidget* parent = widget->parentWidget(); parent; parent = parent->parentWidget()) {
        if (auto* tabs = qobject_cast<QTabWidget*>(parent)) {
            for (QWidget* w = widget; w && w != tabs; w = w->parentWidget()) {
                const int index = tabs->indexOf(w);
                if (index >= 0) {
                    tabs->setCurrentIndex(index);
                    break;
                }
            }
        }
    }
    // A widget on a hidden page only becomes its page's focus child, and the tab switches then
    // move the focus elsewhere; once shown it takes the focus, unless a designated widget of its
    // page inside it already has it.
    QWidget* focused = QApplication::focusWidget();
    if (widget->isVisible() && focused != widget && !widget->isAncestorOf(focused))
        widget->setFocus(Qt::OtherFocusReason);
    // A view brought forward is used through the widget it designates for the focus (a room's
    // input line): a page left holding the focus itself, as when its tab was current already,
    // would take what the user types next and do nothing with it.
    if (widget->isVisible() && widget->window()->focusWidget() == widget)
        FindWidgetFocusProperty(widget, 0);
}

QString SafeFileName(const QString& name)
{
    QString safe = name;
    for (QChar& c : safe)
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QChar(0))
            c = QLatin1Char('_');
    if (safe.startsWith(QLatin1Char('.')))
        safe[0] = QLatin1Char('_');
    if (safe.isEmpty())
        safe = QStringLiteral("_");
    return safe;
}
