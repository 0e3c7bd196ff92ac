// Room messages: the room list, entering and leaving, members, private-room roles, room chat.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"

#include <QObject>
#include <QSet>
#include <QVector>
#include <QTest>

namespace {

ItemPtr Room(const QString& name)
{
    return Find("room", name);
}

ItemPtr User(const QString& name)
{
    return Find("user", name);
}

QSet<QString> Names(const ItemSet& items)
{
    QSet<QString> names;
    for (const ItemPtr& item : items)
        names << item.AsString();
    return names;
}

QSet<QString> RoomUsers(const QString& room)
{
    return Names(Room(room).GetItems("user"));
}

// The users of a room's owner, operator or member list; the list item is not created here.
QSet<QString> ListUsers(const QString& room, const char* listType)
{
    ItemPtr list = Room(room)[listType];
    return list ? Names(list.GetItems("user")) : QSet<QString>();
}

QString Flags(const QString& room)
{
    ItemPtr r = Room(room);
    if (!r)
        return "<no room>";
    QStringList flags;
    for (const char* flag : {"in_room", "is_private", "is_owner", "is_member", "is_operator"})
        if (r.IsConnected(flag))
            flags << flag;
    return flags.join(' ');
}

QByteArray Enter(const QString& room, const QStringList& users, const QByteArray& statsPart,
                 const QStringList& countries)
{
    return F::Str(room) + Strs(users) + Ints(QVector<qint32>(users.size(), 2)) + statsPart + Ints({}) +
           Strs(countries);
}

}  // namespace

class TestServerRooms : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;

private slots:
    void initTestCase() { QVERIFY(m_fixture.SetUpLoggedIn()); }

    void init() { m_fixture.fake.ClearFrames(); }

    void roomList()
    {
        F& fake = m_fixture.fake;
        gp_server->GetRoomList();
        QCOMPARE(GetSetting("accept_room_list"), QString("yes"));
        QVERIFY(Deliver(fake, 64,
                        Strs({"pub1", "pub2"}) + Ints({5, 7}) + Strs({"own1"}) + Ints({3}) +
                            Strs({"mem1", "own1"}) + Ints({4, 9}) + Strs({"mem1", "elsewhere"})));
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
        QCOMPARE(ValueOf(Room("pub1"), "user_count"), QString("5"));
        QCOMPARE(ValueOf(Room("pub2"), "user_count"), QString("7"));
        QCOMPARE(Flags("pub1"), QString());
        // Owned and a member at once: the member list's count comes last.
        QCOMPARE(Flags("own1"), QString("is_private is_owner is_member"));
        QCOMPARE(ValueOf(Room("own1"), "user_count"), QString("9"));
        QCOMPARE(Flags("mem1"), QString("is_private is_member is_operator"));
        QCOMPARE(ValueOf(Room("mem1"), "user_count"), QString("4"));
        // Operated but not listed as a member: nothing.
        QVERIFY(!Room("elsewhere"));

        // Unasked: counts of known rooms only; roles reconciled with the lists.
        QVERIFY(Deliver(fake, 64,
                        Strs({"pub1", "newroom"}) + Ints({50, 60}) + Strs({}) + Ints({}) + Strs({"mem1", "own1"}) +
                            Ints({4, 1}) + Strs({})));
        QCOMPARE(ValueOf(Room("pub1"), "user_count"), QString("50"));
        QVERIFY(!Room("newroom"));
        QCOMPARE(Flags("own1"), QString("is_private is_member"));
        QCOMPARE(Flags("mem1"), QString("is_private is_member is_operator"));

        // A room missing from every list keeps its count, is_private and is_operator.
        QVERIFY(Deliver(fake, 64, Strs({}) + Ints({}) + Strs({}) + Ints({}) + Strs({"own1"}) + Ints({2}) + Strs({})));
        QCOMPARE(Flags("mem1"), QString("is_private is_operator"));
        QCOMPARE(ValueOf(Room("mem1"), "user_count"), QString("4"));
        QCOMPARE(Flags("own1"), QString("is_private is_member"));

        // An unreadable list is empty: every role of the lists goes.
        QVERIFY(Deliver(fake, 64));
        QCOMPARE(Flags("own1"), QString("is_private"));
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
    }

    void roomListPartnersOfUnequalLength()
    {
        F& fake = m_fixture.fake;
        SetSetting("accept_room_list", Value("yes"));
        QVERIFY(Deliver(fake, 64,
                        Strs({"short1", "short2"}) + Ints({11}) + Strs({"sowned1", "sowned2"}) + Ints({12}) +
                            Strs({"smem1"}) + Ints({13, 14, 15}) + Strs({})));
        QCOMPARE(ValueOf(Room("short1"), "user_count"), QString("11"));
        // A public name without a count brings nothing to store.
        QVERIFY(!Room("short2"));
        QCOMPARE(ValueOf(Room("sowned1"), "user_count"), QString("12"));
        QCOMPARE(Flags("sowned2"), QString("is_private is_owner is_member"));
        QCOMPARE(ValueOf(Room("sowned2"), "user_count"), QString("-"));
        QCOMPARE(ValueOf(Room("smem1"), "user_count"), QString("13"));
    }

    void enterRoom()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 14,
                        Enter("lobby", {"u1", "u2"}, F::I32(2) + Stats(100, 10) + Stats(200, 20), {"DE", "FR"}) +
                            F::Str("boss") + Strs({"op1", "op2"})));
        QCOMPARE(Flags("lobby"), QString("in_room"));
        QCOMPARE(RoomUsers("lobby"), (QSet<QString>{"u1", "u2"}));
        QCOMPARE(ValueOf(User("u1"), "average_download_speed"), QString("100"));
        QCOMPARE(ValueOf(User("u1"), "shared_files_count"), QString("10"));
        QCOMPARE(ValueOf(User("u1"), "country_code"), QString("DE"));
        QCOMPARE(ValueOf(User("u2"), "average_download_speed"), QString("200"));
        QCOMPARE(ValueOf(User("u2"), "country_code"), QString("FR"));
        QCOMPARE(ListUsers("lobby", "room_owner"), QSet<QString>{"boss"});
        QCOMPARE(ListUsers("lobby", "room_operators"), (QSet<QString>{"op1", "op2"}));

        // Again, without the optional tail: a new user list, owner and operators as they were.
        QVERIFY(Deliver(fake, 14, Enter("lobby", {"u3"}, F::I32(1) + Stats(0xFFFFFFFF, 3), {"SE"})));
        QCOMPARE(RoomUsers("lobby"), QSet<QString>{"u3"});
        QCOMPARE(ValueOf(User("u3"), "average_download_speed"), QString("-1"));
        QCOMPARE(ListUsers("lobby", "room_owner"), QSet<QString>{"boss"});
        QCOMPARE(ListUsers("lobby", "room_operators"), (QSet<QString>{"op1", "op2"}));

        // A tail with an empty operator set empties the list; the owner is replaced.
        QVERIFY(Deliver(fake, 14, Enter("lobby", {"u3"}, F::I32(0), {}) + F::Str("boss2") + Strs({})));
        QCOMPARE(ListUsers("lobby", "room_owner"), QSet<QString>{"boss2"});
        QCOMPARE(ListUsers("lobby", "room_operators"), QSet<QString>());
        QCOMPARE(ValueOf(User("u3"), "country_code"), QString("SE"));
    }

    void enterRoomCounts()
    {
        F& fake = m_fixture.fake;
        // A count above the limit reads no records: the fields behind it follow at once.
        QVERIFY(Deliver(fake, 14, Enter("counts", {"c1", "c2"}, F::I32(200000), {"NO", "FI"})));
        QCOMPARE(ValueOf(User("c1"), "country_code"), QString("NO"));
        QCOMPARE(ValueOf(User("c1"), "average_download_speed"), QString("-"));

        // A negative count reads records until one fails; the spare one is read past.
        QVERIFY(Deliver(fake, 14,
                        F::Str("counts") + Strs({"n1", "n2"}) + Ints({}) + F::I32(-1) + Stats(1, 2) + Stats(3, 4) +
                            Stats(5, 6)));
        QCOMPARE(RoomUsers("counts"), (QSet<QString>{"n1", "n2"}));
        QCOMPARE(ValueOf(User("n1"), "average_download_speed"), QString("1"));
        QCOMPARE(ValueOf(User("n2"), "shared_files_count"), QString("4"));

        // Partner lists shorter than the names: each is paired only as far as it reaches.
        QVERIFY(Deliver(fake, 14, Enter("counts", {"p1", "p2", "p3"}, F::I32(1) + Stats(7, 8), {"C1", "C2"})));
        QCOMPARE(ValueOf(User("p1"), "average_download_speed"), QString("7"));
        QCOMPARE(ValueOf(User("p1"), "country_code"), QString("C1"));
        QCOMPARE(ValueOf(User("p2"), "average_download_speed"), QString("-"));
        QCOMPARE(ValueOf(User("p2"), "country_code"), QString("C2"));
        QCOMPARE(ValueOf(User("p3"), "country_code"), QString("-"));
        QCOMPARE(RoomUsers("counts"), (QSet<QString>{"p1", "p2", "p3"}));

        // A count larger than the records there are keeps what could be read.
        QVERIFY(Deliver(fake, 14, F::Str("counts") + Strs({"q1"}) + Ints({}) + F::I32(5) + Stats(9, 9)));
        QCOMPARE(ValueOf(User("q1"), "average_download_speed"), QString("9"));
    }

    void joinLeaveAndLeaveRoom()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 14, Enter("hall", {"h1"}, F::I32(0), {})));
        QVERIFY(Deliver(fake, 16, F::Str("hall") + F::Str("h2") + F::I32(2) + Stats(300, 30) + F::I32(0) + F::Str("IT")));
        QCOMPARE(RoomUsers("hall"), (QSet<QString>{"h1", "h2"}));
        QCOMPARE(ValueOf(User("h2"), "average_download_speed"), QString("300"));
        QCOMPARE(ValueOf(User("h2"), "shared_files_count"), QString("30"));
        QCOMPARE(ValueOf(User("h2"), "country_code"), QString("IT"));

        QVERIFY(Deliver(fake, 17, F::Str("hall") + F::Str("h1")));
        QCOMPARE(RoomUsers("hall"), QSet<QString>{"h2"});
        // Leaving twice changes nothing.
        QVERIFY(Deliver(fake, 17, F::Str("hall") + F::Str("h1")));
        QCOMPARE(RoomUsers("hall"), QSet<QString>{"h2"});

        QVERIFY(Deliver(fake, 15, F::Str("hall")));
        QCOMPARE(Flags("hall"), QString());
        QCOMPARE(RoomUsers("hall"), QSet<QString>());

        // Not inside: nothing changes, not even the users; a room never seen is not made.
        QVERIFY(Deliver(fake, 16, F::Str("hall") + F::Str("h3")));
        QVERIFY(Deliver(fake, 15, F::Str("hall")));
        QCOMPARE(RoomUsers("hall"), QSet<QString>{"h3"});
        QVERIFY(Deliver(fake, 15, F::Str("nowhere")));
        QVERIFY(!Room("nowhere"));
    }

    void roomChat()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QList<QStringList> chats;
        connect(gp_server, &Server::RoomChat, &context,
                [&](QString room, QString user, QString text) { chats << QStringList{room, user, text}; });
        QVERIFY(Deliver(fake, 13, F::Str("chatroom") + F::Str("stranger") + F::Str("<b>hi</b>")));
        QCOMPARE(chats, QList<QStringList>{(QStringList{"chatroom", "stranger", "<b>hi</b>"})});
        QVERIFY(!User("stranger"));
        QVERIFY(!Room("chatroom"));

        d.GetType("user")->GetItem(Value("pest")).NewItem("is_ignored");
        QVERIFY(Deliver(fake, 13, F::Str("chatroom") + F::Str("pest") + F::Str("spam")));
        QCOMPARE(chats.size(), 1);
    }

    void memberAndOperatorLists()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 133, F::Str("club") + Strs({"m2", "m1"})));
        QCOMPARE(ListUsers("club", "room_members"), (QSet<QString>{"m1", "m2"}));
        QVERIFY(Deliver(fake, 134, F::Str("club") + F::Str("m3")));
        QVERIFY(Deliver(fake, 135, F::Str("club") + F::Str("m1")));
        QVERIFY(Deliver(fake, 135, F::Str("club") + F::Str("nobody")));
        QCOMPARE(ListUsers("club", "room_members"), (QSet<QString>{"m2", "m3"}));
        QVERIFY(Deliver(fake, 133, F::Str("club") + Strs({})));
        QCOMPARE(ListUsers("club", "room_members"), QSet<QString>());

        QVERIFY(Deliver(fake, 148, F::Str("club") + Strs({"o1"})));
        QVERIFY(Deliver(fake, 143, F::Str("club") + F::Str("o2")));
        QCOMPARE(ListUsers("club", "room_operators"), (QSet<QString>{"o1", "o2"}));
        QVERIFY(Deliver(fake, 144, F::Str("club") + F::Str("o1")));
        QCOMPARE(ListUsers("club", "room_operators"), QSet<QString>{"o2"});
        // Each room has one list item of each kind.
        QCOMPARE(Room("club").GetItems("room_operators").size(), size_t(1));
        QCOMPARE(Room("club").GetItems("room_members").size(), size_t(1));
        QCOMPARE(ListUsers("club", "room_members"), QSet<QString>());
    }

    void privateRoomRoles()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 139, F::Str("r")));
        QCOMPARE(Flags("r"), QString("is_private is_member"));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("0d0000000e000000010000007200000000"));

        QVERIFY(Deliver(fake, 14, Enter("r", {"x"}, F::I32(0), {})));
        QVERIFY(Deliver(fake, 145, F::Str("r")));
        QCOMPARE(Flags("r"), QString("in_room is_private is_member is_operator"));
        QVERIFY(Deliver(fake, 146, F::Str("r")));
        QCOMPARE(Flags("r"), QString("in_room is_private is_member"));
        QVERIFY(Deliver(fake, 145, F::Str("r")));
        Room("r").NewItem("is_owner");

        QVERIFY(Deliver(fake, 140, F::Str("r")));
        QCOMPARE(Flags("r"), QString("in_room is_private"));
        QCOMPARE(RoomUsers("r"), QSet<QString>{"x"});
    }

    void privateRoomAdd()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QList<bool> flags;
        connect(gp_server, &Server::PrivateRoomAddEnabled, &context, [&](bool enabled) { flags << enabled; });
        QVERIFY(Deliver(fake, 141, F::U8(2)));
        QCOMPARE(GetSetting("accept_private_room_add"), QString("yes"));
        QVERIFY(Deliver(fake, 141, F::U8(0)));
        QCOMPARE(GetSetting("accept_private_room_add"), QString("no"));
        QVERIFY(Deliver(fake, 141, F::U8(1)));
        QVERIFY(Deliver(fake, 141));
        QCOMPARE(GetSetting("accept_private_room_add"), QString("no"));
        QCOMPARE(flags, (QList<bool>{true, false, true, false}));
    }
};

QTEST_MAIN(TestServerRooms)
#include "tst_serverrooms.moc"
