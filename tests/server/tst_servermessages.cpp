// What the central server reports about users, rooms, private chat, searches, the distributed
// network and relayed connections: the item graph and the signals after each message, and the
// answers the client sends at once; wish-list searches on the server's period.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"
#include "server/wishlistsearcher.h"

#include <QObject>
#include <QSet>
#include <QTest>
#include <QVector>

namespace {

ItemPtr User(const QString& name) { return Find("user", name); }
ItemPtr Room(const QString& name) { return Find("room", name); }

QSet<QString> Names(const ItemSet& items)
{
    QSet<QString> names;
    for (const ItemPtr& item : items)
        names << item.AsString();
    return names;
}

QSet<QString> RoomUsers(const QString& room) { return Names(Room(room).GetItems("user")); }

// The users of a room's owner, operator or member list; the list item is not created here.
QSet<QString> ListUsers(const QString& room, const char* listType)
{
    ItemPtr list = Room(room)[listType];
    return list ? Names(list.GetItems("user")) : QSet<QString>();
}

// The marks an item carries, of those named.
QString Marks(ItemPtr item, std::initializer_list<const char*> names)
{
    if (!item)
        return "<no item>";
    QStringList marks;
    for (const char* name : names)
        if (item.IsConnected(name))
            marks << name;
    return marks.join(' ');
}

QString Flags(const QString& room)
{
    return Marks(Room(room), {"in_room", "is_private", "is_owner", "is_member", "is_operator"});
}

QString UserMarks(const QString& user) { return Marks(User(user), {"is_online", "is_away", "is_privileged"}); }

// Values of a user's neighbours, joined by sep.
QString Values(const QString& user, std::initializer_list<const char*> types, const char* sep)
{
    QStringList out;
    for (const char* type : types)
        out << ValueOf(User(user), type);
    return out.join(sep);
}
QString Address(const QString& user)
{
    return Values(user, {"user_address", "user_port", "user_obfuscated_port"}, ":");
}
QString SpeedFilesCountry(const QString& user)
{
    return Values(user, {"average_download_speed", "shared_files_count", "country_code"}, " ");
}

QByteArray Enter(const QString& room, const QStringList& users, const QByteArray& statsPart,
                 const QStringList& countries)
{
    return F::Str(room) + Strs(users) + Ints(QVector<qint32>(users.size(), 2)) + statsPart + Ints({}) +
           Strs(countries);
}

QByteArray PrivateMessage(quint32 id, qint32 time, const QString& user, const QString& text, quint8 spontaneous)
{
    return F::U32(id) + F::I32(time) + F::Str(user) + F::Str(text) + F::U8(spontaneous);
}

QByteArray Entries(qint32 count, const QList<QPair<QString, qint32>>& entries)
{
    QByteArray out = F::I32(count);
    for (const auto& e : entries)
        out += F::Str(e.first) + F::I32(e.second);
    return out;
}

// The related texts and ranks stored for a search text, as "text:rank", sorted.
QStringList Correlations(const QString& text)
{
    QStringList out;
    if (ItemPtr item = Find("search_request_text", text))
        for (const ItemPtr& c : item.GetItems("search_correlation"))
            out << ValueOf(c, "correlation_text") + ":" + ValueOf(c, "correlation_rank");
    out.sort();
    return out;
}

QByteArray Parents(qint32 count, int complete)
{
    QByteArray out = F::I32(count);
    for (int k = 0; k < complete; ++k)
        out += F::Str(QString("p%1").arg(k)) + F::U32(0xC0000200 + static_cast<quint32>(k)) + F::I32(2234 + k);
    return out;
}

void Wish(const QString& text, bool enabled)
{
    ItemPtr item = d.GetType("wish_list_item")->GetItem(Value(text));
    if (enabled)
        item.NewItem("wish_list_item_enabled");
}

int LogCount(const QString& line) { return LogText("Wish List").count(line); }

}  // namespace

class TestServerMessages : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;
    F& fake = m_fixture.fake;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.SetUpLoggedIn());
        // Declared by the main window in the program.
        Type* wish = d.NewType("wish_list_item", PrimacyRoot, false, true);
        wish->RelateToType(d.NewType("wish_list_item_enabled", PrimacyLeaf, true, true), Many, One, false);
    }

    void init()
    {
        d.GetType("wish_list_item")->RemoveAllItems();
        fake.ClearFrames();
    }

    void userAddress()
    {
        gp_server->GetUserAddress("bob");
        QVERIFY(User("bob").IsConnected("user_address_request"));
        // 192.0.2.1 is above the signed range: stored as unsigned decimal.
        QVERIFY(Deliver(fake, 3, F::Str("bob") + F::U32(0xC0000201) + F::I32(2234) + F::I32(1) + F::U16(50000)));
        QCOMPARE(Address("bob"), QString("3221225985:2234:50000"));
        QVERIFY(!User("bob").IsConnected("user_address_request"));
        // A user never seen is created; missing obfuscation fields give port 0.
        QVERIFY(Deliver(fake, 3, F::Str("carol") + F::U32(1) + F::I32(2)));
        QCOMPARE(Address("carol"), QString("1:2:0"));
        // A relayed request carries the privileged flag too.
        QVERIFY(Deliver(fake, 18, F::Str("req") + F::Str("P") + F::U32(1) + F::I32(2) + F::U32(77) + F::U8(1)));
        QVERIFY(User("req").IsConnected("is_privileged"));
    }

    void addUser()
    {
        QObject context;
        QStringList responses;
        connect(gp_server, &Server::AddUserResponse, &context,
                [&](QString user, bool added) { responses << user + (added ? "+" : "-"); });
        QVERIFY(Deliver(fake, 5, F::Str("shade")));  // short of the exists byte: does not exist
        d.GetType("user")->GetItem(Value("erin")).NewItem("is_away");
        QVERIFY(Deliver(fake, 5, F::Str("erin") + F::U8(1) + F::I32(2) + Stats(1, 2, 3, 4) + F::Str("DE")));
        QCOMPARE(UserMarks("erin"), QString("is_online is_away"));
        QCOMPARE(ValueOf(User("erin"), "country_code"), QString("DE"));
        // Offline: no country code is read, the old one stays.
        QVERIFY(Deliver(fake, 5, F::Str("erin") + F::U8(1) + F::I32(0) + Stats(1, 2, 3, 4) + F::Str("FR")));
        QCOMPARE(UserMarks("erin"), QString("is_away"));
        QCOMPARE(ValueOf(User("erin"), "country_code"), QString("DE"));
        QCOMPARE(responses, (QStringList{"shade-", "erin+", "erin+"}));
        QVERIFY(!User("shade"));
    }

    void userStatus()
    {
        // Privileges are never taken away by this message; without a status: offline, not away.
        const QList<QPair<QByteArray, QString>> steps = {
            {F::I32(1) + F::U8(0), "is_online is_away"},
            {F::I32(2) + F::U8(1), "is_online is_privileged"},
            {F::I32(0) + F::U8(0), "is_privileged"},
            {F::I32(1), "is_online is_away is_privileged"},
            {QByteArray(), "is_privileged"},
        };
        for (const auto& step : steps) {
            QVERIFY(Deliver(fake, 7, F::Str("fay") + step.first));
            QCOMPARE(UserMarks("fay"), step.second);
        }
    }

    void privateChatIsAcknowledged()
    {
        QObject context;
        QStringList chats;
        connect(gp_server, &Server::PrivateChat, &context, [&](QString user, QString text, time_t time, bool s) {
            chats << QString("%1/%2/%3/%4").arg(user, text).arg(qint64(time)).arg(s);
        });
        // An ignored sender is not heard, but still acknowledged; a message of only the id is
        // acknowledged all the same, and passed on with empty fields.
        d.GetType("user")->GetItem(Value("pest")).NewItem("is_ignored");
        for (const QByteArray& body : {PrivateMessage(7, 1000, "alice", "hello", 1),
                                       PrivateMessage(8, 0, "pest", "buy", 0), F::U32(9),
                                       PrivateMessage(0x01020304, -5, "bob", "x", 0)})
            QVERIFY(Deliver(fake, 22, body));
        QCOMPARE(SentSoFar(fake), Hex("08000000 17000000 07000000 08000000 17000000 08000000"
                                      "08000000 17000000 09000000 08000000 17000000 04030201"));
        QCOMPARE(chats, (QStringList{"alice/hello/1000/1", "//0/0", "bob/x/-5/0"}));

        // "privileges" also asks for the own privileges, from an ignored sender too; "Privileges" does not.
        QVERIFY(Deliver(fake, 22, PrivateMessage(9, 0, "server", "your privileges were extended", 0)));
        QVERIFY(Deliver(fake, 22, PrivateMessage(10, 0, "pest", "no-privileges-here", 0)));
        QVERIFY(Deliver(fake, 22, PrivateMessage(11, 0, "server", "Privileges", 0)));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000009000000 040000005c000000"
                                                     "08000000170000000a000000 040000005c000000"
                                                     "08000000170000000b000000")
                                              .replace(' ', ""));
    }

    void searchCorrelations()
    {
        QObject context;
        QStringList announced;
        connect(gp_server, &Server::SearchCorrelations, &context, [&](QString text) { announced << text; });
        Type* correlation = d.GetType("search_correlation");
        const size_t before = correlation->ItemCount();
        QVERIFY(Deliver(fake, 153, F::Str("abc") + Entries(3, {{"x", 5}, {"x", 3}, {"y", -2}})));
        QCOMPARE(Correlations("abc"), (QStringList{"x:3", "x:5", "y:-2"}));
        // New ones replace the old, which leave the graph.
        QVERIFY(Deliver(fake, 153, F::Str("abc") + Entries(1, {{"z", 1}})));
        QCOMPARE(Correlations("abc"), QStringList{"z:1"});
        QCOMPARE(correlation->ItemCount(), before + 1);
        // Negative: read until an entry fails. Above the limit: none.
        QVERIFY(Deliver(fake, 153, F::Str("neg") + Entries(-1, {{"a", 1}, {"b", 2}}) + F::U32(9)));
        QCOMPARE(Correlations("neg"), (QStringList{"a:1", "b:2"}));
        QVERIFY(Deliver(fake, 153, F::Str("neg") + Entries(131073, {{"a", 1}})));
        QCOMPARE(Correlations("neg"), QStringList());
        QCOMPARE(announced, (QStringList{"abc", "abc", "neg", "neg"}));
    }

    // Codes 83, 84, 36, 93 and 102 are also driven through the distributed-network manager's tests.
    void dnetValues()
    {
        QObject context;
        QStringList seen;
        connect(gp_server, &Server::IndirectPeerConnectionFailure, &context,
                [&](uint token) { seen << QString("fail %1").arg(token); });
        connect(gp_server, &Server::DNetParentMinSpeed, &context, [&](int v) { seen << QString("speed %1").arg(v); });
        connect(gp_server, &Server::DNetDeliveryReport, &context, [&](int v) {
            if (!IsDeliveryMarker(v))
                seen << QString("report %1").arg(v);
        });
        connect(gp_server, &Server::DNetReset, &context, [&] { seen << "reset"; });
        connect(gp_server, &Server::DNetMessage, &context, [&](MemStream& message) {
            QCOMPARE(message.GetReadIndex(), size_t(4));
            seen << QString("message %1").arg(message.GetPendingReadLength());
        });
        const QList<QPair<int, QByteArray>> messages = {
            {1001, F::U32(0xFFFFFFFE)}, {128, F::I32(42)}, {130, {}}, {83, {}}, {93, {}}};
        for (const auto& m : messages)
            QVERIFY(Deliver(fake, m.first, m.second));
        QCOMPARE(seen, (QStringList{"fail 4294967294", "report 42", "reset", "speed 0", "message 0"}));
    }

    void possibleParents()
    {
        QObject context;
        QList<DNetParentList> lists;
        connect(gp_server, &Server::DNetPossibleParents, &context, [&](DNetParentList& list) { lists << list; });
        QVERIFY(Deliver(fake, 102, Parents(3, 2) + F::Str("p2")));
        QVERIFY(Deliver(fake, 102, Parents(131073, 1)));
        QVERIFY(Deliver(fake, 102, Parents(-1, 2)));
        QCOMPARE(lists.size(), 3);
        QVERIFY(lists[0].size() == 2 && lists[1].empty() && lists[2].size() == 2);
        QCOMPARE(lists[0].front(), std::make_pair(QString("p0"), TCPAddress(0xC0000200, 2234)));
        QCOMPARE(lists[0].back(), std::make_pair(QString("p1"), TCPAddress(0xC0000201, 2235)));
    }

    void roomList()
    {
        gp_server->GetRoomList();
        QCOMPARE(GetSetting("accept_room_list"), QString("yes"));
        QVERIFY(Deliver(fake, 64,
                        Strs({"pub1", "pub2"}) + Ints({5, 7}) + Strs({"own1"}) + Ints({3}) +
                            Strs({"mem1", "own1"}) + Ints({4, 9}) + Strs({"mem1", "elsewhere"})));
        QCOMPARE(GetSetting("accept_room_list"), QString("no"));
        const auto rooms = [](const QStringList& names) {
            QStringList out;
            for (const QString& name : names)
                out << (Room(name) ? Flags(name) + ":" + ValueOf(Room(name), "user_count") : "none");
            return out;
        };
        // Owned and a member at once: the member list's count comes last. Operated but not
        // listed as a member: nothing.
        QCOMPARE(rooms({"pub1", "pub2", "own1", "mem1", "elsewhere"}),
                 (QStringList{":5", ":7", "is_private is_owner is_member:9", "is_private is_member is_operator:4",
                              "none"}));

        // Lists of unequal length are paired only as far as the shorter reaches.
        SetSetting("accept_room_list", Value("yes"));
        QVERIFY(Deliver(fake, 64,
                        Strs({"short1", "short2"}) + Ints({11}) + Strs({"sowned1", "sowned2"}) + Ints({12}) +
                            Strs({"smem1"}) + Ints({13, 14, 15}) + Strs({})));
        QCOMPARE(rooms({"short1", "short2", "sowned1", "sowned2", "smem1"}),
                 (QStringList{":11", "none", "is_private is_owner is_member:12", "is_private is_owner is_member:-",
                              "is_private is_member:13"}));
    }

    void enterRoom()
    {
        QVERIFY(Deliver(fake, 14,
                        Enter("lobby", {"u1", "u2"}, F::I32(2) + Stats(100, 10) + Stats(200, 20), {"DE", "FR"}) +
                            F::Str("boss") + Strs({"op1", "op2"})));
        QCOMPARE(Flags("lobby"), QString("in_room"));
        QCOMPARE(RoomUsers("lobby"), (QSet<QString>{"u1", "u2"}));
        QCOMPARE(SpeedFilesCountry("u1") + " " + SpeedFilesCountry("u2"), QString("100 10 DE 200 20 FR"));
        // Again, without the optional tail: a new user list, owner and operators as they were.
        QVERIFY(Deliver(fake, 14, Enter("lobby", {"u3"}, F::I32(1) + Stats(0xFFFFFFFF, 3), {"SE"})));
        QCOMPARE(RoomUsers("lobby"), QSet<QString>{"u3"});
        QCOMPARE(SpeedFilesCountry("u3"), QString("-1 3 SE"));
        QCOMPARE(ListUsers("lobby", "room_owner"), QSet<QString>{"boss"});
        QCOMPARE(ListUsers("lobby", "room_operators"), (QSet<QString>{"op1", "op2"}));

        // A negative count reads records until one fails; the spare one is read past.
        QVERIFY(Deliver(fake, 14,
                        F::Str("counts") + Strs({"n1", "n2"}) + Ints({}) + F::I32(-1) + Stats(1, 2) + Stats(3, 4) +
                            Stats(5, 6)));
        QCOMPARE(RoomUsers("counts"), (QSet<QString>{"n1", "n2"}));
        QCOMPARE(SpeedFilesCountry("n1") + " " + SpeedFilesCountry("n2"), QString("1 2 - 3 4 -"));
        // Partner lists shorter than the names: each is paired only as far as it reaches.
        QVERIFY(Deliver(fake, 14, Enter("counts", {"p1", "p2", "p3"}, F::I32(1) + Stats(7, 8), {"C1", "C2"})));
        QCOMPARE(SpeedFilesCountry("p1") + " " + SpeedFilesCountry("p2") + " " + SpeedFilesCountry("p3"),
                 QString("7 8 C1 - - C2 - - -"));
        QCOMPARE(RoomUsers("counts"), (QSet<QString>{"p1", "p2", "p3"}));
    }

    void joinLeaveAndLeaveRoom()
    {
        QVERIFY(Deliver(fake, 14, Enter("hall", {"h1"}, F::I32(0), {})));
        QVERIFY(Deliver(fake, 16, F::Str("hall") + F::Str("h2") + F::I32(2) + Stats(300, 30) + F::I32(0) + F::Str("IT")));
        QCOMPARE(RoomUsers("hall"), (QSet<QString>{"h1", "h2"}));
        QCOMPARE(SpeedFilesCountry("h2"), QString("300 30 IT"));
        QVERIFY(Deliver(fake, 17, F::Str("hall") + F::Str("h1")));
        QCOMPARE(RoomUsers("hall"), QSet<QString>{"h2"});
        QVERIFY(Deliver(fake, 15, F::Str("hall")));
        QCOMPARE(Flags("hall"), QString());
        QCOMPARE(RoomUsers("hall"), QSet<QString>());
    }

    void roomChat()
    {
        QObject context;
        QStringList chats;
        connect(gp_server, &Server::RoomChat, &context,
                [&](QString room, QString user, QString text) { chats << room + "/" + user + "/" + text; });
        QVERIFY(Deliver(fake, 13, F::Str("chatroom") + F::Str("stranger") + F::Str("<b>hi</b>")));
        d.GetType("user")->GetItem(Value("pest")).NewItem("is_ignored");
        QVERIFY(Deliver(fake, 13, F::Str("chatroom") + F::Str("pest") + F::Str("spam")));
        QCOMPARE(chats, QStringList{"chatroom/stranger/<b>hi</b>"});
        QVERIFY(!User("stranger") && !Room("chatroom"));
    }

    void memberAndOperatorLists()
    {
        QVERIFY(Deliver(fake, 133, F::Str("club") + Strs({"m2", "m1"})));
        QCOMPARE(ListUsers("club", "room_members"), (QSet<QString>{"m1", "m2"}));
        QVERIFY(Deliver(fake, 134, F::Str("club") + F::Str("m3")));
        QVERIFY(Deliver(fake, 135, F::Str("club") + F::Str("m1")));
        QCOMPARE(ListUsers("club", "room_members"), (QSet<QString>{"m2", "m3"}));
        QVERIFY(Deliver(fake, 148, F::Str("club") + Strs({"o1"})));
        QVERIFY(Deliver(fake, 143, F::Str("club") + F::Str("o2")));
        QCOMPARE(ListUsers("club", "room_operators"), (QSet<QString>{"o1", "o2"}));
        QVERIFY(Deliver(fake, 144, F::Str("club") + F::Str("o1")));
        QCOMPARE(ListUsers("club", "room_operators"), QSet<QString>{"o2"});
    }

    void privateRoomRoles()
    {
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
        QObject context;
        QStringList seen;
        connect(gp_server, &Server::PrivateRoomAddEnabled, &context, [&](bool on) { seen << (on ? "+" : "-"); });
        for (const QByteArray& body : {F::U8(2), F::U8(0), F::U8(1), QByteArray()}) {
            QVERIFY(Deliver(fake, 141, body));
            seen << GetSetting("accept_private_room_add");
        }
        QCOMPARE(seen, (QStringList{"+", "yes", "-", "no", "+", "yes", "-", "no"}));
    }

    void wishListCyclesThroughEnabledEntriesOnePerPeriod()
    {
        WishListSearcher searcher(nullptr);
        QCOMPARE(GetVSetting("wish_list_search_index"), QString("0"));
        QVERIFY(!searcher.SearchTimer().isActive());
        for (const char* text : {"b", "a", "c"})
            Wish(text, true);
        Wish("0-disabled", false);

        QVERIFY(Deliver(fake, 104, F::U32(2)));
        QCOMPARE(searcher.SearchTimer().interval(), 2000);
        QVERIFY(searcher.SearchTimer().isActive() && !searcher.SearchTimer().isSingleShot());
        QCOMPARE(GetVSetting("wish_list_wait"), QString("2"));
        QCOMPARE(LogCount("Wish list wait period set to 2000 milliseconds"), 1);

        // The ticks are driven here; the timer itself would fire every 2000 ms.
        const quint32 last = gp_server->FileSearch("probe", false);
        SentSoFar(fake);
        QStringList indexes;
        QByteArray searches;
        for (quint32 k = 1; k <= 4; ++k) {
            searcher.OnSearchTimerTimeout();
            indexes << GetVSetting("wish_list_search_index");
            searches += F::MakeFrame(103, F::U32(last + k) + F::Str(QString(QString("abca")[int(k) - 1])));
        }
        QCOMPARE(indexes, (QStringList{"1", "2", "0", "1"}));
        QCOMPARE(SentSoFar(fake).toHex(), searches.toHex());
        QCOMPARE(LogCount("Sent wish list search: a"), 2);
        QVERIFY(!LogText("Wish List").contains("0-disabled"));

        // Zero would fire at every pass of the event loop: the running period stays.
        QVERIFY(Deliver(fake, 104, F::U32(0)));
        QVERIFY(searcher.SearchTimer().isActive() && searcher.SearchTimer().interval() == 2000);
        QCOMPARE(GetVSetting("wish_list_wait"), QString("2"));
        QCOMPARE(LogCount("Ignoring a wish list wait period of 0 seconds"), 1);

        // Beyond the timer's range the period is cut to the longest it can hold.
        QVERIFY(Deliver(fake, 104, F::U32(0xFFFFFFFF)));
        QVERIFY(searcher.SearchTimer().isActive() && searcher.SearchTimer().interval() == 2147483000);
        QCOMPARE(GetVSetting("wish_list_wait"), QString("4294967295"));
        QVERIFY(Deliver(fake, 104, F::U32(2147483)));
        QCOMPARE(searcher.SearchTimer().interval(), 2147483000);
    }
};

QTEST_MAIN(TestServerMessages)
#include "tst_servermessages.moc"
