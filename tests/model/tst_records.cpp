#include "model/records.h"

#include <QtTest>

namespace {

MemStream StreamOf(const QByteArray& bytes)
{
    MemStream s;
    s.WriteBuffer(bytes.constData(), static_cast<size_t>(bytes.size()));
    return s;
}

}  // namespace

class TestRecords : public QObject
{
    Q_OBJECT

private slots:
    void userStats();
    void fileInfo();
    void fileOrder();
    void sharedFolders();
};

void TestRecords::userStats()
{
    UserStats s;
    QCOMPARE(s.averageSpeed, 0);
    QCOMPARE(s.downloadCount, uint64_t(0));
    s.averageSpeed = -1;
    s.downloadCount = 0x0102030405060708ULL;
    s.sharedFiles = 300;
    s.sharedFolders = 7;
    MemStream out;
    QVERIFY(s.Write(out));
    const QByteArray expected = QByteArray::fromHex("ffffffff 0807060504030201 2c010000 07000000");
    QCOMPARE(out.ToByteArray(), expected);

    MemStream in = StreamOf(expected + QByteArray::fromHex("aa"));
    UserStats r;
    QVERIFY(r.Read(in));
    QCOMPARE(in.GetPendingReadLength(), size_t(1));
    QCOMPARE(r.averageSpeed, -1);
    QCOMPARE(r.downloadCount, 0x0102030405060708ULL);
    QCOMPARE(r.sharedFiles, 300);
    QCOMPARE(r.sharedFolders, 7u);

    // 19 bytes: false, with the first three fields set.
    in = StreamOf(QByteArray::fromHex("05000000 0600000000000000 07000000 080000"));
    r = UserStats();
    QVERIFY(!r.Read(in));
    QCOMPARE(r.averageSpeed, 5);
    QCOMPARE(r.downloadCount, uint64_t(6));
    QCOMPARE(r.sharedFiles, 7);
    QCOMPARE(r.sharedFolders, 0u);
    QCOMPARE(in.GetPendingReadLength(), size_t(3));
}

void TestRecords::fileInfo()
{
    // Empty name, empty extension, no attributes: 1 + 4 + 8 + 4 + 4 bytes.
    MemStream minimal;
    QVERIFY(FileInfo().Write(minimal));
    QCOMPARE(minimal.ToByteArray(), QByteArray::fromHex("01 00000000 0000000000000000 00000000 00000000"));
    FileInfo r("stale", 99);
    QVERIFY(r.Read(minimal));
    QCOMPARE(r.name, std::string());
    QCOMPARE(r.size, int64_t(0));
    QCOMPARE(minimal.GetPendingReadLength(), size_t(0));

    FileInfo f("a\\song.mp3", 0x100000000LL);
    f.attributes.extension = "mp3";
    f.attributes.Add(0, 192);
    f.attributes.Add(2, 1);
    MemStream out;
    QVERIFY(f.Write(out));
    const QByteArray expected = QByteArray::fromHex(
        "01 0a000000 615c736f6e672e6d7033 0000000001000000"
        "03000000 6d7033 02000000 00000000 c0000000 02000000 01000000");
    QCOMPARE(out.ToByteArray(), expected);
    QVERIFY(r.Read(out));
    QCOMPARE(r.name, f.name);
    QCOMPARE(r.size, f.size);
    QCOMPARE(r.attributes.extension, std::string("mp3"));
    QCOMPARE(r.attributes.attributes, f.attributes.attributes);

    // Cut anywhere: false, and never more read than is there.
    for (int k = 0; k < expected.size(); ++k) {
        MemStream cut = StreamOf(expected.left(k));
        FileInfo c;
        QVERIFY(!c.Read(cut));
    }

    // A leading 0 byte: success, one byte consumed, the record keeps what it held.
    MemStream absent = StreamOf(QByteArray::fromHex("00 01"));
    QVERIFY(r.Read(absent));
    QCOMPARE(absent.GetPendingReadLength(), size_t(1));
    QCOMPARE(r.name, f.name);

    // An attribute count over the cap is refused after the extension; so is 2^31; so is a
    // name over the cap.
    MemStream tooMany = StreamOf(QByteArray::fromHex("03000000 6d7033 01000200 00000000"));
    AttributeMap m;
    QVERIFY(!m.Read(tooMany));
    QCOMPARE(m.extension, std::string("mp3"));
    QCOMPARE(tooMany.GetPendingReadLength(), size_t(4));
    MemStream high = StreamOf(QByteArray::fromHex("00000000 00000080"));
    QVERIFY(!m.Read(high));
    MemStream longName = StreamOf(QByteArray::fromHex("01 01000200"));
    QVERIFY(!r.Read(longName));
}

void TestRecords::fileOrder()
{
    std::set<FileInfo> files{FileInfo("b", 1), FileInfo("a", 20), FileInfo("a", 10), FileInfo("a", 10)};
    QCOMPARE(files.size(), size_t(3));
    auto it = files.begin();
    QCOMPARE(it->name, std::string("a"));
    QCOMPARE(it->size, int64_t(10));
    ++it;
    QCOMPARE(it->size, int64_t(20));
    ++it;
    QCOMPARE(it->name, std::string("b"));
    // Sizes compare signed.
    QVERIFY(FileInfo("x", -1) < FileInfo("x", 0));
    // Names compare byte-wise: upper case first.
    QVERIFY(FileInfo("B", 0) < FileInfo("a", 0));
}

void TestRecords::sharedFolders()
{
    SharedFolderInfo folder;
    folder.files.insert(FileInfo("y", 2));
    folder.files.insert(FileInfo("x", 1));
    MemStream out;
    QVERIFY(folder.Write(out));
    const QByteArray expected = QByteArray::fromHex(
        "02000000"
        "01 01000000 78 0100000000000000 00000000 00000000"
        "01 01000000 79 0200000000000000 00000000 00000000"
        "00000000");
    QCOMPARE(out.ToByteArray(), expected);

    SharedFolderInfo r;
    r.files.insert(FileInfo("old", 0));
    QVERIFY(r.Read(out));
    QCOMPARE(r.files.size(), size_t(2));
    QCOMPARE(r.files.begin()->name, std::string("x"));

    // The trailer is part of the record.
    MemStream noTrailer = StreamOf(expected.left(expected.size() - 1));
    QVERIFY(!r.Read(noTrailer));

    MemStream tooMany = StreamOf(QByteArray::fromHex("01000200"));
    QVERIFY(!r.Read(tooMany));
    QVERIFY(r.files.empty());

    // A share list: folder name to its files, in name order.
    FileInfoMap share;
    share["music"].insert(FileInfo("a.mp3", 3));
    share["docs"];
    MemStream list;
    QVERIFY(list.Write(share));
    QCOMPARE(list.ToByteArray(),
             QByteArray::fromHex("02000000 04000000 646f6373 00000000 05000000 6d75736963"
                                 "01000000 01 05000000 612e6d7033 0300000000000000 00000000 00000000"));
    FileInfoMap back;
    QVERIFY(list.Read(back));
    QCOMPARE(back.size(), size_t(2));
    QCOMPARE(back["music"].begin()->name, std::string("a.mp3"));
}

QTEST_GUILESS_MAIN(TestRecords)
#include "tst_records.moc"
