// What other users see of the shares: the access rule, the share list, folder contents and
// search answers, compared as inflated bytes laid out by hand; and search texts into whole, part
// and excluded tokens, and paths matched against them.
#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "model/zlibstream.h"
#include "shares/searchparser.h"
#include "shares/sharedfoldersmanager.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

QByteArray File(const QString& name, qint64 size, const QByteArray& ext = QByteArray(),
                const QVector<QPair<quint32, quint32>>& pairs = {})
{
    return FakePeer::File(name, size, ext, pairs);
}

void MakeFile(const QString& path, int size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(size, 'x'));
}

// The message's code, then its body inflated ("" when there is no message).
QByteArray Inflated(const MemStream& message, quint32 code)
{
    if (message.GetWriteIndex() == 0)
        return QByteArray();
    const QByteArray all = message.ToByteArray();
    if (all.left(4) != F::U32(code))
        return "wrong code";
    std::string body;
    if (Inflate(all.constData() + 4, size_t(all.size() - 4), body) != InflateResult::Inflated)
        return "does not inflate";
    return QByteArray::fromStdString(body);
}

QString Join(const std::set<QString>& tokens)
{
    return QStringList(tokens.begin(), tokens.end()).join('|');
}

QString Wire(QString path)
{
    return path.replace('/', '\\');
}

} // namespace

class TestSharesAccess : public QObject
{
    Q_OBJECT

    ServerFixture m_env;
    QString m_root;

    QString Path(const QString& relative) const { return m_root + "/" + relative; }
    ItemPtr Share(const QString& relative, const char* flag)
    {
        ItemPtr folder = sharedFoldersManager->AddSharedFolder(Path(relative));
        if (QByteArray(flag) == "public")
            folder.NewItem("shared_public");
        else if (QByteArray(flag) == "userlist")
            folder.NewItem("shared_userlist");
        else if (*flag)
            folder += d.GetType("user_list_group")->GetItem(flag);
        return folder;
    }
    ItemPtr FileItem(const QString& relative) { return sharedFoldersManager->GetSharedFileItem(Path(relative)); }
    static ItemPtr ListUser(const QString& name, const QStringList& groups = {})
    {
        ItemPtr user = d.GetType("user")->GetItem(name);
        ItemPtr listed = user["in_user_list"] ? user["in_user_list"] : user.NewItem("in_user_list");
        for (const QString& g : groups)
            listed += d.GetType("user_list_group")->GetItem(g);
        return user;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_env.SetUp(true, true));
        new SharedFoldersManager();
        SetSetting("username", "me");
        m_root = QDir(m_env.dir.filePath("disk")).absolutePath();
        MakeFile(Path("pub/b.mp3"), 3);
        MakeFile(Path("pub/a.txt"), 1);
        QDir().mkpath(Path("pub/Empty"));
        MakeFile(Path("pub/sub/c.MP3"), 2);
        MakeFile(Path("list/l.txt"), 4);
        MakeFile(Path("grp/g.txt"), 5);
        MakeFile(Path("none/n.txt"), 6);
        Share("pub", "public");
        Share("list", "userlist");
        Share("grp", "g1");
        Share("none", "");
        ItemPtr scanned = FileItem("pub/b.mp3");
        QVERIFY(scanned);
        scanned += d.GetType("bitrate")->GetItem(192);
        scanned += d.GetType("bitrate_mode")->GetItem("vbr");
        ListUser("lisa");
        ListUser("gina", {"g1"});
        ListUser("otto", {"g2"});
        ListUser("ursula", {"g1"}).NewItem("unshared");
    }
    void cleanupTestCase() { delete sharedFoldersManager; }

    void accessRule_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("folders");
        QTest::newRow("stranger") << "nobody" << "pub";
        QTest::newRow("listed") << "lisa" << "list pub";
        QTest::newRow("group member") << "gina" << "grp list pub";
        QTest::newRow("other group") << "otto" << "list pub";
        QTest::newRow("unshared") << "ursula" << "";
    }
    void accessRule()
    {
        QFETCH(QString, user);
        QFETCH(QString, folders);
        QStringList names;
        for (const ItemPtr& f : sharedFoldersManager->GetUserSharedFolders(user))
            names << QDir(f.AsString()).dirName();
        names.sort();
        QCOMPARE(names.join(' '), folders);
        // One file of each folder, through the per-file form of the same rule.
        QStringList allowed;
        for (const char* file : {"grp/g.txt", "list/l.txt", "none/n.txt", "pub/sub/c.MP3"})
            if (sharedFoldersManager->IsFileSharedWithUser(FileItem(file), user))
                allowed << QString(file).section('/', 0, 0);
        QCOMPARE(allowed.join(' '), folders);
        QVERIFY(!d.GetType("user")->HasItem(QString("nobody")));
    }

    void shareList()
    {
        const QString pub = Wire(Path("pub"));
        const QByteArray stranger =
            F::U32(3) + F::Str(pub) + F::U32(2) + File("a.txt", 1) + File("b.mp3", 3, "mp3", {{0, 192}, {2, 1}}) +
            F::Str(pub + "\\Empty") + F::U32(0) + F::Str(pub + "\\sub") + F::U32(1) + File("c.MP3", 2, "mp3") +
            F::U32(0);
        QCOMPARE(Inflated(sharedFoldersManager->GetSharedFilesMessage("nobody"), 5), stranger);
        QVERIFY(LogText("Shared").contains("Shared file list requested by user nobody"));
        const QByteArray listed = F::U32(4) + F::Str(Wire(Path("list"))) + F::U32(1) + File("l.txt", 4) +
                                  stranger.mid(4, stranger.size() - 8) + F::U32(0);
        QCOMPARE(Inflated(sharedFoldersManager->GetSharedFilesMessage("lisa"), 5), listed);
        QCOMPARE(Inflated(sharedFoldersManager->GetSharedFilesMessage("ursula"), 5), Hex("00000000 00000000"));
    }

    void folderContents_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QByteArray>("files");
        const QString pub = Wire(Path("pub"));
        const QByteArray none = Hex("00000000 00000000");
        QTest::newRow("shared") << "nobody" << pub << F::U32(2) + File("a.txt", 1) + File("b.mp3", 3) + F::U32(0);
        QTest::newRow("sub-folder") << "nobody" << pub + "\\sub" << F::U32(1) + File("c.MP3", 2) + F::U32(0);
        QTest::newRow("not visible") << "nobody" << Wire(Path("list")) << none;
        QTest::newRow("visible to the listed") << "lisa" << Wire(Path("list")) << F::U32(1) + File("l.txt", 4) + F::U32(0);
        QTest::newRow("not shared") << "gina" << Wire(Path("none")) << none;
        QTest::newRow("unshared user") << "ursula" << pub << none;
        QTest::newRow("made up") << "nobody" << "\\etc" << none;
        QTest::newRow("outside by dots") << "nobody" << pub + "\\..\\none" << none;
    }
    void folderContents()
    {
        QFETCH(QString, user);
        QFETCH(QString, folder);
        QFETCH(QByteArray, files);
        const size_t folders = d.GetType("shared_file_folder")->ItemCount();
        const QByteArray expected = F::U32(7) + F::Str(folder) + F::U32(1) + F::Str(folder) + files;
        QCOMPARE(Inflated(sharedFoldersManager->GetFilesInFolderMessage(user, 7, folder), 37), expected);
        // A path a peer made up leaves no item behind (it would be counted as shared at login).
        QCOMPARE(d.GetType("shared_file_folder")->ItemCount(), folders);
    }

    void searchAnswer_data()
    {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("files");  // paths under the root, in reply order
        MakeFile(Path("s/River - Concerto.mp3"), 7);
        MakeFile(Path("s/River - Sonata.mp3"), 8);
        MakeFile(Path("s/river live.txt"), 9);
        MakeFile(Path("s/Live/river.txt"), 10);
        MakeFile(Path("s/Rock-N-Roll/x.txt"), 11);
        MakeFile(Path("secret/river secret.txt"), 12);
        for (int k = 1; k <= 201; ++k)
            MakeFile(Path(QString("many/tune %1.txt").arg(k, 3, 10, QChar('0'))), 1);
        Share("s", "public");
        Share("secret", "userlist");
        Share("many", "public");
        const QStringList all = {"s/Live/river.txt", "s/River - Concerto.mp3", "s/River - Sonata.mp3",
                                 "s/river live.txt"};
        QTest::newRow("word") << "bob" << "river" << all;
        QTest::newRow("letter case") << "bob" << "RIVER" << all;
        QTest::newRow("part only") << "bob" << "*river" << QStringList();
        QTest::newRow("exclusion, name only") << "bob" << "river -live"
                                              << QStringList({all[0], all[1], all[2]});
        QTest::newRow("part") << "bob" << "river *conc" << QStringList({all[1]});
        QTest::newRow("half a coarse token") << "bob" << "rock-n" << QStringList();
        QTest::newRow("coarse token") << "bob" << "rock-n-roll" << QStringList({"s/Rock-N-Roll/x.txt"});
        QTest::newRow("fine token") << "bob" << "roll" << QStringList({"s/Rock-N-Roll/x.txt"});
        QTest::newRow("absent word") << "bob" << "river ocean" << QStringList();
        QTest::newRow("listed only, stranger") << "bob" << "secret" << QStringList();
        QTest::newRow("listed only, listed") << "lisa" << "secret" << QStringList({"secret/river secret.txt"});
        QTest::newRow("unshared user") << "ursula" << "river" << QStringList();
        QTest::newRow("refused text") << "bob" << "river -" << QStringList();
        QStringList hundred;
        for (int k = 1; k <= 200; ++k)
            hundred << QString("many/tune %1.txt").arg(k, 3, 10, QChar('0'));
        QTest::newRow("200 files") << "bob" << "tune -201" << hundred;
        QTest::newRow("201 files") << "bob" << "tune" << QStringList();
    }
    void searchAnswer()
    {
        QFETCH(QString, user);
        QFETCH(QString, text);
        QFETCH(QStringList, files);
        QByteArray expected;
        if (!files.isEmpty()) {
            expected = F::Str("me") + F::U32(4242) + F::U32(quint32(files.size()));
            for (const QString& f : files)
                expected += File(Wire(Path(f)), QFileInfo(Path(f)).size(),
                                 f.endsWith(".mp3") ? "mp3" : "");
            expected += F::U8(0) + F::U32(0) + F::U32(0) + F::U32(0);
        }
        QCOMPARE(Inflated(sharedFoldersManager->BuildSearchReply(user, 4242, text), 9), expected);
    }

    void searchAnswerFields()
    {
        SetSetting("upload_speed", "2500");
        ItemPtr concerto = FileItem("s/River - Concerto.mp3");
        concerto += d.GetType("bitrate")->GetItem(192);
        concerto += d.GetType("bitrate_mode")->GetItem("vbr");
        const QByteArray expected = F::Str("me") + F::U32(1) + F::U32(1) +
                                    File(Wire(Path("s/River - Concerto.mp3")), 7, "mp3", {{0, 192}, {2, 1}}) +
                                    F::U8(0) + F::U32(2500) + F::U32(0) + F::U32(0);
        QCOMPARE(Inflated(sharedFoldersManager->BuildSearchReply("bob", 1, "concerto"), 9), expected);
    }

    void displayString_data()
    {
        QTest::addColumn<QString>("bitrate");
        QTest::addColumn<QString>("mode");
        QTest::addColumn<QString>("length");
        QTest::addColumn<QString>("text");
        QTest::newRow("all") << "192" << "vbr" << "200" << "192 VBR, 3m20s";
        QTest::newRow("mode only") << "" << "cbr" << "" << " CBR";
        QTest::newRow("length only") << "" << "" << "59" << ", 0m59s";
        QTest::newRow("nothing") << "" << "" << "" << "";
    }
    void displayString()
    {
        QFETCH(QString, bitrate);
        QFETCH(QString, mode);
        QFETCH(QString, length);
        QFETCH(QString, text);
        ItemPtr file = d.GetType("user_share_file")->NewItem();
        for (const auto& [type, value] : {std::pair{"bitrate", bitrate}, {"bitrate_mode", mode}, {"length_seconds", length}})
            if (!value.isEmpty())
                file += d.GetType(type)->GetItem(value);
        QCOMPARE(sharedFoldersManager->GetFileItemDisplayString(file), text);
        file.Remove();
    }

    void removeUserShare()
    {
        ItemPtr user = d.GetType("user")->GetItem("browsed");
        ItemPtr share = d.GetType("user_share")->NewItem();
        share += user;
        for (const char* folderName : {"\\a", "\\b"}) {
            ItemPtr folder = share.NewItem("user_share_folder");
            folder += d.GetType("user_share_folder_name")->GetItem(folderName);
            ItemPtr file = folder.NewItem("user_share_file");
            file += d.GetType("user_share_file_name")->GetItem(QString(folderName) + ".txt");
        }
        sharedFoldersManager->RemoveUserShare("nobody at all");
        QCOMPARE(d.GetType("user_share_file")->ItemCount(), size_t(2));
        sharedFoldersManager->RemoveUserShare("browsed");
        QCOMPARE(d.GetType("user_share")->ItemCount(), size_t(0));
        QCOMPARE(d.GetType("user_share_folder")->ItemCount(), size_t(0));
        QCOMPARE(d.GetType("user_share_file")->ItemCount(), size_t(0));
        QVERIFY(!d.GetType("user_share_file_name")->HasItem(QString("\\a.txt")));
        QVERIFY(!d.GetType("user")->HasItem(QString("nobody at all")));
    }

    void tokenize_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("usable");
        QTest::addColumn<QString>("included");
        QTest::addColumn<QString>("parts");
        QTest::addColumn<QString>("excluded");
        QTest::newRow("two words") << "Abc DEF" << true << "abc|def" << "" << "";
        QTest::newRow("repeated") << "abc abc" << true << "abc" << "" << "";
        QTest::newRow("part") << "*abc" << true << "" << "abc" << "";
        QTest::newRow("excluded only") << "-abc" << false << "" << "" << "abc";
        QTest::newRow("with excluded") << "abc -def" << true << "abc" << "" << "def";
        QTest::newRow("minus last") << "abc -" << false << "abc" << "" << "";
        QTest::newRow("star last") << "abc *" << false << "abc" << "" << "";
        QTest::newRow("empty excluded") << "abc - def" << false << "abc" << "" << "";
        QTest::newRow("quoted") << "\"ab cd\"" << true << "ab cd" << "" << "";
        QTest::newRow("unclosed quote") << "\"ab cd" << true << "ab cd" << "" << "";
        QTest::newRow("quote then word") << "\"ab\"cd" << true << "ab|cd" << "" << "";
        QTest::newRow("empty quotes") << "\"\"" << false << "" << "" << "";
        QTest::newRow("quote inside") << "ab\"cd" << false << "" << "" << "";
        QTest::newRow("tab") << "ab\tcd" << true << "ab|cd" << "" << "";
        QTest::newRow("no other separator") << "rock-n-roll a,b_c/d.e" << true << "a,b_c/d.e|rock-n-roll" << ""
                                            << "";
        QTest::newRow("one prefix only") << "x -*abc --abc" << true << "x" << "" << "*abc|-abc";
        QTest::newRow("quoted excluded") << "x -\"a b\"" << true << "x" << "" << "a b";
        QTest::newRow("blank") << " \t " << false << "" << "" << "";
        QTest::newRow("empty") << "" << false << "" << "" << "";
        QTest::newRow("unicode") << QString::fromUtf8("ÄÖ *Ü") << true << QString::fromUtf8("äö")
                                 << QString::fromUtf8("ü") << "";
    }
    void tokenize()
    {
        QFETCH(QString, text);
        QFETCH(bool, usable);
        SearchParser parser;
        QCOMPARE(parser.SetSearchText(text), usable);
        QTEST(Join(parser.GetIncludedTokenSet()), "included");
        QTEST(Join(parser.GetIncludedPartTokenSet()), "parts");
        QTEST(Join(parser.GetExcludedTokenSet()), "excluded");
    }

    void match()
    {
        SearchParser parser;
        QVERIFY(parser.IsMatch("anything at all"));
        QVERIFY(parser.SetSearchText("rain *live -demo"));
        QVERIFY(parser.IsMatch("Songs\\Rainfall\\Live Recording.mp3"));
        QVERIFY(!parser.IsMatch("Songs\\Rainfall\\Live Demo.mp3"));
        QVERIFY(!parser.IsMatch("Songs\\Sunny\\Live.mp3"));
    }
};

QTEST_MAIN(TestSharesAccess)
#include "tst_sharesaccess.moc"
