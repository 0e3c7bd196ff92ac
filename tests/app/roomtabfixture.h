// The main window logged in to the fake server, with helpers to speak the server's room messages
// and to reach a room's tab, its member rows and its chat lines.
#pragma once

#include "mainwindowfixture.h"

#include "model/settings.h"

#include "ui/chat/roomform.h"
#include "ui/chat/roomuserlistitemwidget.h"

#include <QLineEdit>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTreeWidget>

namespace roomtab {

struct Member
{
    QString name;
    qint32 speed = 0;
    qint32 files = 0;
    QString country;
};

inline QByteArray StrList(const QStringList& texts)
{
    QByteArray out = FakeServer::U32(static_cast<quint32>(texts.size()));
    for (const QString& text : texts)
        out += FakeServer::Str(text);
    return out;
}

// A statistics record: u32 speed, u64 downloads, u32 files, u32 folders.
inline QByteArray Stats(const Member& m)
{
    return FakeServer::I32(m.speed) + QByteArray(8, '\0') + FakeServer::I32(m.files) + FakeServer::U32(0);
}

// Code 14, the join reply: names, statuses, statistics, an unused list, countries and, when an
// owner is given, the owner and the operators.
inline QByteArray JoinReply(const QString& room, const QList<Member>& members, const QString& owner = QString(),
                            const QStringList& operators = {})
{
    QStringList names, countries;
    QByteArray statuses = FakeServer::U32(static_cast<quint32>(members.size()));
    QByteArray stats = FakeServer::U32(static_cast<quint32>(members.size()));
    for (const Member& m : members) {
        names << m.name;
        countries << m.country;
        statuses += FakeServer::U32(1);
        stats += Stats(m);
    }
    QByteArray fields = FakeServer::Str(room) + StrList(names) + statuses + stats + FakeServer::U32(0) +
                        StrList(countries);
    if (!owner.isNull())
        fields += FakeServer::Str(owner) + StrList(operators);
    return fields;
}

// Code 16, one member joining.
inline QByteArray Joined(const QString& room, const Member& m)
{
    return FakeServer::Str(room) + FakeServer::Str(m.name) + FakeServer::U32(1) + Stats(m) + FakeServer::U32(0) +
           FakeServer::Str(m.country);
}

inline ItemPtr Room(const QString& name)
{
    return d.GetType("room")->GetItem(Value(name));
}

inline ItemPtr User(const QString& name)
{
    return d.GetType("user")->GetItem(Value(name));
}

// Every open tab of the room.
inline QList<RoomForm*> TabsOf(const QString& room)
{
    QList<RoomForm*> found;
    auto* tabs = Child<QTabWidget>("roomsTabControl");
    for (int k = 0; k < tabs->count(); ++k)
        if (auto* form = qobject_cast<RoomForm*>(tabs->widget(k)))
            if (form->Room() == room)
                found << form;
    return found;
}

inline RoomForm* TabOf(const QString& room)
{
    const QList<RoomForm*> found = TabsOf(room);
    return found.size() == 1 ? found.first() : nullptr;
}

inline QTreeWidget* Members(RoomForm* form) { return form->findChild<QTreeWidget*>("userList"); }
inline QTextBrowser* View(RoomForm* form) { return form->findChild<QTextBrowser*>("chatView"); }
inline QLineEdit* Input(RoomForm* form) { return form->findChild<QLineEdit*>("chatEdit"); }

inline QTreeWidgetItem* MemberRow(RoomForm* form, const QString& user)
{
    const QList<QTreeWidgetItem*> rows = Members(form)->findItems(user, Qt::MatchExactly, 2);
    return rows.size() == 1 ? rows.first() : nullptr;
}

// The names in the member list, top to bottom.
inline QStringList MemberNames(RoomForm* form)
{
    QStringList names;
    for (int k = 0; k < Members(form)->topLevelItemCount(); ++k)
        names << Members(form)->topLevelItem(k)->text(2);
    return names;
}

// The lines of the chat view as they read.
inline QStringList Lines(RoomForm* form)
{
    QStringList lines = View(form)->toPlainText().split('\n');
    if (lines == QStringList{QString()})
        lines.clear();
    return lines;
}

inline QString LastLine(RoomForm* form)
{
    const QStringList lines = Lines(form);
    return lines.isEmpty() ? QString() : lines.last();
}

inline int UserCount(const QString& room)
{
    ItemPtr count = Room(room)["user_count"];
    return count ? count.AsInt() : -1;
}

}  // namespace roomtab
