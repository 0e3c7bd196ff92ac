#include "model/helpers.h"

#include "app/focus.h"

#include <QApplication>
#include <QDateTime>
#include <QLocale>
#include <QRegularExpression>
#include <QTabWidget>
#include <QWidget>

#include <algorithm>
#include <limits>

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

// Qt's text date names in the C locale, which do not follow the desktop's language.
const char* const kDayNames[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// "ddd MMM d HH:mm:ss yyyy" with the names above; the day name is not checked, as Qt's own
// reader does not check it either.
QDateTime ParseEnglishTextDate(const QString& text)
{
    const QVector<QStringRef> parts = text.splitRef(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() != 5)
        return QDateTime();
    int month = 0;
    for (int m = 0; m < 12 && !month; ++m)
        if (parts[1] == QLatin1String(kMonthNames[m]))
            month = m + 1;
    const QVector<QStringRef> clock = parts[3].split(QLatin1Char(':'));
    if (!month || clock.size() != 3)
        return QDateTime();
    bool ok[5] = {};
    const int day = parts[2].toInt(&ok[0]);
    const int year = parts[4].toInt(&ok[1]);
    const QTime time(clock[0].toInt(&ok[2]), clock[1].toInt(&ok[3]), clock[2].toInt(&ok[4]));
    const QDate date(year, month, day);
    if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; }) || !date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time);
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
    // Addresses are found in the raw text: in escaped text one could run on into "&gt;" or
    // "&lt;" and swallow the character that ended it. The address itself is escaped as well
    // ("&" may be part of it); the pattern admits neither quotes nor angle brackets, so it stays
    // inside its attribute.
    static const QRegularExpression re(
        QStringLiteral("\\bhttps?://[-a-zA-Z0-9+&@#/%?=~_|!:,.;]*[a-zA-Z0-9+&@#/%=~_|]"));
    QString html;
    int done = 0;
    for (QRegularExpressionMatchIterator it = re.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        html += EscapeHTML(text.mid(done, match.capturedStart() - done));
        const QString address = EscapeHTML(match.captured());
        html += QStringLiteral("<a href=\"") + address + QStringLiteral("\">") + address + QStringLiteral("</a>");
        done = match.capturedEnd();
    }
    html += EscapeHTML(text.mid(done));
    return html;
}

QString EscapeHTML(const QString& text)
{
    QString result = text;
    result.replace(QLatin1Char('&'), QLatin1String("&amp;"));
    result.replace(QLatin1Char('<'), QLatin1String("&lt;"));
    result.replace(QLatin1Char('>'), QLatin1String("&gt;"));
    return result;
}

QString LabelText(const QString& name)
{
    QString text = name;
    return text.replace(QLatin1Char('&'), QLatin1String("&&"));
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

QString StoredTimeText(const QDateTime& time)
{
    if (!time.isValid())
        return QString();
    const QDateTime local = time.toLocalTime();
    const QDate date = local.date();
    const QTime clock = local.time();
    return QString::asprintf("%s %s %d %02d:%02d:%02d %d", kDayNames[date.dayOfWeek() - 1],
                             kMonthNames[date.month() - 1], date.day(), clock.hour(), clock.minute(), clock.second(),
                             date.year());
}

QString CurrentTimeText()
{
    // Each conversion of the clock to local time makes the C library look at the zone file
    // again, and bursts of log lines and status changes ask for it thousands of times within the
    // same second, in which the text stays the same.
    thread_local qint64 t_second = std::numeric_limits<qint64>::min();
    thread_local QString t_text;
    const qint64 msecs = QDateTime::currentMSecsSinceEpoch();
    const qint64 second = msecs / 1000 - (msecs % 1000 < 0 ? 1 : 0);
    if (second != t_second) {
        t_text = StoredTimeText(QDateTime::fromMSecsSinceEpoch(second * 1000));
        t_second = second;
    }
    return t_text;
}

QDateTime StoredTimeFromText(const QString& text)
{
    if (text.isEmpty())
        return QDateTime();
    QDateTime time = ParseEnglishTextDate(text);
    // Written on a desktop in another language by an earlier version.
    if (!time.isValid())
        time = QLocale::system().toDateTime(text, QStringLiteral("ddd MMM d HH:mm:ss yyyy"));
    if (!time.isValid())
        time = QDateTime::fromString(text, Qt::TextDate);
    return time;
}
