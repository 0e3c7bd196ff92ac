// The half-minute sweep's download side, on the engine's test clock: queue requests repeated
// every ten minutes, places in line asked when due, both held back while a download from that
// peer runs or the peer is offline.

#include "peertransferfixture.h"

#include <QtTest>

class TestTransferSweep : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(f.SetUp()); }
    void cleanupTestCase() { f.TearDown(); }
    void requeuesAndAsksPlacesWhenDue()
    {
        f.User("quin");
        ItemPtr a = transferQueueManager->AddDownload("quin", "a.bin", "s", 10, 0);
        transferQueueManager->AddDownload("quin", "b.bin", "s", 10, 0);
        QCOMPARE(Sent(), qMakePair(2, 0));

        // Never re-queued before: at once; the places follow 30 s later, then every ten minutes.
        f.Sweep(5);
        QCOMPARE(Sent(), qMakePair(2, 0));
        f.Sweep(29);
        QCOMPARE(Sent(), qMakePair(0, 0));
        f.Sweep(1);
        QCOMPARE(Sent(), qMakePair(0, 2));
        f.Sweep(565);
        QCOMPARE(Sent(), qMakePair(0, 0));
        f.Sweep(5);
        QCOMPARE(Sent(), qMakePair(2, 0));

        // While a download from the peer runs, neither; nor while the peer is offline.
        transferQueueManager->SetDownloadEntryStatus(a, "downloading");
        f.Sweep(1300);
        QCOMPARE(Sent(), qMakePair(0, 0));
        transferQueueManager->SetDownloadEntryStatus(a, "queued");
        ItemPtr quin = d.GetType("user")->HasItem(Value("quin"));
        quin.Disconnect("is_online");
        f.Sweep(1300);
        QCOMPARE(Sent(), qMakePair(0, 0));
        // Back online: asked again at once, and the places half a minute later.
        quin.NewItem("is_online");
        QCOMPARE(Sent(), qMakePair(2, 0));
        f.Sweep(31);
        QCOMPARE(Sent(), qMakePair(0, 2));
    }

private:
    // Counts of queue requests (43) and place-in-line requests (51) the peer received since the
    // last call, once everything sent before has arrived.
    QPair<int, int> Sent()
    {
        // A reply the peer cannot otherwise get marks the end of what went before it.
        const int markers = f.Received("quin", 44).size();
        peerMessenger->SendUploadPlaceInLine("quin", "marker", 0);
        if (f.WaitFor("quin", 44, markers + 1).size() <= markers)
            return qMakePair(-1, -1);
        const QPair<int, int> counts(f.Received("quin", 43).size(), f.Received("quin", 51).size());
        f.Clear("quin");
        return counts;
    }

    PeerTransferFixture f;
};

QTEST_MAIN(TestTransferSweep)
#include "tst_transfersweep.moc"
