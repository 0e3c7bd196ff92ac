// Private chat and its acknowledgement, searches passed on, the wish-list period, correlations.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "server/server.h"

#include <QObject>
#include <QSet>
#include <QTest>

#include <ctime>

namespace {

struct Chat
{
    QString user, text;
    qint64 time;
    bool spontaneous;
};

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
    ItemPtr item = Find("search_request_text", text);
    if (!item)
        return out;
    for (const ItemPtr& c : item.GetItems("search_correlation"))
        out << ValueOf(c, "correlation_text") + ":" + ValueOf(c, "correlation_rank");
    out.sort();
    return out;
}

}  // namespace

class TestServerChat : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;
    QList<Chat> m_chats;

private slots:
    void initTestCase()
    {
        QVERIFY(m_fixture.SetUpLoggedIn());
        connect(gp_server, &Server::PrivateChat, this, [this](QString user, QString text, time_t time, bool spontaneous) {
            m_chats << Chat{user, text, static_cast<qint64>(time), spontaneous};
        });
    }

    void init()
    {
        m_fixture.fake.ClearFrames();
        m_chats.clear();
    }

    void privateChatIsAcknowledged()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 22, PrivateMessage(7, 1000, "alice", "hello", 1)));
        QCOMPARE(m_chats.size(), 1);
        QCOMPARE(m_chats[0].user, QString("alice"));
        QCOMPARE(m_chats[0].text, QString("hello"));
        QCOMPARE(m_chats[0].time, qint64(1000));
        QVERIFY(m_chats[0].spontaneous);
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000007000000"));

        // An ignored sender is not heard, but still acknowledged.
        d.GetType("user")->GetItem(Value("pest")).NewItem("is_ignored");
        QVERIFY(Deliver(fake, 22, PrivateMessage(7, 0, "pest", "buy", 0)));
        QCOMPARE(m_chats.size(), 1);
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000007000000"));

        // Only the id: acknowledged all the same, and passed on with empty fields.
        QVERIFY(Deliver(fake, 22, F::U32(7)));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000007000000"));
        QCOMPARE(m_chats.size(), 2);
        QCOMPARE(m_chats[1].user, QString());
        QCOMPARE(m_chats[1].time, qint64(0));
        QVERIFY(!m_chats[1].spontaneous);

        // A negative time stays negative.
        QVERIFY(Deliver(fake, 22, PrivateMessage(0x01020304, -5, "bob", "x", 0)));
        QCOMPARE(m_chats.last().time, qint64(-5));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000004030201"));
    }

    void privilegesMentioned()
    {
        F& fake = m_fixture.fake;
        QVERIFY(Deliver(fake, 22, PrivateMessage(9, 0, "server", "your privileges were extended", 0)));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("080000001700000009000000"
                                                     "040000005c000000"));

        // Also from an ignored sender; a capital letter does not count.
        QVERIFY(Deliver(fake, 22, PrivateMessage(10, 0, "pest", "no-privileges-here", 0)));
        QVERIFY(Deliver(fake, 22, PrivateMessage(11, 0, "server", "Privileges", 0)));
        QCOMPARE(SentSoFar(fake).toHex(), QByteArray("08000000170000000a000000"
                                                     "040000005c000000"
                                                     "08000000170000000b000000"));
    }

    void fileSearchAndWishListWait()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QStringList searches;
        QList<uint> waits;
        connect(gp_server, &Server::DirectFileSearch, &context, [&](QString user, quint32 token, QString text) {
            searches << QString("%1/%2/%3").arg(user).arg(token).arg(text);
        });
        connect(gp_server, &Server::WishListWait, &context, [&](uint seconds) { waits << seconds; });
        QVERIFY(Deliver(fake, 26, F::Str("seeker") + F::U32(0xFFFFFFFF) + F::Str("foo bar")));
        QVERIFY(Deliver(fake, 26, F::Str("seeker")));
        QCOMPARE(searches, (QStringList{"seeker/4294967295/foo bar", "seeker/0/"}));
        QVERIFY(Deliver(fake, 104, F::U32(720)));
        QVERIFY(Deliver(fake, 104));
        QCOMPARE(waits, (QList<uint>{720, 0}));
        QVERIFY(!Find("user", "seeker"));
    }

    void searchCorrelations()
    {
        F& fake = m_fixture.fake;
        QObject context;
        QStringList announced;
        connect(gp_server, &Server::SearchCorrelations, &context, [&](QString text) { announced << text; });
        Type* correlation = d.GetType("search_correlation");
        const size_t before = correlation->ItemCount();

        QVERIFY(Deliver(fake, 153, F::Str("abc") + Entries(3, {{"x", 5}, {"x", 3}, {"y", -2}})));
        QCOMPARE(Correlations("abc"), (QStringList{"x:3", "x:5", "y:-2"}));
        // Two entries of one text share its item.
        QCOMPARE(Find("correlation_text", "x").GetItems("search_correlation").size(), size_t(2));

        // New ones replace the old, which leave the graph.
        QVERIFY(Deliver(fake, 153, F::Str("abc") + Entries(1, {{"z", 1}})));
        QCOMPARE(Correlations("abc"), QStringList{"z:1"});
        QCOMPARE(correlation->ItemCount(), before + 1);

        QVERIFY(Deliver(fake, 153, F::Str("abc") + Entries(0, {{"w", 1}})));
        QCOMPARE(Correlations("abc"), QStringList());

        // Negative: read until an entry fails. Above the limit: none. Short: what could be read.
        QVERIFY(Deliver(fake, 153, F::Str("neg") + Entries(-1, {{"a", 1}, {"b", 2}}) + F::U32(9)));
        QCOMPARE(Correlations("neg"), (QStringList{"a:1", "b:2"}));
        QVERIFY(Deliver(fake, 153, F::Str("neg") + Entries(131073, {{"a", 1}})));
        QCOMPARE(Correlations("neg"), QStringList());
        QVERIFY(Deliver(fake, 153, F::Str("neg") + Entries(3, {{"c", 1}})));
        QCOMPARE(Correlations("neg"), QStringList{"c:1"});
        QVERIFY(Deliver(fake, 153, F::Str("neg")));
        QCOMPARE(Correlations("neg"), QStringList());

        QCOMPARE(announced, (QStringList{"abc", "abc", "abc", "neg", "neg", "neg", "neg"}));
        QCOMPARE(correlation->ItemCount(), before);
    }
};

QTEST_MAIN(TestServerChat)
#include "tst_serverchat.moc"
