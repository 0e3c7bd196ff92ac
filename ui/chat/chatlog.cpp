#include "ui/chat/chatlog.h"

#include "app/focus.h"
#include "model/data.h"
#include "model/helpers.h"
#include "model/settings.h"
#include "ui/chat/chatdisplay.h"
#include "ui/chat/chatlogform.h"

#include <QDir>
#include <QFile>
#include <QIcon>
#include <QLocale>
#include <QTabWidget>

namespace {

const char* SubjectType(ChatLogKind kind)
{
    return kind == ChatLogKind::Room ? "room" : "user";
}

bool IsLineBreak(QChar c)
{
    const ushort u = c.unicode();
    return u == '\n' || u == '\r' || u == '\v' || u == '\f' || u == 0x85 || u == 0x2028 || u == 0x2029;
}

QString Folder(ChatLogKind kind)
{
    return QDir::homePath() + (kind == ChatLogKind::Room ? "/Tavrinel Chat Logs/Rooms/" : "/Tavrinel Chat Logs/Users/");
}

// The viewer linked to the room's or user's item, or null.
ChatLogForm* ViewerOf(ItemPtr subject)
{
    ItemPtr link = subject ? subject["chat_log_form"] : ItemPtr();
    if (!link || link.AsUInt64() == 0)
        return nullptr;
    return qobject_cast<ChatLogForm*>(ItemObject<QWidget>(link));
}

}  // namespace

QString ChatTimeLong(const QDateTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("MMM d h:mm:ss ap"));
}

QString ChatTimeShort(const QDateTime& time)
{
    return QLocale::c().toString(time, QStringLiteral("h:mm:ss"));
}

QString ChatLogPath(ChatLogKind kind, const QString& name)
{
    return Folder(kind) + SafeFileName(name) + ".log";
}

QString ChatLogLine(ChatLogKind kind, const QString& author, const QString& text, const QDateTime& time)
{
    // All markers in one pass: a name or text holding "%1" must reach the file as it is.
    QString action;
    QString line;
    if (ChatAction(author, text, &action))
        line = QStringLiteral("[%1] * %2").arg(ChatTimeLong(time), action);
    else
        line = QStringLiteral("[%1][%2] %3").arg(ChatTimeLong(time), author,
                                                 kind == ChatLogKind::Room ? text.trimmed() : text);
    // One message, one line: a break a sender put into a name or text would start a line of its
    // own in the file, which the viewer shows as another message.
    for (QChar& c : line)
        if (IsLineBreak(c))
            c = QLatin1Char(' ');
    return line;
}

void LogChat(ChatLogKind kind, const QString& name, const QString& author, const QString& text,
             const QDateTime& time)
{
    // Read for every line: switching logging off stops it at once.
    if (GetSetting(kind == ChatLogKind::Room ? "log_room_chat" : "log_private_chat") != "yes")
        return;
    const QString line = ChatLogLine(kind, author, text, time);

    QDir().mkpath(Folder(kind));
    QFile file(ChatLogPath(kind, name));
    if (file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        file.write(line.toUtf8() + '\n');
        file.close();
    }

    Data::Scope scope(&d);
    if (ChatLogForm* viewer = ViewerOf(d.GetType(SubjectType(kind))->HasItem(Value(name))))
        viewer->AddLine(line);
}

ChatLogForm* OpenChatLog(ChatLogKind kind, const QString& name, QTabWidget* tabs, QWidget* parent)
{
    Data::Scope scope(&d);
    ItemPtr subject = d.GetType(SubjectType(kind))->GetItem(Value(name));
    if (ChatLogForm* open = ViewerOf(subject)) {
        FocusWidgetAndParents(open);
        return open;
    }
    auto* form = new ChatLogForm(ChatLogPath(kind, name), parent);
    tabs->addTab(form, QIcon(":/icons/note_icon"), LabelText(name));
    subject += d.GetType("chat_log_form")->GetItem(Value(static_cast<QWidget*>(form)));
    FocusWidgetAndParents(form);
    return form;
}
