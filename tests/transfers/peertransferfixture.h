// The transfer engine in a test: the peer messenger's fixture (fake central server, messenger
// listening on 127.0.0.1, test clock), the shared-folder index over a temporary folder, and the
// engine itself with its own test clock. Fake peers stand in for other users: each holds a
// messaging connection to the client and can listen for the client's file connections.
#pragma once

#include "common/deliver.h"
#include "common/fakepeer.h"
#include "common/peerfixture.h"
#include "common/testfiles.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>

#include <map>
#include <memory>

// Message fields, little-endian, as the peer writes them.
inline QByteArray U32(quint32 v) { return FakePeer::U32(v); }
inline QByteArray I64(qint64 v) { return FakePeer::I64(v); }
inline QByteArray Str(const QString& s) { return FakePeer::Str(s); }

// A file connection opened by a peer to the client: the direct init, then the ticket.
struct FileConnection
{
    FakePeer peer;

    bool Open(const QString& user, quint32 ticket)
    {
        if (!peer.ConnectTo(peerMessenger->ListeningPort(false)))
            return false;
        peer.SetRaw(true);
        peer.SendRaw(FakePeer::PlainFrame(FakePeer::DirectInit(user, "F")) + U32(ticket));
        return true;
    }
    // The resume offset the client wrote, or -1 when none came.
    qint64 Offset(int timeoutMs = 5000)
    {
        if (!QTest::qWaitFor([&] { return peer.Received().size() >= 8; }, timeoutMs))
            return -1;
        return qFromLittleEndian<qint64>(peer.Received().constData());
    }
};

// The upload of a file to a user, and its status word.
inline ItemPtr UploadOf(const QString& user, const QString& requested)
{
    ItemPtr u = d.GetType("user")->HasItem(Value(user));
    ItemPtr name = d.GetType("filename_as_requested")->HasItem(Value(requested));
    return u && name ? d.GetItem(u, name, "upload_entry") : ItemPtr();
}
inline QString UploadStatusOf(const QString& user, const QString& requested)
{
    return UploadOf(user, requested)["upload_entry_status"].AsString();
}

class PeerTransferFixture
{
public:
    bool SetUp()
    {
        if (!peer.SetUp())
            return false;
        if (!sharedFoldersManager)
            new SharedFoldersManager();
        if (!transferQueueManager)
            new TransferQueueManager();
        now = peer.now;
        TransferQueueManager::SetClock([this] { return now; });
        SetSetting("download_folder", Value(files.filePath("downloads")));
        ItemPtr folder = sharedFoldersManager->AddSharedFolder(SharePath());
        folder.NewItem("shared_public");
        return files.isValid() && QDir().mkpath(SharePath());
    }

    QString SharePath() const { return files.filePath("share"); }
    // Writes a shared file and indexes it.
    bool Share(const QString& relative, const QByteArray& bytes)
    {
        if (!WriteFile(SharePath() + "/" + relative, bytes))
            return false;
        sharedFoldersManager->RescanShares();
        return IndexedFile(relative);
    }
    // The index's item of a shared file, found by its folder and name as they are on disk.
    ItemPtr IndexedFile(const QString& relative) const
    {
        const QFileInfo info(SharePath() + "/" + relative);
        ItemPtr folder = d.GetType("shared_file_folder")->HasItem(Value(info.path()));
        ItemPtr name = d.GetType("shared_file_name")->HasItem(Value(info.fileName()));
        return folder && name ? d.GetItem(folder, name, "shared_file") : ItemPtr();
    }
    // The name under which a peer asks for a shared file: the local path with backslashes.
    QString RemoteName(const QString& relative) const
    {
        QString name = SharePath() + "/" + relative;
        return name.replace('/', '\\');
    }

    // A user with a messaging connection to the client, online, with an address where it
    // listens for file connections.
    FakePeer& User(const QString& name)
    {
        std::unique_ptr<Peer>& p = m_peers[name];
        if (!p) {
            p = std::make_unique<Peer>();
            p->files.Listen();
            p->messages.ConnectTo(peerMessenger->ListeningPort(false));
            p->messages.SendDirectInit(name, "P");
            (void)QTest::qWaitFor([&] { return PeerFixture::PeerSocketOf(name) != nullptr; }, 5000);
            PeerFixture::StoreAddress(name, p->files.Port());
            d.GetType("user")->GetItem(Value(name)).NewItem("is_online");
        }
        return p->messages;
    }
    FakePeer& FilesOf(const QString& name)
    {
        User(name);
        return m_peers[name]->files;
    }

    // The fields of the messages of one code a user has received since they were last cleared.
    QList<QByteArray> Received(const QString& name, quint32 code)
    {
        QList<QByteArray> found;
        for (const FakePeer::Frame& f : User(name).Frames())
            if (f.body.size() >= 4 && qFromLittleEndian<quint32>(f.body.constData()) == code)
                found << f.body.mid(4);
        return found;
    }
    // Waits until a user has received that many messages of the code.
    QList<QByteArray> WaitFor(const QString& name, quint32 code, int count = 1, int timeoutMs = 5000)
    {
        (void)QTest::qWaitFor([&] { return Received(name, code).size() >= count; }, timeoutMs);
        return Received(name, code);
    }
    void Clear(const QString& name) { User(name).TakeFrames(); }
    // Waits until everything sent to the user so far has arrived: a place in line the peer
    // cannot otherwise get is sent behind it.
    bool Settle(const QString& name)
    {
        peerMessenger->SendUploadPlaceInLine(name, "marker", 0);
        return QTest::qWaitFor([&] { return Received(name, 44).contains(Str("marker") + U32(0)); }, 5000);
    }
    // The messages of a code the user received since the last call.
    QList<QByteArray> Sent(const QString& name, quint32 code)
    {
        const QList<QByteArray> found = Settle(name) ? Received(name, code) : QList<QByteArray>{"marker not seen"};
        Clear(name);
        return found;
    }

    // The local download folders.
    QString DownloadBase() const { return GetSetting("download_folder"); }
    QString Downloading(const QString& relative) const { return DownloadBase() + "/downloading/" + relative; }
    QString Complete(const QString& relative) const { return DownloadBase() + "/complete/" + relative; }
    // Removes every download and every local file of them.
    bool RemoveDownloads()
    {
        for (ItemPtr entry : d.GetType("download_entry")->GetItems())
            transferQueueManager->RemoveDownload(entry);
        return QDir(DownloadBase()).removeRecursively();
    }

    // Asks the user to queue a shared file and allows the transfer request that follows.
    // Returns the request.
    QByteArray QueueAndAllow(const QString& name, const QString& file)
    {
        const int before = Received(name, 40).size();
        emit peerMessenger->QueueUploadRequested(name, file);
        const QByteArray request = WaitFor(name, 40, before + 1).value(before);
        if (request.size() >= 8)
            emit peerMessenger->FileTransferResponse(name, qFromLittleEndian<quint32>(request.constData() + 4), true,
                                                     false, 0, QString());
        return request;
    }

    // The file connection a user receives from the client: once the init and the ticket are in,
    // the offset goes back. Returns the ticket, 0 when none came.
    quint32 AnswerFileConnection(const QString& user, qint64 offset)
    {
        FakePeer& files = FilesOf(user);
        const int init = FakePeer::PlainFrame(FakePeer::DirectInit("me", "F")).size();
        if (!QTest::qWaitFor([&] { return files.Received().size() >= init + 4; }, 10000))
            return 0;
        files.SetRaw(true);
        files.SendRaw(I64(offset));
        return qFromLittleEndian<quint32>(files.Received().constData() + init);
    }
    // Bytes that followed the ticket on the user's file connection.
    QByteArray DataAfterTicket(const QString& user)
    {
        return FilesOf(user).Received().mid(FakePeer::PlainFrame(FakePeer::DirectInit("me", "F")).size() + 4);
    }

    // Ends every transfer and connection, so that nothing outlives the process unfreed.
    void TearDown()
    {
        for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
            transferQueueManager->RemoveUpload(entry);
        for (const ItemPtr& entry : d.GetType("download_entry")->GetItems())
            transferQueueManager->RemoveDownload(entry);
        m_peers.clear();
        peer.Clear();
        d.RemoveDisconnectedItems();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    // Moves the engine's clock on and runs the half-minute sweep.
    void Sweep(int seconds)
    {
        now = now.addSecs(seconds);
        transferQueueManager->EveryHalfMinute();
    }

    PeerFixture peer;
    QTemporaryDir files;
    QDateTime now;

private:
    struct Peer
    {
        FakePeer messages;
        FakePeer files;
    };
    std::map<QString, std::unique_ptr<Peer>> m_peers;
};

