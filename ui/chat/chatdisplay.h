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

// An ordinary chat line as HTML: the time prefix for the mode, then "[user] text" with the name
// in the colour `color_chat_username`. User and text are escaped, their web addresses made links
// (ConvertLinks); the text is shown as given (a room trims it first, a conversation does not).
QString ChatLineHtml(const QString& mode, const QDateTime& time, const QString& user, const QString& text);

// A status line as HTML: "* " and the text, escaped and with its links, in the colour
// `color_chat_status`.
QString ChatStatusHtml(const QString& text);

// True when the text, trimmed, begins with "/me " (case-sensitive); `action` then gets
// "<user> <the rest, trimmed>", the text a status line and the log show for it. "/me" alone and
// "/ME x" are ordinary lines.
bool ChatAction(const QString& user, const QString& text, QString* action);

// Appends a finished line (ChatLineHtml, ChatStatusHtml) to the view as a new paragraph. A
// conversation holds one partner's lines and is not bounded; a room, busy with many speakers,
// appends through a BoundedChatView.
void AppendChatHtml(QTextBrowser* view, const QString& html);

// The HTML a bounded view holds at most, counted as appended, and the least a cut takes.
constexpr int kChatViewMaxHtml = 250000;
constexpr int kChatViewTrim = 50000;

// A chat view that never grows without end. Every line appended through it counts with the size
// of its HTML, whatever kind of line it is; a line that would bring the count past
// kChatViewMaxHtml first cuts the oldest whole lines, at least kChatViewTrim characters of them
// and as many more as the new line needs to fit, in one cut. Nothing is exported to count: a
// line costs the same in a full view as in an empty one.
// One counter serves one view, the view passed to every call.
class BoundedChatView
{
public:
    void Append(QTextBrowser* view, const QString& html);

private:
    void Trim(QTextBrowser* view, qint64 incoming);

    // The sizes of the lines the view holds, as far as known: lines taken out by other hands
    // are found when the bound is next reached.
    qint64 m_size = 0;
};

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
