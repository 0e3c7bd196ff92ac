#include "ui/chat/chatdisplay.h"

#include "model/helpers.h"
#include "model/settings.h"
#include "ui/chat/chatlog.h"

#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocument>

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

// The size a line counts in a bounded view, carried by the last paragraph of the line so that
// it goes with the line.
class LineSize : public QTextBlockUserData
{
public:
    explicit LineSize(qint64 size) : size(size) {}
    const qint64 size;
};

qint64 SizeOf(const QTextBlock& block)
{
    const auto* line = static_cast<const LineSize*>(block.userData());
    return line ? line->size : 0;
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
    return ChatTimePrefix(mode, time) + QLatin1Char('[') + FontTag("color_chat_username", "#0033ff") +
           ConvertLinks(user) + QStringLiteral("</font>] ") + ConvertLinks(text);
}

QString ChatStatusHtml(const QString& text)
{
    return QStringLiteral("* ") + FontTag("color_chat_status", "#339933") + ConvertLinks(text) +
           QStringLiteral("</font>");
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
    view->append(html);
}

void BoundedChatView::Append(QTextBrowser* view, const QString& html)
{
    if (m_size + html.size() > kChatViewMaxHtml)
        Trim(view, html.size());
    view->append(html);
    // A line may make several paragraphs (a paragraph separator in the text); its last one
    // carries the size.
    view->document()->lastBlock().setUserData(new LineSize(html.size()));
    m_size += html.size();
}

void BoundedChatView::Trim(QTextBrowser* view, qint64 incoming)
{
    QTextDocument* document = view->document();
    // Counted afresh once per cut, from the lines themselves.
    m_size = 0;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        m_size += SizeOf(block);
    if (m_size + incoming <= kChatViewMaxHtml)
        return;

    // Whole lines from the top: a cut ends only after a line's last paragraph.
    qint64 cut = 0;
    QTextBlock kept = document->begin();
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        cut += SizeOf(block);
        kept = block.next();
        if (block.userData() && cut >= kChatViewTrim && m_size - cut + incoming <= kChatViewMaxHtml)
            break;
    }
    if (!kept.isValid()) {
        view->clear();
        m_size = 0;
        return;
    }
    QTextCursor lines(document);
    lines.setPosition(kept.position(), QTextCursor::KeepAnchor);
    lines.removeSelectedText();
    m_size -= cut;
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
