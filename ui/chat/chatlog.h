// The chat-log files, one per room and one per private partner under the home folder, and the
// rule every writer and opener of them follows.
#pragma once

#include <QDateTime>
#include <QString>

class ChatLogForm;
class QTabWidget;
class QWidget;

enum class ChatLogKind { Room, User };

// Time stamps of chat lines and log files, "Mar 7 9:05:09 pm" and "9:05:09", spelt in the C
// locale so that a log reads the same whatever language the desktop speaks.
QString ChatTimeLong(const QDateTime& time);
QString ChatTimeShort(const QDateTime& time);

// The log file of a room or a partner. The name comes from the network and is made one file
// directly inside the kind's folder ("a/b" and ".." cannot leave it).
QString ChatLogPath(ChatLogKind kind, const QString& name);

// The line as it is logged: "[time][author] text", or "[time] * author action" for a text that,
// trimmed, begins with "/me " (ChatAction). A room's text is trimmed first; a private text is kept
// as it is. Line breaks inside (line feed, carriage return and the other Unicode breaks) become
// blanks, so that one message is one line of the file.
QString ChatLogLine(ChatLogKind kind, const QString& author, const QString& text, const QDateTime& time);

// Logs one chat line of the room or partner `name`, written by `author` (the own name for own
// lines). Call it for every message shown, never for status lines. Nothing happens unless the
// setting "log_room_chat" or "log_private_chat" reads "yes" at this moment. The folder is made
// and the file opened and closed for each line, so a deleted folder comes back and nothing stays
// open; a file that cannot be written is skipped silently. The line also goes to the open log
// viewer of that room or partner, whether or not the file took it.
void LogChat(ChatLogKind kind, const QString& name, const QString& author, const QString& text,
             const QDateTime& time = QDateTime::currentDateTime());

// Opens the log of the room or partner `name` as a tab of `tabs`, or brings its open viewer
// forward; the viewer is linked to the room's or user's item until it is destroyed.
ChatLogForm* OpenChatLog(ChatLogKind kind, const QString& name, QTabWidget* tabs, QWidget* parent = nullptr);
