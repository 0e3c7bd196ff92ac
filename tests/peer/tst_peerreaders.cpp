// The readers of compressed peer bodies: inflating with a cap, share lists, search replies.
#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/serverfixture.h"
#include "model/data.h"
#include "model/log.h"
#include "model/zlibstream.h"
#include "peer/peerreaders.h"

#include <QtTest>

namespace {

QByteArray File(const QString& name, qint64 size, const QByteArray& ext = QByteArray(),
                const QVector<QPair<quint32, quint32>>& pairs = {})
{
    return FakePeer::File(name, size, ext, pairs);
}

ItemPtr Search(unsigned int token, const QString& text)
{
    ItemPtr request = d.GetType("search_request")->GetItem(Value(token));
    if (!request)
        request = d.GetType("search_request")->NewItem(Value(token));
    request += d.GetType("search_request_text")->GetItem(text);
    return request;
}

// The reply body (inflated): user, token, files, then the optional trailer.
QByteArray Reply(const QString& user, quint32 token, const QList<QByteArray>& files,
                 const QByteArray& trailer = F::U8(1) + F::U32(5000) + F::U32(3) + F::U32(0))
{
    QByteArray out = F::Str(user) + F::U32(token) + F::U32(quint32(files.size()));
    for (const QByteArray& f : files)
        out += f;
    return out + trailer;
}

SearchReplyResult Store(const QString& user, const QByteArray& body, ItemPtr& results)
{
    BufferReader reader(body.constData(), size_t(body.size()));
    return StoreSearchReply(user, reader, results);
}

// "name|folder|size|bitrate|mode|length" of every result of a reply, sorted.
QStringList Describe(ItemPtr results)
{
    QStringList out;
    for (const ItemPtr& r : results.GetItems("search_result"))
        out << QStringList{ValueOf(r, "search_result_file_name"), ValueOf(r, "search_result_file_folder"),
                           ValueOf(r, "file_size"), ValueOf(r, "bitrate"), ValueOf(r, "bitrate_mode"),
                           ValueOf(r, "length_seconds")}
                   .join('|');
    out.sort();
    return out;
}

}  // namespace

class TestPeerReaders : public QObject
{
    Q_OBJECT

    ServerFixture m_env;

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp(true, true)); }

    void inflate_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<int>("cap");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QByteArray>("output");
        const QByteArray text = QByteArray("share list ").repeated(1000);
        QTest::newRow("whole") << FakePeer::Zip(text) << 1 << 0 << text;
        QTest::newRow("bytes behind the stream") << FakePeer::Zip(text) + "junk" << 1 << 0 << text;
        QTest::newRow("cut short") << FakePeer::Zip(text).left(40) << 1 << 1 << QByteArray();
        QTest::newRow("not zlib") << QByteArray("plain text here") << 1 << 1 << QByteArray();
        QTest::newRow("empty") << QByteArray() << 1 << 1 << QByteArray();
        QTest::newRow("beyond the cap") << FakePeer::Zip(QByteArray(70000, '\0')) << 65536 << 2 << QByteArray();
        QTest::newRow("exactly the cap") << FakePeer::Zip(QByteArray(65535, 'x')) << 65536 << 0 << QByteArray(65535, 'x');
    }
    void inflate()
    {
        QFETCH(QByteArray, input);
        QFETCH(int, cap);
        QFETCH(int, expected);
        QFETCH(QByteArray, output);
        std::string out = "previous";
        const size_t limit = cap == 1 ? kMaxInflatedSize : size_t(cap);
        QCOMPARE(int(Inflate(input.constData(), size_t(input.size()), out, limit)), expected);
        QCOMPARE(QByteArray::fromStdString(out), output);
    }

    void compressFailureAppendsNothing()
    {
        MemStream out;
        out.Write(uint32_t(5));
        const QByteArray body(1000, 'a');
        QVERIFY(!CompressTo(body.constData(), size_t(body.size()), out, 42));
        QCOMPARE(out.ToByteArray(), Hex("05000000"));
        QVERIFY(CompressTo(body.constData(), size_t(body.size()), out));
        std::string back;
        QCOMPARE(Inflate(out.GetBuffer() + 4, out.GetWriteIndex() - 4, back), InflateResult::Inflated);
        QCOMPARE(QByteArray::fromStdString(back), body);
    }

    // A reused record that reads an absent one must come out empty.
    void absentFileInfoIsEmpty()
    {
        const QByteArray bytes = File("a.mp3", 7, "mp3", {{0, 192}}) + F::U8(0);
        BufferReader reader(bytes.constData(), size_t(bytes.size()));
        FileInfo f;
        QVERIFY(f.Read(reader));
        QCOMPARE(f.name, std::string("a.mp3"));
        QVERIFY(f.Read(reader));
        QCOMPARE(f.name, std::string());
        QCOMPARE(f.size, int64_t(0));
        QCOMPARE(f.attributes.extension, std::string());
        QVERIFY(f.attributes.attributes.empty());
    }

    void shareList_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("folders");  // "folder:name/size,..." per folder, ";" between
        QTest::addColumn<int>("tableSize");
        const QByteArray one = F::U32(1) + F::Str("\\music") + F::U32(2) + File("b", 2) + File("a", 9);
        QTest::newRow("ordered by name, then size") << one + F::U32(1) + F::I32(3) + F::Str("x") << true
                                                    << "\\music:a/9,b/2" << 1;
        QTest::newRow("equal records collapse")
            << F::U32(1) + F::Str("m") + F::U32(3) + File("a", 1) + File("a", 1) + File("a", 0) + F::U32(0) << true
            << "m:a/0,a/1" << 0;
        QTest::newRow("later folder wins")
            << F::U32(2) + F::Str("m") + F::U32(1) + File("a", 1) + F::Str("m") + F::U32(1) + File("z", 1) + F::U32(0)
            << true << "m:z/1" << 0;
        QTest::newRow("path cut at NUL") << F::U32(1) + F::U32(5) + QByteArray("ab\0cd", 5) + F::U32(0) + F::U32(0)
                                         << true << "ab:" << 0;
        QTest::newRow("table missing") << one << true << "\\music:a/9,b/2" << 0;
        QTest::newRow("table cut") << one + F::U32(2) + F::I32(1) + F::Str("x") << true << "\\music:a/9,b/2" << 0;
        QTest::newRow("131073 folders") << F::U32(131073) << false << "" << 0;
        QTest::newRow("131073 files") << F::U32(1) + F::Str("m") + F::U32(131073) << false << "" << 0;
        QTest::newRow("record cut") << F::U32(1) + F::Str("m") + F::U32(1) + File("a", 1).left(8) << false << "" << 0;
        QTest::newRow("empty") << QByteArray() << false << "" << 0;
    }
    void shareList()
    {
        QFETCH(QByteArray, body);
        QFETCH(bool, ok);
        QFETCH(QString, folders);
        QFETCH(int, tableSize);
        BufferReader reader(body.constData(), size_t(body.size()));
        FileInfoMap share;
        AttributeTranslationTable table{{9, "stale"}};
        QCOMPARE(ReadShareList(reader, share, table) == ShareListResult::Read, ok);
        if (!ok)
            return;
        QStringList described;
        for (const auto& folder : share) {
            QStringList files;
            for (const FileInfo& f : folder.second)
                files << QString::fromStdString(f.name) + '/' + QString::number(f.size);
            described << QString::fromStdString(folder.first) + ':' + files.join(',');
        }
        QCOMPARE(described.join(';'), folders);
        QCOMPARE(int(table.size()), tableSize);
    }

    // Folders and files together, counted from the headers before their records are read.
    void shareListRecordBound_data()
    {
        QTest::addColumn<int>("bound");
        QTest::addColumn<int>("result");
        QTest::newRow("two folders, three files, bound 5") << 5 << int(ShareListResult::Read);
        QTest::newRow("bound 4") << 4 << int(ShareListResult::TooManyRecords);
        QTest::newRow("bound 1: the folder count alone") << 1 << int(ShareListResult::TooManyRecords);
    }
    void shareListRecordBound()
    {
        QFETCH(int, bound);
        QFETCH(int, result);
        const QByteArray body =
            F::U32(2) + F::Str("a") + F::U32(2) + File("x", 1) + File("y", 1) + F::Str("b") + F::U32(1) + File("z", 1);
        BufferReader reader(body.constData(), size_t(body.size()));
        FileInfoMap share;
        AttributeTranslationTable table;
        QCOMPARE(int(ReadShareList(reader, share, table, size_t(bound))), result);
    }

    void searchReply()
    {
        Search(501, "river");
        ItemPtr results;
        // Attributes, a filtered file, the same name in two folders, a repeat inside one reply, and
        // a bare name, which has no folder.
        const QByteArray first = Reply("bob", 501,
                                       {File("\\m\\River.mp3", 10, "mp3", {{0, 192}, {1, 200}, {2, 1}, {7, 9}}),
                                        File("\\m\\Lake.mp3", 11), File("\\n\\River.mp3", 12, "mp3", {{2, 0}}),
                                        File("\\n\\River.mp3", 12), File("River.mp3", 13)});
        QCOMPARE(Store("bob", first, results), SearchReplyResult::Stored);
        QCOMPARE(Describe(results), QStringList({"River.mp3|\\m|10|192|vbr|200", "River.mp3|\\n|12|-|-|-",
                                                 "River.mp3|\\n|12|-|cbr|-", "River.mp3||13|-|-|-"}));
        QCOMPARE(ValueOf(results, "search_request"), QString("501"));
        QCOMPARE(ValueOf(results, "user"), QString("bob"));
        QCOMPARE(ValueOf(results, "search_results_user_available"), QString("yes"));
        QCOMPARE(ValueOf(results, "search_results_user_speed"), QString("5000"));
        QCOMPARE(ValueOf(results, "search_results_uploads_in_queue"), QString("3"));
        QVERIFY(LogText("Search").contains("Filtered out search result \\m\\Lake.mp3 from user bob"));

        // Already listed by bob (for any search): nothing new, nothing stored. Another user: kept.
        Search(502, "river");
        const QByteArray again = Reply("bob", 502, {File("\\m\\River.mp3", 10)}, QByteArray());
        const int before = int(d.GetType("search_results")->ItemCount());
        QCOMPARE(Store("bob", again, results), SearchReplyResult::Dropped);
        QCOMPARE(int(d.GetType("search_results")->ItemCount()), before);
        QCOMPARE(Store("carol", Reply("carol", 502, {File("\\m\\River.mp3", 10)}, QByteArray()), results),
                 SearchReplyResult::Stored);
        QCOMPARE(ValueOf(results, "search_results_user_available"), QString("no"));
        QCOMPARE(ValueOf(results, "search_results_user_speed"), QString("0"));
    }

    void searchReplyRefusals_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("expected");
        Search(601, "sea");
        const QByteArray file = File("\\sea.mp3", 1);
        // Another user's name and an unknown token: in the dispatch test, with the connection's fate.
        QTest::newRow("cut in files") << Reply("dave", 601, {file}, QByteArray()).chopped(3)
                                      << int(SearchReplyResult::Refused);
        QTest::newRow("131073 files") << F::Str("dave") + F::U32(601) + F::U32(131073) << int(SearchReplyResult::Refused);
        QTest::newRow("no token") << F::Str("dave") << int(SearchReplyResult::Refused);
        QTest::newRow("empty") << QByteArray() << int(SearchReplyResult::Refused);
        QTest::newRow("no trailer") << Reply("dave", 601, {file}, QByteArray()) << int(SearchReplyResult::Stored);
    }
    void searchReplyRefusals()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, expected);
        ItemPtr results;
        QCOMPARE(int(Store("dave", body, results)), expected);
        QCOMPARE(bool(results), expected == int(SearchReplyResult::Stored));
    }
};

QTEST_MAIN(TestPeerReaders)
#include "tst_peerreaders.moc"
