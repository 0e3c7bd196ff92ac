#include "model/stream.h"

#include <QtTest>

namespace {

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream s;
    s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    return s;
}

}  // namespace

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void buffer();
    void integersAreLittleEndian();
    void strings();
    void containers();
};

void TestStream::buffer()
{
    // A write always leaves one spare byte, so 256 bytes need 512.
    MemStream a;
    QCOMPARE(a.GetBufferSize(), size_t(256));
    a.WriteBuffer(QByteArray(255, 'x').constData(), 255);
    QCOMPARE(a.GetBufferSize(), size_t(256));
    a.WriteBuffer("y", 1);
    QCOMPARE(a.GetBufferSize(), size_t(512));
    QCOMPARE(a.ToByteArray(), QByteArray(255, 'x') + "y");
    MemStream b = StreamOf(QByteArray(1000, 'z'));
    QCOMPARE(b.GetBufferSize(), size_t(1024));

    // All or nothing; read bytes stay part of the content until Clear().
    MemStream s = StreamOf(QByteArray::fromHex("010203"));
    int v = 77;
    QVERIFY(!s.Read(v));
    QCOMPARE(v, 77);
    char two[2];
    QVERIFY(s.ReadBuffer(two, 2));
    QCOMPARE(*s.GetReadBuffer(), char(3));
    QCOMPARE(s.GetPendingReadLength(), size_t(1));
    QCOMPARE(s.ToByteArray(), QByteArray::fromHex("010203"));
    s.Clear();
    QCOMPARE(s.GetPendingReadLength(), size_t(0));
    QCOMPARE(s.GetWriteIndex(), size_t(0));

    // Copies share one buffer and both positions.
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

    // The receive path writes straight into the array.
    MemStream direct;
    direct.EnsureBufferCapacity(100);
    QCOMPARE(direct.GetBufferSize(), size_t(256));
    direct.EnsureBufferCapacity(5000);
    QCOMPARE(direct.GetBufferSize(), size_t(5000));
    memcpy(direct.GetWriteBuffer(), "\x05\x00\x00\x00hello", 9);
    direct.AdvanceWriteIndex(9);
    std::string text;
    QVERIFY(direct.Read(text));
    QCOMPARE(text, std::string("hello"));
}

void TestStream::integersAreLittleEndian()
{
    MemStream s;
    QVERIFY(s.Write(uint8_t(0xab)) && s.Write(uint16_t(0x1234)) && s.Write(int(-2)) && s.Write(uint32_t(0x01020304)));
    QVERIFY(s.Write(int64_t(0x0102030405060708LL)) && s.Write(true) && s.Write(false));
    QCOMPARE(s.ToByteArray(), QByteArray::fromHex("ab 3412 feffffff 04030201 0807060504030201 01 00"));

    uint8_t a;
    uint16_t b;
    int c;
    uint32_t e;
    int64_t f;
    bool g, h;
    QVERIFY(s.Read(a) && s.Read(b) && s.Read(c) && s.Read(e) && s.Read(f) && s.Read(g) && s.Read(h));
    QCOMPARE(a, uint8_t(0xab));
    QCOMPARE(b, uint16_t(0x1234));
    QCOMPARE(c, -2);
    QCOMPARE(e, uint32_t(0x01020304));
    QCOMPARE(f, int64_t(0x0102030405060708LL));
    QVERIFY(g && !h);
    QCOMPARE(s.GetPendingReadLength(), size_t(0));
}

void TestStream::strings()
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

    // "café" in ISO 8859-1 is not UTF-8: it goes through the code page; in UTF-8 it is read as is.
    MemStream latin = StreamOf(QByteArray::fromHex("04000000 636166e9 05000000 636166c3a9"));
    QVERIFY(latin.Read(text));
    QCOMPARE(text, QStringLiteral("caf\u00e9"));
    QVERIFY(latin.Read(text));
    QCOMPARE(text, QStringLiteral("caf\u00e9"));

    // Text is written up to a U+0000; byte strings whole.
    MemStream out;
    QVERIFY(out.Write(QString::fromUtf8("ab\0cd", 5)) && out.Write(QStringLiteral("\u00e9")));
    QVERIFY(out.Write(std::string("a\0b", 3)) && out.Write("xy") && out.Write(QByteArray("z")));
    QCOMPARE(out.ToByteArray(),
             QByteArray::fromHex("02000000 6162 02000000 c3a9 03000000 610062 02000000 7879 01000000 7a"));
}

void TestStream::containers()
{
    std::list<int> ints{5};
    MemStream empty = StreamOf(QByteArray::fromHex("00000000"));
    QVERIFY(empty.Read<int>(ints));
    QVERIFY(ints.empty());

    // Three promised, two there: false, the two complete elements kept.
    MemStream partial = StreamOf(QByteArray::fromHex("03000000 01000000 02000000 0300"));
    QVERIFY(!partial.Read<int>(ints));
    QCOMPARE(ints, (std::list<int>{1, 2}));

    const QByteArray bab = QByteArray::fromHex("03000000 01000000 62 01000000 61 01000000 62");
    MemStream strings;
    strings.Write(std::list<QString>{"b", "a", "b"});
    QCOMPARE(strings.ToByteArray(), bab);
    std::list<QString> list;
    QVERIFY(strings.Read<QString>(list));
    QCOMPARE(list, (std::list<QString>{"b", "a", "b"}));
    MemStream again = StreamOf(bab);
    std::set<QString> set;
    QVERIFY(again.Read<QString>(set));
    QCOMPARE(set, (std::set<QString>{"a", "b"}));
    std::vector<uint32_t> vec;
    MemStream v = StreamOf(QByteArray::fromHex("02000000 0a000000 0b000000"));
    QVERIFY(v.Read(vec));
    QCOMPARE(vec, (std::vector<uint32_t>{10, 11}));

    // Counts compare unsigned against the cap: 131073, 2^31 and 2^32 - 1 are all refused.
    MemStream over = StreamOf(QByteArray::fromHex("01000200"));
    QVERIFY(!over.Read<int>(ints));
    MemStream high = StreamOf(QByteArray::fromHex("00000080 01000000"));
    QVERIFY(!high.Read<int>(ints));
    QCOMPARE(high.GetPendingReadLength(), size_t(4));
    MemStream top = StreamOf(QByteArray::fromHex("ffffffff 01000000"));
    QVERIFY(!top.Read<QString>(set));
    std::map<int, std::string> map;
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

    // Maps: a repeated key keeps the later value, and the old contents go.
    MemStream m = StreamOf(QByteArray::fromHex("03000000 07000000 01000000 61 02000000 01000000 62"
                                               "07000000 02000000 6300"));
    map = {{99, "gone"}};
    QVERIFY((m.Read<int, std::string>(map)));
    QCOMPARE(map, (std::map<int, std::string>{{2, "b"}, {7, "c"}}));
    MemStream mapOut;
    mapOut.Write(std::map<int, std::string>{{1, "x"}});
    QCOMPARE(mapOut.ToByteArray(), QByteArray::fromHex("01000000 01000000 01000000 78"));

    // Pairs: a failing second member leaves the first read.
    MemStream p = StreamOf(QByteArray::fromHex("ffffffff feffffff 05000000 01"));
    std::pair<unsigned int, int> pair;
    QVERIFY((p.Read<unsigned int, int>(pair)));
    QCOMPARE(pair, (std::pair<unsigned int, int>(0xffffffffu, -2)));
    QVERIFY(!p.Read(pair));
    QCOMPARE(pair.first, 5u);
    QCOMPARE(p.GetPendingReadLength(), size_t(1));
    MemStream pairOut;
    pairOut.Write(std::make_pair(1u, -1));
    QCOMPARE(pairOut.ToByteArray(), QByteArray::fromHex("01000000 ffffffff"));
}

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
