#include "ui/chat/chatdisplay.h"

#include "model/helpers.h"
#include "model/settings.h"
#include "ui/chat/chatlog.h"

#include <QTextBrowser>

namespace {

std::function<QDateTime()>& Clock()
{
    static std::function<QDateTime()> clock;
    return clock;
}

// "<font color="…">" with the colour of the setting. The value comes from the save file and ends
// up inside markup: only a colour name gets there, anything else gives way to the default.
QString FontTag(const char* colourKey, const char* fallback)
{
    return QStringLiteral("<font color=\"") + SettingColor(colourKey, QColor(fallback)).name() +
           QStringLiteral("\">");
}

}  // namespace

QColor SettingColor(const char* key, const QColor& fallback)
{
    const QColor color(GetSetting(key));
    return color.isValid() ? color : fallback;
}

QDateTime ChatNow()
{
    return Clock() ? Clock()() : QDateTime::currentDateTime();
}

void SetChatClock(std::function<QDateTime()> clock)
{
    Clock() = std::move(clock);
}

QString ChatTimePrefix(const QString& mode, const QDateTime& time)
{
    QString shown;
    if (mode == QLatin1String("per_message_short"))
        shown = ChatTimeShort(time);
    else if (mode == QLatin1String("per_message_long"))
        shown = ChatTimeLong(time);
    else
        return QString();
    return QLatin1Char('[') + FontTag("color_chat_timestamp", "#0066ff") + shown + QStringLiteral("</font>]");
}

QString ChatLineHtml(const QString& mode, const QDateTime& time, const QString& user, const QString& text)
{
    // Put together piece by piece: a name or text holding "%1" must show as it is.
    return ChatTimePrefix(mode, time) + QLatin1Char('[') + FontTag("color_chat_username", "#0033ff") + EscapeHTML(user) +
           QStringLiteral("</font>] ") + EscapeHTML(text);
}

QString ChatStatusHtml(const QString& text)
{
    return QStringLiteral("* ") + FontTag("color_chat_status", "#339933") + EscapeHTML(text) + QStringLiteral("</font>");
}

bool ChatAction(const QString& user, const QString& text, QString* action)
{
    const QString trimmed = text.trimmed();
    if (!trimmed.startsWith(QLatin1String("/me ")))
        return false;
    *action = QStringLiteral("%1 %2").arg(user, trimmed.mid(4).trimmed());
    return true;
}

void AppendChatHtml(QTextBrowser* view, const QString& html)
{
    view->append(ConvertLinks(html));
}

void AppendBoundedChatHtml(QTextBrowser* view, const QString& html)
{
    QString shown = view->toHtml();
    if (shown.size() <= kChatViewMaxHtml) {
        AppendChatHtml(view, html);
        return;
    }
    // Cut at the end of an HTML line, so no paragraph is left half open.
    const int lineEnd = shown.indexOf(QLatin1Char('\n'), kChatViewTrim);
    shown = lineEnd < 0 ? shown.mid(kChatViewTrim) : shown.mid(lineEnd + 1);
    view->setUpdatesEnabled(false);
    view->clear();
    view->append(shown);
    AppendChatHtml(view, html);
    view->setUpdatesEnabled(true);
}

QString ChatActivity::OnChatLine(const QString& mode, const QDateTime& now)
{
    m_lastChatTime = now;
    if (m_active)
        return QString();
    m_active = true;
    return mode == QLatin1String("activity_based") ? QStringLiteral("Chat started ") + ChatTimeLong(now) : QString();
}

QString ChatActivity::OnTick(const QString& mode, const QDateTime& now)
{
    if (!m_active || m_lastChatTime.msecsTo(now) < kQuietMs)
        return QString();
    m_active = false;
    return mode == QLatin1String("activity_based") ? QStringLiteral("Chat ended ") + ChatTimeLong(m_lastChatTime)
                                                   : QString();
}
