// What the room and private chat views show alike: the clock they read, the time prefix a
// `chat_timestamps` mode gives a line, chat, action and status lines as rich text, the periods of
// chat activity, and appending to a chat view (bounded for busy rooms).
#pragma once

#include <QColor>
#include <QDateTime>
#include <QString>

#include <functional>

class QTextBrowser;

// The colour a colour setting names, or `fallback` when the stored value names none.
QColor SettingColor(const char* key, const QColor& fallback);

// The one clock of the chat views: every time a chat line, status line or activity period shows
// is read from it.
QDateTime ChatNow();
// Replaces the clock (an empty function restores the system clock).
void SetChatClock(std::function<QDateTime()> clock);

// The time prefix of a chat line: "[h:mm:ss]" for the mode "per_message_short", "[MMM d h:mm:ss
// ap]" for "per_message_long", the time in the colour `color_chat_timestamp`; empty for every
// other mode. The three chat colours are read afresh for every line; a stored value that names
// no colour gives way to the default.
QString ChatTimePrefix(const QString& mode, const QDateTime& time);

// An ordinary chat line before link conversion: the time prefix for the mode, then "[user] text"
// with the name in the colour `color_chat_username`. User and text are escaped; the text is
// shown as given (a room trims it first, a conversation does not).
QString ChatLineHtml(const QString& mode, const QDateTime& time, const QString& user, const QString& text);

// A status line before link conversion: "* " and the escaped text in the colour
// `color_chat_status`.
QString ChatStatusHtml(const QString& text);

// True when the text, trimmed, begins with "/me " (case-sensitive); `action` then gets
// "<user> <the rest, trimmed>", the text a status line and the log show for it. "/me" alone and
// "/ME x" are ordinary lines.
bool ChatAction(const QString& user, const QString& text, QString* action);

// Appends a finished line (link conversion is done here) to the view as a new paragraph. A
// conversation holds one partner's lines and is not bounded; a room, busy with many speakers,
// appends through AppendBoundedChatHtml.
void AppendChatHtml(QTextBrowser* view, const QString& html);

// The HTML size above which a bounded view is cut, and the least it is cut by.
constexpr int kChatViewMaxHtml = 250000;
constexpr int kChatViewTrim = 50000;

// Appends as AppendChatHtml, but first, when the view's HTML is longer than kChatViewMaxHtml,
// drops its first kChatViewTrim characters and the rest of the HTML line they end in, and refills
// the view with what remains (repainting off meanwhile), so the view never grows without end.
void AppendBoundedChatHtml(QTextBrowser* view, const QString& html);

// A burst of chat: active from an ordinary line after a quiet period until five minutes pass
// without one. Settings are read by the caller; the mode decides only which marks show.
class ChatActivity
{
public:
    // How long after its last ordinary line a burst ends.
    static constexpr qint64 kQuietMs = 5 * 60 * 1000;

    explicit ChatActivity(const QDateTime& now) : m_lastChatTime(now) {}

    // An ordinary line at `now`. Returns the status text to show before it ("Chat started
    // <now>") when it starts a burst in the mode "activity_based", else empty.
    QString OnChatLine(const QString& mode, const QDateTime& now);
    // A tick of the half-minute timer. Ends a burst whose last line is five minutes old or more,
    // and returns then, in the mode "activity_based", "Chat ended <that line's time>"; else empty.
    QString OnTick(const QString& mode, const QDateTime& now);

    bool IsActive() const { return m_active; }
    QDateTime LastChatTime() const { return m_lastChatTime; }

private:
    bool m_active = false;
    QDateTime m_lastChatTime;
};
