// Random, truncated and mangled bodies for every code the client handles: nothing may crash,
// and nothing may allocate beyond what the body itself could justify.
#include "common/deliver.h"
#include "common/fuzzbody.h"
#include "common/largestnew.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/settings.h"
#include "server/server.h"

#include <QObject>
#include <QRandomGenerator>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <new>

#if defined(__SANITIZE_ADDRESS__)
// From the sanitizer runtime; its header does not ship with every compiler.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#else
#include <malloc.h>
#endif

namespace {

const QList<int> kCodes = {1,   3,   5,   7,   13,  14,  15,  16,  17,  18,  22,  26,  36,  64,  69,  83,  84,  92,
                           93,  102, 104, 128, 130, 133, 134, 135, 139, 140, 141, 143, 144, 145, 146, 148, 153, 1001};

// Bytes held on the heap right now (freed blocks a sanitizer keeps aside do not count).
qint64 LiveHeapBytes()
{
#if defined(__SANITIZE_ADDRESS__)
    return static_cast<qint64>(__sanitizer_get_current_allocated_bytes());
#else
    const struct mallinfo2 info = mallinfo2();
    return static_cast<qint64>(info.uordblks + info.hblkhd);
#endif
}

const qint64 kMegabyte = 1024 * 1024;

using fuzz::Stream;
using fuzz::StructuredBody;

void Handle(int code, const QByteArray& bytes)
{
    MemStream body = Stream(bytes);
    gp_server->HandleMessage(code, body);
}

}  // namespace

class TestServerMessageFuzz : public QObject
{
    Q_OBJECT

    ServerFixture m_fixture;

private slots:
    void initTestCase() { QVERIFY(m_fixture.SetUpLoggedIn()); }

    void randomBodies()
    {
        QRandomGenerator random(20240607);
        const qint64 before = LiveHeapBytes();
        g_largestNew = 0;
        for (int code : kCodes) {
            for (int round = 0; round < 400; ++round) {
                // Replies would otherwise pile up in the socket unread.
                if (round % 100 == 0)
                    QCoreApplication::processEvents();
                SetSetting("accept_room_list", Value(round % 2 ? "yes" : "no"));
                const QByteArray body = StructuredBody(random);
                Handle(code, body);
                // Every truncation of it too.
                if (round % 20 == 0)
                    for (int cut = 0; cut < body.size(); ++cut)
                        Handle(code, body.left(cut));
            }
        }
        QVERIFY(gp_server->IsConnected());
        // Thousands of small bodies: a few megabytes of items at most, never the sizes the
        // counts in them claim.
        QVERIFY2(g_largestNew < size_t(kMegabyte), qPrintable(QString::number(g_largestNew)));
        QVERIFY2(LiveHeapBytes() - before < 32 * kMegabyte, qPrintable(QString::number(LiveHeapBytes() - before)));
    }

    void negativeCountsAreBoundedByTheBody()
    {
        // Four megabytes of zeros behind a count of -1: read until an entry fails, keep what
        // an honest count could give.
        const QByteArray zeros(4 * kMegabyte, '\0');
        MemStream room = Stream(F::Str("fuzzroom") + F::U32(1) + F::Str("only") + F::U32(0) + F::I32(-1) + zeros);
        MemStream parents = Stream(F::I32(-1) + zeros);
        MemStream correlations = Stream(F::Str("fuzz") + F::I32(-1) + zeros.left(64 * 1024));
        const qint64 before = LiveHeapBytes();
        g_largestNew = 0;
        gp_server->HandleMessage(14, room);
        gp_server->HandleMessage(102, parents);
        gp_server->HandleMessage(153, correlations);
        QCOMPARE(Find("search_request_text", "fuzz").GetItems("search_correlation").size(), size_t(8192));
        QCOMPARE(Find("room", "fuzzroom").GetItems("user").size(), size_t(1));
        QVERIFY2(g_largestNew < size_t(kMegabyte), qPrintable(QString::number(g_largestNew)));
        QVERIFY2(LiveHeapBytes() - before < 64 * kMegabyte, qPrintable(QString::number(LiveHeapBytes() - before)));
    }
};

QTEST_MAIN(TestServerMessageFuzz)
#include "tst_servermessagefuzz.moc"
