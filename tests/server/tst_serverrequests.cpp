// The requests the client sends to the central server: their bytes, their tokens and what they
// record in the item graph, and the server's item types.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/datasaver.h"
#include "model/settings.h"
#include "server/server.h"

#include <QSignalSpy>
#include <QtTest>

#include <functional>

namespace {

ItemPtr User(const char* name) { return d.GetType("user")->GetItem(Value(name)); }
ItemPtr Room(const char* name) { return d.GetType("room")->GetItem(Value(name)); }

} // namespace

class TestServerRequests : public QObject
{
    Q_OBJECT

    ServerFixture m_env;

    // Everything the client sent since the last call, back to back.
    QByteArray Sent()
    {
        if (!m_env.Sync())
            return "sync failed";
        const QByteArray bytes = m_env.fake.RawBytes();
        m_env.fake.ClearFrames();
        return bytes;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(false));
        m_env.SetLogin("alice", "secret");
    }

    void cleanup()
    {
        QVERIFY(m_env.Reset());
    }

    void savedTypes()
    {
        std::set<std::string> saved;
        for (Type* t : dataSaver->SavedTypes())
            saved.insert(t->Name());
        QCOMPARE(saved, std::set<std::string>({"room_autojoin", "in_user_list", "user_list_group", "is_ignored",
                                               "group_download_priority", "accept_uploads"}));
        std::set<std::string> byConnection;
        for (const auto& e : dataSaver->SavedByConnectionTypes())
            for (Type* other : e.second)
                byConnection.insert(e.first->Name() + "<-" + other->Name());
        QVERIFY(byConnection.count("room<-room_autojoin") && byConnection.count("user<-in_user_list") &&
                byConnection.count("user<-is_ignored"));
    }

    void searchTokens()
    {
        QSignalSpy requested(gp_server, &Server::SearchRequested);
        User("ann") += d.GetType("in_user_list")->NewItem();
        User("ann").NewItem("is_online");
        User("bea") += d.GetType("in_user_list")->NewItem();
        User("bea").NewItem("is_online");
        User("cid") += d.GetType("in_user_list")->NewItem();
        User("dan").NewItem("is_online");

        QVERIFY(m_env.LogIn());
        QCOMPARE(gp_server->FileSearch("abc", false), 1u);
        QCOMPARE(gp_server->FileSearch("abc", true), 2u);
        QCOMPARE(gp_server->SearchRoom("den", "x"), 3u);
        QCOMPARE(Sent(), Hex("0f000000 1a000000 01000000 03000000 616263"
                             "0f000000 67000000 02000000 03000000 616263"
                             "14000000 78000000 03000000 64656e 03000000 01000000 78"));

        // One message per online user of the user list, all with the one token.
        QCOMPARE(gp_server->SearchUserList("y"), 4u);
        m_env.Sync();
        QSet<QByteArray> userList;
        for (const F::Frame& f : m_env.fake.TakeFrames())
            userList << f.raw;
        QCOMPARE(userList, QSet<QByteArray>({Hex("14000000 2a000000 03000000 616e6e 04000000 01000000 79"),
                                             Hex("14000000 2a000000 03000000 626561 04000000 01000000 79")}));

        // The relay tokens are a counter of their own.
        QCOMPARE(gp_server->SendIndirectConnectionRequest("ann", "P"), 1u);
        QCOMPARE(gp_server->SendIndirectConnectionRequest("bea", "F"), 2u);
        QCOMPARE(Sent(), Hex("14000000 12000000 01000000 03000000 616e6e 01000000 50"
                             "14000000 12000000 02000000 03000000 626561 01000000 46"));

        // Two searches of one text share its text item; only the wish-list one is flagged.
        Type* requests = d.GetType("search_request");
        ItemPtr first = requests->HasItem(Value(1u));
        ItemPtr second = requests->HasItem(Value(2u));
        QVERIFY(first && second && requests->HasItem(Value(3u)) && requests->HasItem(Value(4u)));
        QCOMPARE(first["search_request_text"], second["search_request_text"]);
        QCOMPARE(first["search_request_text"].AsString(), QString("abc"));
        QVERIFY(!first.IsConnected("wishlist_search"));
        QVERIFY(second.IsConnected("wishlist_search"));
        QCOMPARE(requests->HasItem(Value(4u))["search_request_text"].AsString(), QString("y"));

        QCOMPARE(requested.count(), 2);
        QCOMPARE(requested[0], QVariantList({1u, QString("abc"), false}));
        QCOMPARE(requested[1], QVariantList({2u, QString("abc"), true}));

        // Not logged in: nothing goes out, but the token is used and the search recorded.
        gp_server->Disconnect();
        QCOMPARE(gp_server->FileSearch("later", false), 5u);
        QVERIFY(requests->HasItem(Value(5u)));
        QCOMPARE(requested.count(), 3);
    }

    void requestLayouts()
    {
        QVERIFY(m_env.LogIn());
        QSignalSpy chatSent(gp_server, &Server::PrivateChatSent);

        const QList<QPair<std::function<void()>, QByteArray>> cases = {
            {[] { gp_server->SetWaitPort(2234, 2235); }, Hex("10000000 02000000 ba080000 01000000 bb080000")},
            {[] { gp_server->AddUser("ann"); }, Hex("0b000000 05000000 03000000 616e6e")},
            {[] { gp_server->GetUserStatus("ann"); }, Hex("0b000000 07000000 03000000 616e6e")},
            {[] { gp_server->SendRoomChat("den", "hi"); }, Hex("11000000 0d000000 03000000 64656e 02000000 6869")},
            {[] { gp_server->EnterRoom("den", true); }, Hex("0f000000 0e000000 03000000 64656e 01000000")},
            {[] { gp_server->EnterRoom("den", false); }, Hex("0f000000 0e000000 03000000 64656e 00000000")},
            {[] { gp_server->SendPrivateChat("ann", "a\nb\r\nc"); },
             Hex("15000000 16000000 03000000 616e6e 06000000 612062202063")},
            {[] { gp_server->SendFilesFolders(2, 30); }, Hex("0c000000 23000000 02000000 1e000000")},
            {[] { gp_server->GetUserStats("ann"); }, Hex("0b000000 24000000 03000000 616e6e")},
            {[] { gp_server->SendDNetHasParent(true); }, Hex("05000000 47000000 00")},
            {[] { gp_server->SendDNetHasParent(false); }, Hex("05000000 47000000 01")},
            {[] { gp_server->GetOwnPrivilegesStatus(); }, Hex("04000000 5c000000")},
            {[] { gp_server->SendDNetCanParent(true); }, Hex("05000000 64000000 01")},
            {[] { gp_server->SendUploadSpeed(5000); }, Hex("08000000 79000000 88130000")},
            {[] { gp_server->SendDNetLevel(3); }, Hex("08000000 7e000000 03000000")},
            {[] { gp_server->SendDNetGroupLeader("bea"); }, Hex("0b000000 7f000000 03000000 626561")},
            {[] { gp_server->SendChildDepth(false); }, Hex("05000000 81000000 00")},
            {[] { gp_server->AddPrivateRoomMember("den", "ann"); },
             Hex("12000000 86000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->RemovePrivateRoomMember("den", "ann"); },
             Hex("12000000 87000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->GiveUpPrivateRoomMembership("den"); }, Hex("0b000000 88000000 03000000 64656e")},
            {[] { gp_server->GiveUpPrivateRoom("den"); }, Hex("0b000000 89000000 03000000 64656e")},
            {[] { gp_server->EnablePrivateRoomAdd(true); }, Hex("05000000 8d000000 01")},
            {[] { gp_server->AddPrivateRoomOperator("den", "ann"); },
             Hex("12000000 8f000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->RemovePrivateRoomOperator("den", "ann"); },
             Hex("12000000 90000000 03000000 64656e 03000000 616e6e")},
            {[] { gp_server->GetSearchCorrelations("abc"); }, Hex("0b000000 99000000 03000000 616263")},
            {[] { gp_server->SendCantConnectToPeer(7, "ann"); }, Hex("0f000000 e9030000 07000000 03000000 616e6e")},
            {[] { gp_server->EveryFiveMinutes(); }, Hex("04000000 20000000")},
        };
        for (int k = 0; k < cases.size(); ++k) {
            cases[k].first();
            QVERIFY2(Sent() == cases[k].second, qPrintable(QString("case %1").arg(k)));
        }
        QCOMPARE(chatSent.count(), 1);
        QCOMPARE(chatSent[0], QVariantList({QString("ann"), QString("a b  c")}));
    }

    void requestsThatRememberState()
    {
        QVERIFY(m_env.LogIn());

        gp_server->GetUserAddress("eve");
        gp_server->GetUserAddress("eve");
        QCOMPARE(Sent(), Hex("0b000000 03000000 03000000 657665"));
        User("eve").Disconnect("user_address_request");
        gp_server->GetUserAddress("eve");
        QCOMPARE(Sent(), Hex("0b000000 03000000 03000000 657665"));

        gp_server->UntrackUser("fay");
        gp_server->TrackUser("fay");
        gp_server->TrackUser("fay");
        QVERIFY(User("fay").IsConnected("is_tracked"));
        gp_server->UntrackUser("fay");
        QVERIFY(!User("fay").IsConnected("is_tracked"));
        QCOMPARE(Sent(), Hex("0b000000 05000000 03000000 666179 0b000000 06000000 03000000 666179"));

        gp_server->LeaveRoom("den");
        QCOMPARE(Sent(), QByteArray());
        Room("den").NewItem("in_room");
        gp_server->LeaveRoom("den");
        QCOMPARE(Sent(), Hex("0b000000 0f000000 03000000 64656e"));
        // The server's reply clears the flag, not the request.
        QVERIFY(Room("den").IsConnected("in_room"));

        SetSetting("accept_room_list", Value("no"));
        gp_server->GetRoomList();
        QCOMPARE(Sent(), Hex("04000000 40000000"));
        QCOMPARE(GetSetting("accept_room_list"), QString("yes"));
    }

    void availabilityStatus()
    {
        gp_server->SetAvailabilityStatus(false);
        QCOMPARE(GetSetting("availability_status"), QString("away"));
        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QCOMPARE(m_env.fake.Codes().mid(1), QList<quint32>({28, 3}));
        QCOMPARE(m_env.fake.Frames()[1].raw, Hex("08000000 1c000000 01000000"));
        m_env.fake.ClearFrames();

        gp_server->SetAvailabilityStatus(true);
        QCOMPARE(GetSetting("availability_status"), QString("available"));
        QCOMPARE(Sent(), Hex("08000000 1c000000 02000000"));
    }
};

QTEST_MAIN(TestServerRequests)
#include "tst_serverrequests.moc"
