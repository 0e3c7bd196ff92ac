// The shared-folder index over real folders: the walk and its counts, the lower-case lookup,
// the token index, the counts told to the server, and the index across a save and a load.
#include "common/deliver.h"
#include "common/serverfixture.h"
#include "model/datasaver.h"
#include "model/settings.h"
#include "shares/sharedfoldersmanager.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTextCodec>
#include <QtTest>

namespace {

void MakeFile(const QString& path, const QByteArray& bytes = "data")
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QStringList TokensOf(ItemPtr file)
{
    QStringList tokens;
    for (const ItemPtr& token : file.GetItems("search_token"))
        tokens << token.AsString();
    tokens.sort();
    return tokens;
}

// Frames of a header padded with zeros to 417 bytes.
QByteArray Frames(const char* headerHex, int count)
{
    const QByteArray header = QByteArray::fromHex(headerHex);
    QByteArray out;
    for (int k = 0; k < count; ++k)
        out += header + QByteArray(417 - header.size(), '\0');
    return out;
}

} // namespace

class TestSharedFoldersIndex : public QObject
{
    Q_OBJECT

    ServerFixture m_env;
    QString m_root;

    QString Path(const QString& relative) const { return m_root + "/" + relative; }
    QPair<int, int> Rescan()
    {
        QSignalSpy spy(sharedFoldersManager, &SharedFoldersManager::SharedFilesRescanned);
        sharedFoldersManager->RescanShares();
        if (spy.size() != 1)
            return {-1, -1};
        return {spy[0][0].toInt(), spy[0][1].toInt()};
    }
    int FileCount() const { return int(d.GetType("shared_file")->ItemCount()); }

private slots:
    void initTestCase()
    {
        // File names on disk are UTF-8 here whatever locale the tests run under.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
        QVERIFY(m_env.SetUp(true, true));
        new SharedFoldersManager();
        m_root = m_env.dir.filePath("disk");
    }
    void cleanup()
    {
        // Each case starts with nothing shared and nothing left over.
        d.GetType("shared_folder")->GetItems().Remove();
        Rescan();
        QCOMPARE(FileCount(), 0);
        QDir(m_root).removeRecursively();
    }
    void cleanupTestCase() { delete sharedFoldersManager; }

    void folderIdAndCounter()
    {
        SetSetting("shared_folder_counter", Value("1"));
        ItemPtr music = sharedFoldersManager->AddSharedFolder("/data/Music");
        QCOMPARE(music["shared_folder_id"].AsString(), QString("[1]Music"));
        QCOMPARE(GetSetting("shared_folder_counter"), QString("2"));
        QCOMPARE(sharedFoldersManager->AddSharedFolder("/data/Music"), music);
        QCOMPARE(GetSetting("shared_folder_counter"), QString("2"));
        QCOMPARE(sharedFoldersManager->AddSharedFolder("/data/Books")["shared_folder_id"].AsString(),
                 QString("[2]Books"));
    }

    void rescanCounts()
    {
        for (int k = 0; k < 3; ++k)
            MakeFile(Path(QString("keep/%1.txt").arg(k)));
        MakeFile(Path("keep/.hidden"));
        MakeFile(Path("keep/.dir/inside.txt"));
        // The unshared folder's names also live in the kept one: through a shared name the
        // collection alone would keep them.
        for (int k = 0; k < 10; ++k)
            MakeFile(Path(QString("ten/%1.txt").arg(k)));
        sharedFoldersManager->AddSharedFolder(Path("keep"));
        ItemPtr ten = sharedFoldersManager->AddSharedFolder(Path("ten"));
        QCOMPARE(FileCount(), 13);
        QCOMPARE(Rescan(), qMakePair(0, 0));

        QFile::remove(Path("keep/0.txt"));
        MakeFile(Path("keep/new1.txt"));
        MakeFile(Path("keep/new2.txt"));
        QCOMPARE(Rescan(), qMakePair(2, 1));

        ten.Remove();
        d.RemoveDisconnectedItems();
        QVERIFY(!sharedFoldersManager->GetSharedFileItem(Path("ten/1.txt")));
        QCOMPARE(Rescan(), qMakePair(0, 10));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), 4);
        QVERIFY(!sharedFoldersManager->GetSharedFileItem(Path("ten/1.txt")));
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path("KEEP/1.TXT")));
    }

    void caseTwinsAndAnalysisRequests()
    {
        MakeFile(Path("a/x.mp3"));
        MakeFile(Path("a/X.mp3"));
        MakeFile(Path("b/x.MP3"));
        MakeFile(Path("c/x.Mp3"));
        MakeFile(Path("c/.mp3"));
        QSignalSpy requests(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        sharedFoldersManager->AddSharedFolder(m_root);
        QCOMPARE(FileCount(), 3);
        QStringList asked;
        for (const QList<QVariant>& request : requests)
            asked << QFileInfo(request[0].toString()).fileName();
        asked.sort();
        QCOMPARE(asked.size(), 2);
        QVERIFY(asked.contains("x.MP3"));
        QVERIFY(asked.contains("x.mp3") != asked.contains("X.mp3"));
    }

    // Names beyond ASCII take the general conversions; those of plain ASCII are only widened and
    // lower-cased. Both kinds sort together, letter case ignored, and find their twins.
    void namesBeyondAscii()
    {
        MakeFile(Path("u/b.mp3"));
        MakeFile(Path(QString::fromUtf8("u/Ärger im Büro.mp3")));
        MakeFile(Path("u/A.mp3"));
        MakeFile(Path("u/C.mp3"));
        MakeFile(Path(QString::fromUtf8("u/Été.txt")));
        MakeFile(Path(QString::fromUtf8("u/été.txt")));
        MakeFile(Path(QString::fromUtf8("u/Ölmühle/Straße.ogg")));
        QSignalSpy requests(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        sharedFoldersManager->AddSharedFolder(Path("u"));
        QCOMPARE(FileCount(), 6);
        QStringList asked;
        for (const QList<QVariant>& request : requests)
            asked << request[0].toString();
        QCOMPARE(asked, QStringList({Path("u/A.mp3"), Path("u/b.mp3"), Path("u/C.mp3"), Path(QString::fromUtf8("u/Ärger im Büro.mp3"))}));

        ItemPtr angry = sharedFoldersManager->GetSharedFileItem(Path(QString::fromUtf8("U/ÄRGER IM BÜRO.MP3")));
        QVERIFY(angry);
        QCOMPARE(angry["shared_file_name"].AsString(), QString::fromUtf8("Ärger im Büro.mp3"));
        const QStringList tokens = TokensOf(angry);
        for (const char* token : {"ärger", "im", "büro", "büro.mp3", "mp3", "u"})
            QVERIFY2(tokens.contains(QString::fromUtf8(token)), token);
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path(QString::fromUtf8("u/ÖLMÜHLE/straße.OGG"))));
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path(QString::fromUtf8("u/ÉTÉ.TXT"))));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), 6);
    }

    // The lower-case lookup of names and folders: one trailing separator dropped, lower case.
    void lowerCaseKeys_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QByteArray>("key");
        QTest::newRow("slash") << QByteArray("/Data/Music/") << QByteArray("/data/music");
        QTest::newRow("backslash") << QByteArray("C:\\Dir\\") << QByteArray("c:\\dir");
        QTest::newRow("one separator only") << QByteArray("A\\/") << QByteArray("a\\");
        QTest::newRow("separator alone") << QByteArray("/") << QByteArray("");
        QTest::newRow("empty") << QByteArray("") << QByteArray("");
        QTest::newRow("letters and signs") << QByteArray("MiXeD [01] Z@.TxT") << QByteArray("mixed [01] z@.txt");
        QTest::newRow("beyond ascii") << QByteArray("\xC3\x89T\xC3\x89/") << QByteArray("\xC3\xA9t\xC3\xA9");
    }
    void lowerCaseKeys()
    {
        QFETCH(QByteArray, text);
        QFETCH(QByteArray, key);
        const std::pair<const char*, const char*> types[] = {
            {"shared_file_folder", "shared_file_folder_lowercase_name"},
            {"shared_file_name", "shared_file_lowercase_name"}};
        for (const auto& type : types) {
            ItemPtr item = d.GetType(type.first)->GetItem(Value(text.toStdString()));
            QCOMPARE(QByteArray::fromStdString(item[type.second].AsStdString()), key);
            item.Remove();
        }
    }

    // A save written between an unshare and a rescan can hold a file without a folder. Through a
    // name that a shared file also has it stays reachable, so the rescan removes it itself.
    void fileWithoutFolderGoes()
    {
        MakeFile(Path("s/a.txt"));
        sharedFoldersManager->AddSharedFolder(Path("s"));
        ItemPtr stray = d.GetType("shared_file")->NewItem();
        stray += d.GetType("shared_file_name")->HasItem(Value("a.txt"));
        QCOMPARE(FileCount(), 2);
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), 1);
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path("s/a.txt")));
    }

    void linkBackToAncestorIsNotFollowed()
    {
        MakeFile(Path("loop/a.txt"));
        QDir().mkpath(Path("loop/sub"));
        QVERIFY(QFile::link(Path("loop"), Path("loop/sub/back")));
        MakeFile(Path("other/b.txt"));
        QVERIFY(QFile::link(Path("other"), Path("loop/sub/elsewhere")));
        sharedFoldersManager->AddSharedFolder(Path("loop"));
        QCOMPARE(FileCount(), 2);
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path("loop/sub/elsewhere/b.txt")));
        QVERIFY(LogText("Shared").contains("Skipping folder " + Path("loop/sub/back")));
    }

    // Every level holds two links to the next one: 2^depth paths lead to the deepest folder.
    void linksThatBranchAndMeetAreWalkedOnce()
    {
        const int depth = 10;
        for (int level = 0; level <= depth; ++level) {
            MakeFile(Path(QString("L%1/f%1.txt").arg(level)));
            if (level < depth) {
                QVERIFY(QFile::link(Path(QString("L%1").arg(level + 1)), Path(QString("L%1/a").arg(level))));
                QVERIFY(QFile::link(Path(QString("L%1").arg(level + 1)), Path(QString("L%1/b").arg(level))));
            }
        }
        sharedFoldersManager->AddSharedFolder(Path("L0"));
        QCOMPARE(FileCount(), depth + 1);
        QString first = "L0";
        for (int level = 1; level <= depth; ++level)
            first += "/a";
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path(first + QString("/f%1.txt").arg(depth))));
        QVERIFY(!sharedFoldersManager->GetSharedFileItem(Path("L0/b/f1.txt")));
        const QString log = LogText("Shared");
        QVERIFY(log.contains("Skipping folder " + Path("L0/b") + ":"));
        QVERIFY(log.contains("Skipping folder " + Path("L0/a/b") + ":"));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), depth + 1);
    }

    void renameInLetterCaseOnlyKeepsFilesShared()
    {
        MakeFile(Path("r/Music/song.mp3"), QByteArray(5, 'x'));
        MakeFile(Path("r/Music/Sub/notes.txt"));
        sharedFoldersManager->AddSharedFolder(Path("r"));
        sharedFoldersManager->OnMP3Scanned(Path("r/Music/song.mp3"), 1, "mono", 0, false, 128);
        ItemPtr song = sharedFoldersManager->GetSharedFileItem(Path("r/Music/song.mp3"));
        QVERIFY(song.IsConnected("is_scanned"));
        const QStringList tokens = TokensOf(song);

        QSignalSpy requests(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        QVERIFY(QDir().rename(Path("r/Music"), Path("r/music")));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), 2);
        QCOMPARE(sharedFoldersManager->GetSharedFileItem(Path("r/music/song.mp3")), song);
        QCOMPARE(song["shared_file_folder"].AsString(), Path("r/music"));
        QVERIFY(song["shared_file_folder"].IsConnected("shared_folder"));
        QVERIFY(sharedFoldersManager->GetSharedFileItem(Path("r/music/Sub/notes.txt")));
        QVERIFY(song.IsConnected("is_scanned"));
        QCOMPARE(TokensOf(song), tokens);
        QCOMPARE(requests.size(), 0);

        QVERIFY(QFile::rename(Path("r/music/song.mp3"), Path("r/music/Song.mp3")));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(sharedFoldersManager->GetSharedFileItem(Path("r/music/Song.mp3")), song);
        QCOMPARE(song["shared_file_name"].AsString(), QString("Song.mp3"));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(FileCount(), 2);
    }

    void changedSizeIsRefreshedAndAnalysedAgain()
    {
        MakeFile(Path("m/song.mp3"), QByteArray(10, 'x'));
        sharedFoldersManager->AddSharedFolder(Path("m"));
        ItemPtr file = sharedFoldersManager->GetSharedFileItem(Path("m/song.mp3"));
        QCOMPARE(file["shared_file_size"].AsString(), QString("10"));
        sharedFoldersManager->OnMP3Scanned(Path("m/song.mp3"), 1, "joint stereo", 0, false, 128);
        QVERIFY(file.IsConnected("is_scanned"));

        QSignalSpy requests(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(requests.size(), 0);
        MakeFile(Path("m/song.mp3"), QByteArray(20, 'x'));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(file["shared_file_size"].AsString(), QString("20"));
        QVERIFY(!file.IsConnected("is_scanned"));
        QVERIFY(!file.IsConnected("bitrate"));
        QVERIFY(!file.IsConnected("mpeg_version"));
        QCOMPARE(requests.size(), 1);
    }

    void tokens_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QStringList>("tokens");
        QTest::newRow("words") << "/music/AC-DC" << "Back In Black.mp3"
                               << QStringList{"ac", "ac-dc", "back", "black", "black.mp3", "dc", "in", "mp3", "music"};
        QTest::newRow("upper case") << "/x" << "ABBA.MP3" << QStringList{"abba", "abba.mp3", "mp3", "x"};
        QTest::newRow("no fine token") << "/x" << "---" << QStringList{"---", "x"};
        QTest::newRow("latin-1") << "/x" << QString::fromUtf8("Café_Noir")
                                 << QStringList{QString::fromUtf8("café"), QString::fromUtf8("café_noir"), "noir",
                                                "x"};
        QTest::newRow("above latin-1") << "/x" << QString::fromUtf8("Песня один")
                                       << QStringList{QString::fromUtf8("песня"), QString::fromUtf8("один"), "x"};
        QTest::newRow("latin-1 signs inside a word") << "/x" << QString::fromUtf8("Straße×2½")
                                                     << QStringList{QString::fromUtf8("straße×2½"), "x"};
        QTest::newRow("wide signs between letters")
            << "/x" << QString::fromUtf8("A€b\U0001F600c d")
            << QStringList{"a", QString::fromUtf8("a€b\U0001F600c"), "b", "c", "d", "x"};
        QTest::newRow("repeated words") << "/Dup dup" << "dup DUP.dup" << QStringList{"dup", "dup.dup"};
    }
    void tokens()
    {
        QFETCH(QString, folder);
        QFETCH(QString, name);
        QFETCH(QStringList, tokens);
        tokens.sort();
        ItemPtr file = d.GetType("shared_file")->NewItem();
        file += d.GetType("shared_file_folder")->GetItem(folder);
        file += d.GetType("shared_file_name")->GetItem(name);
        sharedFoldersManager->TokenizeSharedFile(file);
        QCOMPARE(TokensOf(file), tokens);
        file.Remove();
    }

    void analysisStoredSavedAndRetried()
    {
        MakeFile(Path("mp3/cbr.mp3"), Frames("FFFB9044", 1000));
        MakeFile(Path("mp3/vbr.MP3"), Frames("FFFB9044", 989) + Frames("FFFBE044", 11));
        MakeFile(Path("mp3/broken.mp3"), Frames("FFFD9044", 100));
        sharedFoldersManager->AddSharedFolder(Path("mp3"));
        ItemPtr cbr = sharedFoldersManager->GetSharedFileItem(Path("mp3/cbr.mp3"));
        ItemPtr vbr = sharedFoldersManager->GetSharedFileItem(Path("mp3/vbr.MP3"));
        QTRY_VERIFY(cbr.IsConnected("is_scanned") && vbr.IsConnected("is_scanned"));
        QTRY_VERIFY(LogText("MP3 Scanning").contains("Scanned " + Path("mp3/vbr.MP3")));
        // Kept across a save and a load: indexSurvivesSaveAndLoad.

        // What a peer asking for the share list gets: bitrate (code 0) and variable or not (code 2).
        ItemPtr(d.GetType("shared_folder")->HasItem(Path("mp3"))).NewItem("shared_public");
        FileInfoMap share;
        AttributeTranslationTable table;
        sharedFoldersManager->GetSharedFilesAsUserShare("peer", share, table);
        QStringList attributes;
        for (const auto& folder : share)
            for (const FileInfo& info : folder.second) {
                QString pairs;
                for (const auto& pair : info.attributes.attributes)
                    pairs += QString(" (%1,%2)").arg(pair.first).arg(pair.second);
                attributes << QString::fromStdString(info.name) + pairs;
            }
        QCOMPARE(attributes, QStringList({"broken.mp3", "cbr.mp3 (0,128) (2,0)", "vbr.MP3 (0,130) (2,1)"}));

        QSignalSpy requests(sharedFoldersManager, &SharedFoldersManager::MP3ScanRequired);
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QCOMPARE(requests.size(), 1);
        QCOMPARE(requests[0][0].toString(), Path("mp3/broken.mp3"));

        // A result for a file no longer shared is logged and dropped.
        const int scannedBefore = int(d.GetType("is_scanned")->GetGlobalNullItem().GetItems("shared_file").size());
        sharedFoldersManager->OnMP3Scanned(Path("mp3/gone.mp3"), 1, "mono", 0, false, 128);
        QVERIFY(LogText("MP3 Scanning").contains("Scanned " + Path("mp3/gone.mp3")));
        QCOMPARE(int(d.GetType("is_scanned")->GetGlobalNullItem().GetItems("shared_file").size()), scannedBefore);
    }

    void countsAtLoginAndOwnUploadSpeed()
    {
        MakeFile(Path("one/f1"));
        MakeFile(Path("one/s1/f2"));
        MakeFile(Path("one/s2/f3"));
        QDir().mkpath(Path("one/empty"));
        MakeFile(Path("two/f4"));
        sharedFoldersManager->AddSharedFolder(Path("one"));
        sharedFoldersManager->AddSharedFolder(Path("two"));

        m_env.SetLogin("me", "secret");
        QVERIFY(m_env.LogIn(true));
        QVERIFY(m_env.Sync());
        QList<QByteArray> ours;
        for (const FakeServer::Frame& f : m_env.fake.TakeFrames())
            if (f.code == 35 || f.code == 36)
                ours << f.raw;
        QCOMPARE(ours, QList<QByteArray>({Hex("0c000000 23000000 05000000 04000000"), Hex("0a000000 24000000 02000000 6d65")}));

        SetSetting("upload_speed", Value("7"));
        QVERIFY(Deliver(m_env.fake, 36, F::Str("me") + Stats(12345, 4)));
        QCOMPARE(GetSetting("upload_speed"), QString("12345"));
        QVERIFY(Deliver(m_env.fake, 36, F::Str("other") + Stats(999, 4)));
        QCOMPARE(GetSetting("upload_speed"), QString("12345"));
        QVERIFY(m_env.Reset());
    }

    void indexSurvivesSaveAndLoad()
    {
        MakeFile(Path("Saved/Track.mp3"), QByteArray(123, 'x'));
        MakeFile(Path("Saved/Sub/notes.txt"), QByteArray(7, 'x'));
        ItemPtr folder = sharedFoldersManager->AddSharedFolder(Path("Saved"));
        folder.NewItem("shared_public");
        sharedFoldersManager->OnMP3Scanned(Path("Saved/Track.mp3"), 2, "mono", 1, true, 130);
        const QString id = folder["shared_folder_id"].AsString();
        const QString save = m_env.dir.filePath("index-save");
        QVERIFY(dataSaver->Save(save));

        d.RemoveAllItems();
        QCOMPARE(FileCount(), 0);
        QCOMPARE(dataSaver->Load(save), DataSaver::LoadResult::Loaded);
        folder = d.GetType("shared_folder")->HasItem(Path("Saved"));
        QVERIFY(folder);
        QCOMPARE(folder["shared_folder_id"].AsString(), id);
        QVERIFY(folder.IsConnected("shared_public"));
        QCOMPARE(FileCount(), 2);
        // Found through the lower-case lookup, which the load rebuilt.
        ItemPtr track = sharedFoldersManager->GetSharedFileItem(Path("SAVED/track.MP3"));
        QVERIFY(track);
        QCOMPARE(track["shared_file_size"].AsString(), QString("123"));
        QCOMPARE(track["mpeg_version"].AsString() + track["channel_mode"].AsString() +
                     track["audio_frequency"].AsString() + track["bitrate_mode"].AsString() +
                     track["bitrate"].AsString(),
                 QString("2mono1vbr130"));
        QVERIFY(track.IsConnected("is_scanned"));
        QCOMPARE(sharedFoldersManager->GetSharedFileItem(Path("saved/sub/NOTES.txt"))["shared_file_size"].AsString(),
                 QString("7"));
        QCOMPARE(Rescan(), qMakePair(0, 0));
        QVERIFY(!TokensOf(track).isEmpty());
    }
};

QTEST_MAIN(TestSharedFoldersIndex)
#include "tst_sharedfoldersindex.moc"
