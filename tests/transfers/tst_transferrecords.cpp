// The transfer engine's records: defaults, what the save file keeps and what a load makes of it,
// the cells freed with their items, the one-per-entry relations and the counts.
#include "transfers/transferfixture.h"

#include "model/settings.h"

#include <QDateTime>
#include <QSignalSpy>
#include <QtTest>

namespace {

ItemPtr Get(const char* type, const Value& value) { return d.GetType(type)->GetItem(value); }

ItemPtr Download(const char* user, const char* file, const char* status)
{
    ItemPtr entry = d.GetType("download_entry")->NewItem();
    entry += Get("user", user);
    entry += Get("file_name", file);
    if (status)
        entry += Get("download_entry_status", status);
    return entry;
}

ItemPtr Upload(const char* status)
{
    ItemPtr entry = d.GetType("upload_entry")->NewItem();
    entry += Get("upload_entry_status", status);
    return entry;
}

void RemoveTransfers()
{
    for (const char* type : {"download_entry", "upload_entry", "complete_download"})
        g(type).Remove();
    d.RemoveDisconnectedItems();
}

struct Setting
{
    const char* key;
    QString initial;
    const char* saved;
};

QList<Setting> Settings(const QString& home)
{
    return {{"download_folder", home + "/Tavrinel Downloads", "/srv/dl"},
            {"transfer_order_counter", "1", "77"},
            {"transfer_req_counter", "1", "912"},
            {"upload_speed_limit", "0", "10"},
            {"upload_speed_limit_enabled", "no", "yes"},
            {"upload_slots", "1", "4"},
            {"check_for_empty_shares", "no", "yes"},
            {"empty_share_message",
             "It looks like you're not sharing any files. Please share something before downloading anything "
             "from my own shares. Thanks.",
             "share first"},
            {"max_queued_uploads_per_user", "200", "5"}};
}

} // namespace

class TestTransferRecords : public QObject
{
    Q_OBJECT

    TransferFixture m_env;
    QString SavePath() const { return m_env.server.dir.filePath("save"); }

private slots:
    void initTestCase() { QVERIFY(m_env.SetUp(true)); }
    void cleanup() { RemoveTransfers(); }

    // Runs first: the values a fresh start writes, then the saved values replacing each of them.
    void settingsAndLoad()
    {
        const QList<Setting> settings = Settings(m_env.Home());
        for (const Setting& s : settings)
            QCOMPARE(GetSetting(s.key), s.initial);

        // One user with two unfinished downloads, users with one each, and a finished one.
        struct Saved
        {
            const char* user;
            const char* file;
            const char* status;
            const char* loaded;
        };
        const QList<Saved> saved = {{"ann", "a1", "downloading", "queued"}, {"ann", "a2", "denied", "queued"},
                                    {"bob", "b1", "aborted", "queued"},     {"bob", "b2", "local error", "queued"},
                                    {"cat", "c1", "queued", "queued"},      {"dan", "d1", nullptr, "queued"},
                                    {"eve", "e1", "complete", "complete"}};
        for (const Saved& s : saved) {
            ItemPtr entry = Download(s.user, s.file, s.status);
            // Run-time records are not kept.
            entry += Get("place_in_line", "3");
            entry += Get("denial_reason", "Banned");
        }
        ItemPtr up = Upload("queued");
        up += Get("user", "fay");
        ItemPtr done = d.GetType("complete_download")->NewItem();
        done += Get("complete_download_filename", "z.mp3");
        done += Get("search_request_text", "zed");

        for (const Setting& s : settings)
            SetSetting(s.key, s.saved);
        QVERIFY(dataSaver->Save(SavePath()));
        RemoveTransfers();
        for (const Setting& s : settings)
            SetSetting(s.key, Value(s.initial));
        QVERIFY(g("download_entry").empty());

        QSignalSpy loaded(transferQueueManager, &TransferQueueManager::TransfersLoaded);
        m_env.server.fake.ClearFrames();
        QCOMPARE(dataSaver->Load(SavePath()), DataSaver::LoadResult::Loaded);
        QCOMPARE(loaded.count(), 1);

        for (const Setting& s : settings)
            QCOMPARE(GetSetting(s.key), QString(s.saved));
        // The saved limit is in force once loaded.
        QCOMPARE(transferQueueManager->GetUploadSpeed(), 10);

        QCOMPARE(int(g("download_entry").size()), saved.size());
        for (const Saved& s : saved) {
            ItemPtr entry = Get("file_name", s.file)["download_entry"];
            QVERIFY(entry);
            QCOMPARE(entry["download_entry_status"].AsString(), QString(s.loaded));
            QCOMPARE(entry["user"].AsString(), QString(s.user));
            QVERIFY(!entry["place_in_line"] && !entry["denial_reason"]);
        }
        QVERIFY(g("upload_entry").empty());
        ItemPtr back = g("complete_download");
        QVERIFY(back);
        QCOMPARE(back["complete_download_filename"].AsString(), QString("z.mp3"));
        QVERIFY(!back["search_request_text"]);

        // Each user of a saved download is tracked once, a finished download's user too.
        QVERIFY(m_env.server.Sync());
        QStringList tracked;
        for (const FakeServer::Frame& f : m_env.server.fake.TakeFrames())
            if (f.code == 5)
                tracked << QString::fromUtf8(f.fields.mid(4));
        tracked.sort();
        QCOMPARE(tracked, QStringList({"ann", "bob", "cat", "dan", "eve"}));

        SetSetting("upload_speed_limit_enabled", "no");
        transferQueueManager->DetermineUploadSpeedLimit();
    }

    void loadedSignalWithoutUsableFile()
    {
        QSignalSpy loaded(transferQueueManager, &TransferQueueManager::TransfersLoaded);
        QCOMPARE(dataSaver->Load(m_env.server.dir.filePath("none")), DataSaver::LoadResult::NoFile);
        QCOMPARE(loaded.count(), 1);

        QFile damaged(m_env.server.dir.filePath("damaged"));
        QVERIFY(damaged.open(QIODevice::WriteOnly));
        damaged.write("\x05\x00\x00\x00garbage", 11);
        damaged.close();
        QCOMPARE(dataSaver->Load(damaged.fileName()), DataSaver::LoadResult::Damaged);
        QCOMPARE(loaded.count(), 2);
    }

    void cellsFreedWithTheirItems_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("entry");
        for (auto [type, entry] : {std::pair("write_position", "download_entry"),
                                   {"bytes_per_second", "upload_entry"},
                                   {"bytes_since_last_receipt", "download_entry"},
                                   {"bytes_uploaded", "upload_entry"},
                                   {"last_receipt_time", "upload_entry"},
                                   {"last_speed_measurement_time", "download_entry"}})
            QTest::newRow(type) << type << entry;
    }

    // A cell never freed, or freed twice, is reported by the sanitizer build. The cells go as
    // they go in use: left behind by their entry and collected.
    void cellsFreedWithTheirItems()
    {
        QFETCH(QString, type);
        QFETCH(QString, entry);
        const QByteArray name = type.toLatin1();
        void* object = nullptr;
        if (type.contains("time"))
            object = new QDateTime(QDateTime::currentDateTime());
        else if (type == "bytes_per_second")
            object = new int(5);
        else
            object = new qint64(5);

        ItemPtr owner = d.GetType(entry.toLatin1().constData())->NewItem();
        ItemPtr cell = Get(name.constData(), Value(object));
        owner += cell;
        owner.Disconnect(cell);
        d.RemoveDisconnectedItems();
        QVERIFY(!d.GetType(name.constData())->HasItem(Value(object)));

        // A cell holding no object frees nothing.
        Get(name.constData(), "0").Remove();
    }

    // A second item replaces the first, and a per-transfer item moves to the entry it is given to.
    void oneItemPerEntry_data()
    {
        QTest::addColumn<QString>("type");
        for (const char* type : {"download_socket", "download_thread", "download_file", "download_order", "transfer_req"})
            QTest::newRow(type) << type;
    }
    void oneItemPerEntry()
    {
        QFETCH(QString, type);
        const QByteArray name = type.toLatin1();
        ItemPtr first = d.GetType("download_entry")->NewItem();
        ItemPtr second = d.GetType("download_entry")->NewItem();
        ItemPtr a = Get(name.constData(), "0");
        ItemPtr b = Get(name.constData(), "00");
        first += a;
        first += b;
        QCOMPARE(first.GetItems(name.constData()), ItemSet(b));
        second += b;
        QVERIFY(!first.IsConnected(b));
        a.Remove();
        b.Remove();
    }

    void counts()
    {
        for (const char* status : {"queued", "downloading", "complete", "aborted", "denied", "local error"})
            Download("gus", status, status);
        for (const char* status : {"queued", "requesting", "connecting", "waiting for offset", "uploading",
                                   "complete", "aborted", "denied", "local error"})
            Upload(status);
        Upload("queued");
        QCOMPARE(transferQueueManager->ActiveDownloadCount(), 1);
        QCOMPARE(transferQueueManager->ActiveUploadCount(), 4);
        QCOMPARE(transferQueueManager->QueuedUploadCount(), 2);
        SetSetting("upload_slots", "4");
        QVERIFY(!transferQueueManager->IsFreeToUpload());
        SetSetting("upload_slots", "5");
        QVERIFY(transferQueueManager->IsFreeToUpload());
    }
};

QTEST_MAIN(TestTransferRecords)
#include "tst_transferrecords.moc"
