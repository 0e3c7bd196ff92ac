// Random, truncated and mangled input on the peer side: message bodies for every code the
// dispatch reads, the share-list and search-reply readers behind the inflate, frames on the wire
// of a messaging connection, and distributed-network frames from a candidate, a child and the
// server. Nothing may crash, and no single allocation may come near what a count or a length in
// the input merely claims.
#include "common/fuzzbody.h"
#include "common/largestnew.h"
#include "common/peerfixture.h"
#include "model/zlibstream.h"
#include "peer/peerreaders.h"
#include "shares/dnetmanager.h"

#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>



namespace {

using P = FakePeer;

const size_t kMegabyte = 1024 * 1024;
// What one frame may cost at most in one block: a whole frame of the largest length, with room.
const size_t kMaxBlock = 64 * kMegabyte;

const QList<quint32> kPeerCodes = {1, 4, 5, 8, 9, 10, 14, 15, 16, 33, 34, 36, 37, 40, 41, 42,
                                   43, 44, 46, 47, 48, 49, 50, 51, 52, 60, 0xFFFFFFFF};

// The common pieces, and file records and a count past what a share list may hold.
QByteArray StructuredBody(QRandomGenerator& random)
{
    return fuzz::StructuredBody(random, [&random] {
        if (random.bounded(2))
            return P::U32(5000001);
        return P::File(QString::fromLatin1(fuzz::Noise(random, random.bounded(4))), random.generate(), "mp3",
                       {{random.bounded(3u), random.generate()}});
    });
}

using fuzz::Stream;

QByteArray Frame(const QByteArray& body) { return P::U32(quint32(body.size())) + body; }

}  // namespace

class TestPeerFuzz : public QObject
{
    Q_OBJECT

    PeerFixture m_env;
    QTcpServer m_listener;

    QPair<QTcpSocket*, QTcpSocket*> Link() { return PeerFixture::Link(m_listener, this); }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp());
        new DNetManager();
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
        ItemPtr request = d.GetType("search_request")->NewItem(Value(7u));
        request += d.GetType("search_request_text")->GetItem("a");
    }
    void cleanupTestCase()
    {
        m_env.Clear();
        delete dnetManager;
    }

    // Every code's handler, on bodies whole and cut at every length; 5 and 9 also zipped.
    void dispatchBodies()
    {
        QRandomGenerator random(20261207);
        g_largestNew = 0;
        for (quint32 code : kPeerCodes) {
            for (int round = 0; round < 300; ++round) {
                QByteArray body = StructuredBody(random);
                if ((code == 5 || code == 9) && round % 2)
                    body = P::Zip(round % 4 == 1 ? P::Str("fuzz") + P::U32(7) + body : body);
                const QByteArray message = P::U32(code) + body;
                const int step = round % 25 == 0 ? 1 : qMax(1, message.size());
                for (int cut = round % 25 == 0 ? 0 : message.size(); cut <= message.size(); cut += step) {
                    MemStream stream = Stream(message.left(cut));
                    peerMessenger->HandlePeerMessage(nullptr, stream, ItemPtr(), "fuzz");
                }
            }
        }
        QVERIFY2(g_largestNew < kMegabyte, qPrintable(QString::number(g_largestNew)));
    }

    // The readers behind the inflate: random inflated bodies, and bodies whose counts claim
    // the most a list may hold.
    void shareListAndSearchReplyReaders()
    {
        QRandomGenerator random(7);
        g_largestNew = 0;
        for (int round = 0; round < 3000; ++round) {
            const QByteArray body = StructuredBody(random);
            for (int cut = 0; cut <= body.size(); cut += round % 10 == 0 ? 1 : body.size() + 1) {
                BufferReader shareReader(body.constData(), size_t(cut));
                FileInfoMap share;
                AttributeTranslationTable table;
                ReadShareList(shareReader, share, table);
                const QByteArray reply = P::Str("fuzz") + P::U32(7) + body.left(cut);
                BufferReader replyReader(reply.constData(), size_t(reply.size()));
                ItemPtr results;
                StoreSearchReply("fuzz", replyReader, results);
                if (results)
                    results.Remove();
            }
        }
        // Claims of the largest counts with nothing behind them.
        for (const QByteArray& body : {P::U32(131072) + P::Str("f") + P::U32(131072),
                                       P::U32(5000000) + P::Str("f") + P::U32(131072) + P::U8(1)}) {
            BufferReader reader(body.constData(), size_t(body.size()));
            FileInfoMap share;
            AttributeTranslationTable table;
            QVERIFY(ReadShareList(reader, share, table) != ShareListResult::Read);
        }
        QVERIFY2(g_largestNew < kMegabyte, qPrintable(QString::number(g_largestNew)));
        d.RemoveDisconnectedItems();
    }

    // Frames on the wire of messaging connections, plain and obfuscated, whole and in pieces,
    // and garbage in place of an init message: the client keeps running, and every connection
    // it refuses is closed.
    void wireFrames()
    {
        QRandomGenerator random(99);
        g_largestNew = 0;
        for (int round = 0; round < 60; ++round) {
            const bool obfuscated = round % 2;
            P peer(obfuscated);
            if (round % 5 == 4) {
                QVERIFY(peer.ConnectTo(obfuscated ? m_env.port + 1 : m_env.port));
                QByteArray garbage = StructuredBody(random);
                peer.SendRaw(P::U32(quint32(garbage.size())) + garbage + garbage);
            } else {
                QVERIFY(m_env.Messaging(peer, "fuzz"));
                for (int k = 0; k < 20; ++k) {
                    QByteArray body = P::U32(kPeerCodes[random.bounded(kPeerCodes.size())]) + StructuredBody(random);
                    if (random.bounded(4) == 0)
                        body = body.left(random.bounded(body.size() + 1));
                    peer.SendFrame(body);
                }
                // A length word of any size, and what follows it.
                peer.SendRaw(P::U32(random.generate()) + StructuredBody(random));
            }
            QTest::qWait(2);
            peer.SendMessage(52);
        }
        QTest::qWait(50);
        m_env.Clear();
        QVERIFY2(g_largestNew < kMaxBlock, qPrintable(QString::number(g_largestNew)));
        // A frame at the limit is held whole, once.
        P big;
        QVERIFY(m_env.Messaging(big, "fuzz"));
        g_largestNew = 0;
        big.SendFrame(P::U32(1) + QByteArray(int(PeerMessenger::kMaxFrameLength) - 4, 'x'));
        big.SendMessage(15);
        QTRY_VERIFY(PeerFixture::Log().contains("Received PM_USER_INFO_REQUEST message from user fuzz"));
        QVERIFY2(g_largestNew < kMaxBlock, qPrintable(QString::number(g_largestNew)));
        m_env.Clear();
    }

    // Distributed frames from a candidate and a child, and server-embedded messages.
    void dnetFrames()
    {
        QRandomGenerator random(31);
        g_largestNew = 0;
        for (int round = 0; round < 300; ++round) {
            QByteArray body = P::U8(static_cast<quint8>(random.bounded(9))) + StructuredBody(random);
            if (round % 3 == 0)
                body = P::U8(3) + P::U32(49) + StructuredBody(random);
            MemStream fromServer = Stream(body);
            dnetManager->HandleMessage(nullptr, fromServer);
            if (round % 10)
                continue;
            auto link = Link();
            QVERIFY(link.first);
            if (round % 20)
                emit peerMessenger->DNetConnectionRequested("fuzzchild", link.first);
            else
                emit peerMessenger->DNetConnectionAccepted("fuzzparent", link.first);
            QByteArray frames;
            for (int k = 0; k < 10; ++k)
                frames += Frame(P::U8(static_cast<quint8>(random.bounded(9))) + StructuredBody(random));
            frames += P::U32(random.generate()) + StructuredBody(random);
            link.second->write(frames);
            link.second->flush();
            QTest::qWait(2);
            link.second->abort();
            delete link.second;
        }
        QTest::qWait(20);
        QVERIFY2(g_largestNew < kMaxBlock, qPrintable(QString::number(g_largestNew)));
        if (dnetManager->HasParent()) {
            // A fuzzed candidate may have become the parent: its socket is gone by now.
            QTRY_VERIFY(!dnetManager->HasParent());
        }
    }
};

QTEST_MAIN(TestPeerFuzz)
#include "tst_peerfuzz.moc"
