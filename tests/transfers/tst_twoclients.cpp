// Real programs, each with its own home, save file and listening port, meet through a small
// central server on 127.0.0.1 and copy files from one to the other: a whole file, one whose
// first half the downloader already holds, and two different files of two users that both map
// to the same local path CD1/01.mp3. Then they quit on SIGTERM and save. And a program dies
// with the process that started it, so that a test killed for running too long leaves none.

#include "app/savefile.h"
#include "common/childprocess.h"
#include "common/relayserver.h"
#include "common/testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <csignal>
#include <cstdio>

namespace {

quint16 FreePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// A save file of any saved types: items are added type by type, links by the ids returned.
class SaveBuilder
{
public:
    int Add(const QString& type, const QString& value, bool null = false)
    {
        Block& b = m_types[type];
        b.null = null;
        b.items << qMakePair(++m_lastId, value.toUtf8());
        return m_lastId;
    }
    // The item of a type and value, made once.
    int Get(const QString& type, const QString& value)
    {
        for (const auto& item : m_types.value(type).items)
            if (item.second == value.toUtf8())
                return item.first;
        return Add(type, value);
    }
    void Link(int a, int b) { m_links << qMakePair(qMin(a, b), qMax(a, b)); }
    void Setting(const QString& key, const QString& value) { Link(Get("global", key), Add("global_value", value)); }

    QByteArray Bytes() const
    {
        QByteArray out;
        savefile::PutInt(out, m_types.size());
        for (auto it = m_types.begin(); it != m_types.end(); ++it) {
            savefile::PutString(out, it.key().toUtf8());
            out.append(char(it->null ? 1 : 0));
            savefile::PutInt(out, it->items.size());
            for (const auto& item : it->items) {
                savefile::PutInt(out, item.first);
                if (!it->null)
                    savefile::PutString(out, item.second);
            }
        }
        QList<QPair<int, int>> links = m_links;
        std::sort(links.begin(), links.end());
        savefile::PutInt(out, links.size());
        for (const auto& l : links) {
            savefile::PutInt(out, l.first);
            savefile::PutInt(out, l.second);
        }
        return out;
    }

private:
    struct Block
    {
        bool null = false;
        QList<QPair<int, QByteArray>> items;
    };
    QMap<QString, Block> m_types;
    QList<QPair<int, int>> m_links;
    int m_lastId = 0;
};

QByteArray Digest(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file) ? hash.result() : QByteArray();
}

// One program with its own home and temporary folder; killed if the test ends early.
struct Client
{
    QString name, home, tmp;
    SaveBuilder save;
    ChildProcess process;

    void Prepare(const QString& root, const QString& user, quint16 serverPort)
    {
        name = user;
        home = root + "/" + user + "/home";
        tmp = root + "/" + user + "/tmp";
        QDir().mkpath(home);
        QDir().mkpath(tmp);
        save.Setting("username", user);
        save.Setting("password", "secret");
        // Nothing may leave this machine: no port mapping, every host on the loopback.
        save.Setting("use_upnp", "no");
        save.Setting("server_host", "127.0.0.1");
        save.Setting("server_port", QString::number(serverPort));
        save.Setting("web_host", QString("127.0.0.1:%1").arg(FreePort()));
        save.Setting("listening_port", QString::number(FreePort()));
    }
    QString SavePath() const { return home + "/.Tavrinel"; }
    bool Start()
    {
        if (!WriteFile(SavePath(), save.Bytes()))
            return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", home);
        env.insert("TMPDIR", tmp);
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(qEnvironmentVariable("TAVRINEL_BINARY"), QStringList());
        return process.waitForStarted(30000);
    }
    bool Terminate()
    {
        return ::kill(static_cast<pid_t>(process.processId()), SIGTERM) == 0 && process.waitForFinished(60000) &&
               process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    }
    savefile::Parsed Saved() const
    {
        QFile file(SavePath());
        return file.open(QIODevice::ReadOnly) ? savefile::Parse(file.readAll()) : savefile::Parsed();
    }
};

// Given as the first argument, this executable starts one client, prints its pid and waits for
// a while: the process in the middle that the test kills.
const char* const kHoldClient = "--hold-client";

// Arguments: the root folder and the central server's port.
int HoldClient(const QString& root, quint16 serverPort)
{
    Client client;
    client.Prepare(root, "dave", serverPort);
    if (!client.Start())
        return 1;
    std::printf("%lld\n", client.process.processId());
    std::fflush(stdout);
    // Bounded, should the test never come to kill it; the client is killed on the way out.
    QThread::sleep(120);
    return 0;
}

// A process's state letter and start time from /proc, the pair empty once it is gone. The start
// time tells a reused pid from the process that had it.
QPair<QByteArray, QByteArray> ProcessState(qint64 pid)
{
    const QList<QByteArray> fields = ProcessStat(QString::number(pid));
    return fields.size() > 19 ? qMakePair(fields[0], fields[19]) : QPair<QByteArray, QByteArray>();
}

}  // namespace

class TestTwoClients : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void fileMovesFromOneClientToTheOther();
    void clientDiesWithTheProcessThatStartedIt();
};

void TestTwoClients::initTestCase()
{
    QVERIFY2(QFileInfo(qEnvironmentVariable("TAVRINEL_BINARY")).isExecutable(),
             "TAVRINEL_BINARY must name the built program");
}

void TestTwoClients::fileMovesFromOneClientToTheOther()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    RelayServer server;
    QVERIFY(server.Listen());

    // alice shares a folder with a 20 MiB file, a second one of an odd size and CD1\01.mp3;
    // carol shares another file under that same last folder and name.
    Client alice, bob, carol;
    alice.Prepare(root.path(), "alice", server.Port());
    const QString share = root.path() + "/alice/share";
    const QByteArray big = RandomBytes(20 * 1024 * 1024, 1);
    const QByteArray half = RandomBytes(6 * 1024 * 1024 + 12345, 2);
    QVERIFY(WriteFile(share + "/big.bin", big));
    QVERIFY(WriteFile(share + "/half.bin", half));
    const QByteArray aliceSong = RandomBytes(2 * 1024 * 1024 + 7, 3);
    QVERIFY(WriteFile(share + "/CD1/01.mp3", aliceSong));
    alice.save.Link(alice.save.Add("shared_folder", share), alice.save.Add("shared_public", QString(), true));
    carol.Prepare(root.path(), "carol", server.Port());
    const QString carolShare = root.path() + "/carol/share";
    const QByteArray carolSong = RandomBytes(3 * 1024 * 1024 + 11, 4);
    QVERIFY(WriteFile(carolShare + "/CD1/01.mp3", carolSong));
    carol.save.Link(carol.save.Add("shared_folder", carolShare), carol.save.Add("shared_public", QString(), true));

    // bob has alice's three files and carol's one queued. He already holds the first half of
    // half.bin in "downloading", and the first MiB of alice's CD1\01.mp3, which his saved entry
    // says is its own: carol's download of the same local path must not resume it.
    bob.Prepare(root.path(), "bob", server.Port());
    const QString downloads = root.path() + "/bob/downloads";
    bob.save.Setting("download_folder", downloads);
    bob.save.Setting("transfer_order_counter", "5");
    QString remoteFolder = share;
    remoteFolder.replace('/', '\\');
    const int held = half.size() / 2;
    QVERIFY(WriteFile(downloads + "/downloading/share/half.bin", half.left(held)));
    const int heldSong = 1024 * 1024;
    QVERIFY(WriteFile(downloads + "/downloading/CD1/01.mp3", aliceSong.left(heldSong)));
    QString carolFolder = carolShare + "/CD1";
    carolFolder.replace('/', '\\');
    int order = 0;
    const auto queue = [&](const QString& user, const QString& folder, const QString& name, int size) {
        const int entry = bob.save.Add("download_entry", QString(), true);
        bob.save.Link(entry, bob.save.Get("user", user));
        bob.save.Link(entry, bob.save.Get("file_name", name));
        bob.save.Link(entry, bob.save.Get("remote_folder", folder));
        bob.save.Link(entry, bob.save.Get("file_size", QString::number(size)));
        bob.save.Link(entry, bob.save.Get("download_entry_status", "queued"));
        bob.save.Link(entry, bob.save.Get("download_order", QString::number(++order)));
        bob.save.Link(entry, bob.save.Get("subfolder_save_level", "0"));
        return entry;
    };
    queue("alice", remoteFolder, "big.bin", big.size());
    queue("alice", remoteFolder, "half.bin", half.size());
    const int aliceSongEntry = queue("alice", remoteFolder + "\\CD1", "01.mp3", aliceSong.size());
    bob.save.Link(aliceSongEntry, bob.save.Add("download_partial_name", "01.mp3"));
    queue("carol", carolFolder, "01.mp3", carolSong.size());

    // alice is in and has scanned her share before bob asks her for anything.
    QVERIFY(alice.Start());
    QTRY_VERIFY_WITH_TIMEOUT(server.IsReady("alice"), 60000);
    QVERIFY(carol.Start());
    QTRY_VERIFY_WITH_TIMEOUT(server.IsReady("carol"), 60000);
    QVERIFY(bob.Start());
    QTRY_VERIFY_WITH_TIMEOUT(server.IsReady("bob"), 60000);

    const QString complete = downloads + "/complete/share/";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(complete + "big.bin").size() == big.size(), 60000);
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(complete + "half.bin").size() == half.size(), 60000);
    QCOMPARE(Digest(complete + "big.bin"), QCryptographicHash::hash(big, QCryptographicHash::Sha256));
    QCOMPARE(Digest(complete + "half.bin"), QCryptographicHash::hash(half, QCryptographicHash::Sha256));
    // Both songs whole and unmixed, whichever finished first took the peer's name.
    const QString songs = downloads + "/complete/CD1/";
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(songs + "01.mp3").size() + QFileInfo(songs + "01 (1).mp3").size() ==
                                 aliceSong.size() + carolSong.size(),
                             60000);
    QList<QByteArray> arrived{Digest(songs + "01.mp3"), Digest(songs + "01 (1).mp3")};
    QList<QByteArray> offered{QCryptographicHash::hash(aliceSong, QCryptographicHash::Sha256),
                              QCryptographicHash::hash(carolSong, QCryptographicHash::Sha256)};
    std::sort(arrived.begin(), arrived.end());
    std::sort(offered.begin(), offered.end());
    QCOMPARE(arrived, offered);

    // Only the missing halves crossed: the data plus a few small messages. The count takes in
    // every connection dialled to bob, so carol's song is part of it.
    const qint64 expected = big.size() + (half.size() - held) + (aliceSong.size() - heldSong) + carolSong.size();
    const qint64 sent = server.BytesSent("alice", "bob");
    QVERIFY2(sent >= expected && sent < expected + 64 * 1024,
             qPrintable(QString("alice and carol sent %1 bytes for %2 bytes of data").arg(sent).arg(expected)));
    // The file connections came through the forwarders, so they were counted.
    QVERIFY(server.ForwardedConnections("alice") + server.ForwardedConnections("bob") >= 3);

    QVERIFY(alice.Terminate());
    QVERIFY(bob.Terminate());
    QVERIFY(carol.Terminate());

    const savefile::Parsed bobSaved = bob.Saved();
    QVERIFY(bobSaved.ok);
    QCOMPARE(bobSaved.Settings().value("username"), QString("bob"));
    QCOMPARE(bobSaved.items.value("download_entry").size(), 4);
    QCOMPARE(bobSaved.items.value("download_entry_status").values(), QStringList{"complete"});
    QCOMPARE(bobSaved.items.value("complete_download").size(), 4);
    QStringList names = bobSaved.items.value("complete_download_filename").values();
    names.sort();
    const QStringList finished{"01 (1).mp3", "01.mp3", "big.bin", "half.bin"};
    QCOMPARE(names, finished);
    // Each entry keeps the name its own finished file took; no partial file is claimed any more.
    names = bobSaved.items.value("download_final_name").values();
    names.sort();
    QCOMPARE(names, finished);
    QVERIFY(bobSaved.items.value("download_partial_name").isEmpty());

    const savefile::Parsed aliceSaved = alice.Saved();
    QVERIFY(aliceSaved.ok);
    QCOMPARE(aliceSaved.Settings().value("username"), QString("alice"));
    QCOMPARE(aliceSaved.items.value("shared_folder").values(), QStringList{share});
}

void TestTwoClients::clientDiesWithTheProcessThatStartedIt()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    RelayServer server;
    QVERIFY(server.Listen());

    ChildProcess holder;
    qint64 client = 0;
    QByteArray clientStart;
    const auto alive = [&] {
        const auto state = ProcessState(client);
        return !clientStart.isEmpty() && state.second == clientStart && state.first != "Z";
    };
    // Whatever happened, no client outlives the test.
    const auto cleanup = qScopeGuard([&] {
        if (holder.state() != QProcess::NotRunning) {
            holder.kill();
            holder.waitForFinished();
        }
        if (client > 0 && alive()) {
            ::kill(static_cast<pid_t>(client), SIGKILL);
            if (!QTest::qWaitFor([&] { return !alive(); }, 10000))
                qWarning("client %lld still running", client);
        }
    });
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QCoreApplication::applicationFilePath(),
                 {kHoldClient, root.path(), QString::number(server.Port())});
    QVERIFY(holder.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(holder.canReadLine() || holder.state() == QProcess::NotRunning, 60000);
    QVERIFY2(holder.canReadLine(), "the client did not start");
    client = holder.readLine().trimmed().toLongLong();
    QVERIFY(client > 0);
    clientStart = ProcessState(client).second;
    QVERIFY(!clientStart.isEmpty());
    // Up and logged in, so well past its start.
    QTRY_VERIFY_WITH_TIMEOUT(server.IsReady("dave"), 60000);
    QVERIFY(alive());

    QCOMPARE(::kill(static_cast<pid_t>(holder.processId()), SIGKILL), 0);
    QVERIFY(holder.waitForFinished());
    // Gone, or dead and not yet reaped by whoever took it over.
    QTRY_VERIFY2_WITH_TIMEOUT(!alive(), "the client outlived the process that started it", 10000);
}

// QTEST_GUILESS_MAIN, but with the holding mode first: Qt Test would take its arguments for
// test names.
int main(int argc, char* argv[])
{
    if (argc == 4 && qstrcmp(argv[1], kHoldClient) == 0) {
        QCoreApplication app(argc, argv);
        return HoldClient(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toUShort());
    }
    QCoreApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestTwoClients tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "tst_twoclients.moc"
