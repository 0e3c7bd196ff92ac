#include "model/stream.h"

#include <QtTest>

namespace {

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream s;
    s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    return s;
}

QByteArray Content(const MemStream& s)
{
    return s.ToByteArray();
}

}  // namespace

class TestStream : public QObject
{
    Q_OBJECT

private slots:
    void growth();
    void integersAreLittleEndian();
    void readBufferIsAllOrNothing();
    void copiesShareOneBuffer();
    void directWrites();
    void stringLengthCap();
    void stringCutAtNul();
    void qstringDecoding();
    void qstringWriteStopsAtNul();
    void byteStringWrite();
    void containers();
    void containerCountsAreUnsigned();
    void maps();
    void pairs();
};

void TestStream::growth()
{
    MemStream a;
    QCOMPARE(a.GetBufferSize(), size_t(256));
    const QByteArray bytes(256, 'x');
    a.WriteBuffer(bytes.constData(), 255);
    QCOMPARE(a.GetBufferSize(), size_t(256));
    a.WriteBuffer("y", 1);
    // A write always leaves one spare byte, so 256 bytes need 512.
    QCOMPARE(a.GetBufferSize(), size_t(512));
    QCOMPARE(a.GetWriteIndex(), size_t(256));
    QCOMPARE(Content(a), QByteArray(255, 'x') + "y");

    MemStream b;
    b.WriteBuffer(QByteArray(1000, 'z').constData(), 1000);
    QCOMPARE(b.GetBufferSize(), size_t(1024));
    QCOMPARE(Content(b), QByteArray(1000, 'z'));
}

void TestStream::integersAreLittleEndian()
{
    MemStream s;
    QVERIFY(s.Write(uint8_t(0xab)));
    QVERIFY(s.Write(uint16_t(0x1234)));
    QVERIFY(s.Write(int(-2)));
    QVERIFY(s.Write(uint32_t(0x01020304)));
    QVERIFY(s.Write(int64_t(0x0102030405060708LL)));
    QVERIFY(s.Write(true));
    QVERIFY(s.Write(false));
    QCOMPARE(Content(s), QByteArray::fromHex("ab 3412 feffffff 04030201 0807060504030201 01 00"));

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
    QVERIFY(g);
    QVERIFY(!h);
    QCOMPARE(s.GetPendingReadLength(), size_t(0));
}

void TestStream::readBufferIsAllOrNothing()
{
    MemStream s = StreamOf(QByteArray::fromHex("010203"));
    int v = 77;
    QVERIFY(!s.Read(v));
    QCOMPARE(v, 77);
    QCOMPARE(s.GetPendingReadLength(), size_t(3));
    char two[2];
    QVERIFY(s.ReadBuffer(two, 2));
    QCOMPARE(*s.GetReadBuffer(), char(3));
    QCOMPARE(s.GetPendingReadLength(), size_t(1));
    // Read bytes stay part of the content until Clear().
    QCOMPARE(Content(s), QByteArray::fromHex("010203"));
    s.Clear();
    QCOMPARE(s.GetPendingReadLength(), size_t(0));
    QCOMPARE(s.GetWriteIndex(), size_t(0));
    QCOMPARE(s.GetBufferSize(), size_t(256));
}

void TestStream::copiesShareOneBuffer()
{
    MemStream original = StreamOf(QByteArray::fromHex("01000000 02000000"));
    MemStream copy(original);
    int v;
    QVERIFY(copy.Read(v));
    QCOMPARE(v, 1);
    QCOMPARE(original.GetPendingReadLength(), size_t(4));
    QVERIFY(original.Read(v));
    QCOMPARE(v, 2);
    QCOMPARE(copy.GetPendingReadLength(), size_t(0));

    MemStream assigned;
    assigned = copy;
    assigned.Write(uint8_t(9));
    QCOMPARE(original.GetWriteIndex(), size_t(9));
    QCOMPARE(Content(original).right(1), QByteArray::fromHex("09"));
}

void TestStream::directWrites()
{
    MemStream s;
    s.EnsureBufferCapacity(100);
    QCOMPARE(s.GetBufferSize(), size_t(256));
    s.EnsureBufferCapacity(5000);
    QCOMPARE(s.GetBufferSize(), size_t(5000));
    memcpy(s.GetWriteBuffer(), "\x05\x00\x00\x00hello", 9);
    s.AdvanceWriteIndex(9);
    std::string text;
    QVERIFY(s.Read(text));
    QCOMPARE(text, std::string("hello"));
}

void TestStream::stringLengthCap()
{
    // Exactly at the cap: accepted.
    MemStream ok;
    ok.Write(uint32_t(131072));
    const QByteArray body(131072, 'a');
    ok.WriteBuffer(body.constData(), static_cast<size_t>(body.size()));
    QString text;
    QVERIFY(ok.Read(text));
    QCOMPARE(text.size(), 131072);
    QCOMPARE(ok.GetPendingReadLength(), size_t(0));

    // One above: refused; only the length is consumed, the bytes stay unread.
    MemStream big;
    big.Write(uint32_t(131073));
    big.WriteBuffer(QByteArray(131073, 'b').constData(), 131073);
    QString kept = QStringLiteral("old");
    QVERIFY(!big.Read(kept));
    QCOMPARE(kept, QStringLiteral("old"));
    QCOMPARE(big.GetPendingReadLength(), size_t(131073));

    MemStream bigBytes;
    bigBytes.Write(uint32_t(131073));
    bigBytes.WriteBuffer(QByteArray(131073, 'b').constData(), 131073);
    std::string keptBytes = "old";
    QVERIFY(!bigBytes.Read(keptBytes));
    QCOMPARE(keptBytes, std::string("old"));
    QCOMPARE(bigBytes.GetPendingReadLength(), size_t(131073));

    // A length the stream cannot satisfy fails the same way.
    MemStream shortStream = StreamOf(QByteArray::fromHex("05000000 616263"));
    QVERIFY(!shortStream.Read(kept));
    QCOMPARE(kept, QStringLiteral("old"));
    QCOMPARE(shortStream.GetPendingReadLength(), size_t(3));

    // A length of 2^32 - 1 is refused, not read as negative.
    MemStream huge = StreamOf(QByteArray::fromHex("ffffffff 61"));
    QVERIFY(!huge.Read(keptBytes));
}

void TestStream::stringCutAtNul()
{
    const QByteArray bytes = QByteArray::fromHex("07000000 616263 00 646566");
    MemStream a = StreamOf(bytes);
    QString text;
    QVERIFY(a.Read(text));
    QCOMPARE(text, QStringLiteral("abc"));
    QCOMPARE(a.GetPendingReadLength(), size_t(0));

    MemStream b = StreamOf(bytes);
    std::string raw;
    QVERIFY(b.Read(raw));
    QCOMPARE(raw, std::string("abc"));
    QCOMPARE(b.GetPendingReadLength(), size_t(0));

    MemStream empty = StreamOf(QByteArray::fromHex("00000000"));
    text = QStringLiteral("x");
    QVERIFY(empty.Read(text));
    QVERIFY(text.isEmpty());
}

void TestStream::qstringDecoding()
{
    // "café" in ISO 8859-1 is not UTF-8: it goes through the code page.
    MemStream latin = StreamOf(QByteArray::fromHex("04000000 636166e9"));
    QString text;
    QVERIFY(latin.Read(text));
    QCOMPARE(text, QStringLiteral("caf\u00e9"));

    MemStream utf8 = StreamOf(QByteArray::fromHex("05000000 636166c3a9"));
    QVERIFY(utf8.Read(text));
    QCOMPARE(text, QStringLiteral("caf\u00e9"));
}

void TestStream::qstringWriteStopsAtNul()
{
    MemStream s;
    QVERIFY(s.Write(QString::fromUtf8("ab\0cd", 5)));
    QCOMPARE(Content(s), QByteArray::fromHex("02000000 6162"));

    MemStream u;
    QVERIFY(u.Write(QStringLiteral("\u00e9")));
    QCOMPARE(Content(u), QByteArray::fromHex("02000000 c3a9"));
}

void TestStream::byteStringWrite()
{
    MemStream s;
    QVERIFY(s.Write(std::string("a\0b", 3)));
    QVERIFY(s.Write("xy"));
    QVERIFY(s.Write(QByteArray("z")));
    QCOMPARE(Content(s), QByteArray::fromHex("03000000 610062 02000000 7879 01000000 7a"));
}

void TestStream::containers()
{
    MemStream empty = StreamOf(QByteArray::fromHex("00000000"));
    std::list<int> ints{5};
    QVERIFY(empty.Read<int>(ints));
    QVERIFY(ints.empty());

    // Three promised, two there: false, the two complete elements kept.
    MemStream partial = StreamOf(QByteArray::fromHex("03000000 01000000 02000000 0300"));
    QVERIFY(!partial.Read<int>(ints));
    QCOMPARE(ints, (std::list<int>{1, 2}));

    MemStream strings;
    strings.Write(std::list<QString>{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(Content(strings), QByteArray::fromHex("03000000 01000000 62 01000000 61 01000000 62"));
    MemStream again(strings);
    std::list<QString> list;
    QVERIFY(strings.Read<QString>(list));
    QCOMPARE(list, (std::list<QString>{QStringLiteral("b"), QStringLiteral("a"), QStringLiteral("b")}));
    again.Clear();
    again.WriteBuffer(QByteArray::fromHex("03000000 01000000 62 01000000 61 01000000 62").constData(), 19);
    std::set<QString> set;
    QVERIFY(again.Read<QString>(set));
    QCOMPARE(set, (std::set<QString>{QStringLiteral("a"), QStringLiteral("b")}));

    std::vector<uint32_t> vec;
    MemStream v = StreamOf(QByteArray::fromHex("02000000 0a000000 0b000000"));
    QVERIFY(v.Read(vec));
    QCOMPARE(vec, (std::vector<uint32_t>{10, 11}));
}

void TestStream::containerCountsAreUnsigned()
{
    std::list<int> ints;
    MemStream over = StreamOf(QByteArray::fromHex("01000200"));  // 131073
    QVERIFY(!over.Read<int>(ints));
    MemStream high = StreamOf(QByteArray::fromHex("00000080 01000000"));  // 2^31
    QVERIFY(!high.Read<int>(ints));
    QCOMPARE(high.GetPendingReadLength(), size_t(4));
    MemStream top = StreamOf(QByteArray::fromHex("ffffffff 01000000"));
    std::set<QString> set;
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
}

void TestStream::maps()
{
    MemStream s = StreamOf(QByteArray::fromHex("03000000"
                                               "07000000 01000000 61"
                                               "02000000 01000000 62"
                                               "07000000 02000000 6300"));
    std::map<int, std::string> map{{99, "gone"}};
    QVERIFY((s.Read<int, std::string>(map)));
    QCOMPARE(map, (std::map<int, std::string>{{2, "b"}, {7, "c"}}));

    MemStream out;
    out.Write(std::map<int, std::string>{{1, "x"}});
    QCOMPARE(Content(out), QByteArray::fromHex("01000000 01000000 01000000 78"));
}

void TestStream::pairs()
{
    MemStream s = StreamOf(QByteArray::fromHex("ffffffff feffffff 0100"));
    std::pair<unsigned int, int> p;
    QVERIFY((s.Read<unsigned int, int>(p)));
    QCOMPARE(p.first, 0xffffffffu);
    QCOMPARE(p.second, -2);
    // The first member read, the second missing: false, the first stays read.
    p = {0, 0};
    MemStream half = StreamOf(QByteArray::fromHex("05000000 01"));
    QVERIFY(!half.Read(p));
    QCOMPARE(p.first, 5u);
    QCOMPARE(half.GetPendingReadLength(), size_t(1));

    MemStream out;
    out.Write(std::make_pair(1u, -1));
    QCOMPARE(Content(out), QByteArray::fromHex("01000000 ffffffff"));
}

QTEST_GUILESS_MAIN(TestStream)
#include "tst_stream.moc"
