#include "model/records.h"
#include "model/stream.h"

#include <QtTest>

namespace {

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream s;
    s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    return s;
}

// The value writes exactly these bytes, and reading them back consumes all of them and gives a
// value that writes the same bytes again.
template <typename T>
void Pins(const T& value, const char* hex)
{
    const QByteArray bytes = QByteArray::fromHex(hex);
    MemStream out;
    QVERIFY(out.Write(value));
    QCOMPARE(out.ToByteArray(), bytes);
    T back{};
    QVERIFY(out.Read(back));
    QCOMPARE(out.GetPendingReadLength(), size_t(0));
    MemStream again;
    QVERIFY(again.Write(back));
    QCOMPARE(again.ToByteArray(), bytes);
}

}  // namespace

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void copiesShareTheirPosition()
    {
        int v = 77;
        MemStream original = StreamOf(QByteArray::fromHex("01000000 02000000"));
        MemStream copy(original);
        QVERIFY(copy.Read(v));
        QCOMPARE(v, 1);
        QVERIFY(original.Read(v));
        QCOMPARE(v, 2);
        MemStream assigned;
        assigned = copy;
        assigned.Write(uint8_t(9));
        QCOMPARE(original.ToByteArray(), QByteArray::fromHex("01000000 02000000 09"));
    }

    void strings()
    {
        // Exactly at the cap: accepted.
        MemStream ok = StreamOf(QByteArray::fromHex("00000200") + QByteArray(131072, 'a'));
        QString text;
        QVERIFY(ok.Read(text));
        QCOMPARE(text.size(), 131072);

        // One above, a length of 2^32 - 1, or more than the stream holds: refused, for text and raw
        // bytes alike; only the length is consumed and the target keeps its value.
        for (const QByteArray& bad : {QByteArray::fromHex("01000200") + QByteArray(131073, 'b'),
                                      QByteArray::fromHex("ffffffff 61"), QByteArray::fromHex("05000000 616263")}) {
            MemStream asText = StreamOf(bad);
            QString keptText = QStringLiteral("old");
            QVERIFY(!asText.Read(keptText));
            QCOMPARE(keptText, QStringLiteral("old"));
            QCOMPARE(asText.GetPendingReadLength(), size_t(bad.size() - 4));
            MemStream asBytes = StreamOf(bad);
            std::string keptBytes = "old";
            QVERIFY(!asBytes.Read(keptBytes));
            QCOMPARE(keptBytes, std::string("old"));
        }

        // Cut at the first NUL, all seven bytes consumed.
        const QByteArray withNul = QByteArray::fromHex("07000000 616263 00 646566");
        MemStream a = StreamOf(withNul);
        QVERIFY(a.Read(text));
        QCOMPARE(text, QStringLiteral("abc"));
        QCOMPARE(a.GetPendingReadLength(), size_t(0));
        MemStream b = StreamOf(withNul);
        std::string raw;
        QVERIFY(b.Read(raw));
        QCOMPARE(raw, std::string("abc"));
    }

    void containers()
    {
        // Three promised, two there: false, the two complete elements kept.
        std::list<int> ints;
        MemStream partial = StreamOf(QByteArray::fromHex("03000000 01000000 02000000 0300"));
        QVERIFY(!partial.Read<int>(ints));
        QCOMPARE(ints, (std::list<int>{1, 2}));

        // Counts compare unsigned against the cap: 131073, 2^31 and 2^32 - 2 are all refused, and
        // only the count is consumed.
        std::map<int, std::string> map;
        MemStream over = StreamOf(QByteArray::fromHex("01000200"));
        QVERIFY(!over.Read<int>(ints));
        MemStream high = StreamOf(QByteArray::fromHex("00000080 01000000"));
        QVERIFY(!high.Read<int>(ints));
        QCOMPARE(high.GetPendingReadLength(), size_t(4));
        MemStream topMap = StreamOf(QByteArray::fromHex("feffffff 01000000"));
        QVERIFY(!topMap.Read(map));
        // At the cap the count is accepted; the elements decide.
        MemStream atCap;
        atCap.Write(uint32_t(131072));
        for (int k = 0; k < 131072; ++k)
            atCap.Write(k);
        QVERIFY(atCap.Read<int>(ints));
        QCOMPARE(ints.size(), size_t(131072));
        QCOMPARE(ints.back(), 131071);
        Pins(std::make_pair(1u, -1), "01000000 ffffffff");
    }

    void records()
    {
        UserStats stats;
        stats.averageSpeed = -1;
        stats.downloadCount = 0x0102030405060708ULL;
        stats.sharedFiles = 300;
        stats.sharedFolders = 7;
        Pins(stats, "ffffffff 0807060504030201 2c010000 07000000");
        // Exactly 20 bytes are read; 19 give false, with the first three fields set.
        MemStream in = StreamOf(QByteArray::fromHex("05000000 0600000000000000 07000000 08000000 aa"));
        UserStats r;
        QVERIFY(r.Read(in));
        QCOMPARE(in.GetPendingReadLength(), size_t(1));
        in = StreamOf(QByteArray::fromHex("05000000 0600000000000000 07000000 080000"));
        r = UserStats();
        QVERIFY(!r.Read(in));
        QVERIFY(r.averageSpeed == 5 && r.downloadCount == 6 && r.sharedFiles == 7 && r.sharedFolders == 0);

        // Empty name, empty extension, no attributes: 1 + 4 + 8 + 4 + 4 bytes.
        Pins(FileInfo(), "01 00000000 0000000000000000 00000000 00000000");
        FileInfo f("a\\song.mp3", 0x100000000LL);
        f.attributes.extension = "mp3";
        f.attributes.Add(0, 192);
        f.attributes.Add(2, 1);
        Pins(f, "01 0a000000 615c736f6e672e6d7033 0000000001000000"
                "03000000 6d7033 02000000 00000000 c0000000 02000000 01000000");
        SharedFolderInfo folder;
        folder.files = {FileInfo("y", 2), FileInfo("x", 1)};  // written in order
        Pins(folder, "02000000 01 01000000 78 0100000000000000 00000000 00000000"
                     "01 01000000 79 0200000000000000 00000000 00000000 00000000");
    }
};

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
