// The stamped times of the transfer engine, the transfers view and the peer messenger on a desktop
// in another language: every time these keep as text is written and read back whatever language
// the desktop speaks, so the half-minute sweep, the clearing of finished uploads, the completed
// list and the expiry of unsent messages keep their intervals and orders there.
// Each tst_stampedtimes_<language>.cpp runs this whole class in its language.
#pragma once

#include "common/desktoplanguage.h"
#include "common/toolbaraction.h"
#include "downloadfeed.h"
#include "peertransferfixture.h"

#include "app/actionsettoolbar.h"
#include "app/eventtoolbar.h"
#include "model/helpers.h"
#include "model/itemlog.h"
#include "model/settings.h"
#include "ui/transfers/completedownloadsform.h"
#include "ui/transfers/transfersform.h"

#include <QTabWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTreeWidget>
#include <QWidgetAction>
#include <QtEndian>
#include <QtTest>

#include <initializer_list>

const DesktopLanguage& Desktop();

class TestStampedTimes : public QObject
{
    Q_OBJECT

    PeerTransferFixture f;
    QTcpServer m_listener;
    QDateTime m_start;
    QTabWidget* m_tabs = nullptr;
    TransfersForm* m_form = nullptr;

    QString Status(ItemPtr entry) { return entry["download_entry_status"].AsString(); }
    // Shows the tree's action set as a focus change into it does and triggers the action.
    bool Trigger(QWidget* tree, const QString& text)
    {
        return TriggerToolbarAction(tree, text);
    }
    bool HasUploadRow(const QString& file)
    {
        for (QTreeWidgetItemIterator it(m_form->findChild<QTreeWidget*>("uploadsList")); *it; ++it)
            if ((*it)->text(2) == file)
                return true;
        return false;
    }
    // A download from "ivy" that the peer sends whole, finished when the engine's clock shows
    // the start plus the given seconds.
    bool FinishAt(const char* file, int seconds)
    {
        f.now = m_start.addSecs(seconds);
        ItemPtr entry = transferQueueManager->AddDownload("ivy", file, "d\\X", 4, 0);
        QTcpSocket* far = FeedDownload(m_listener, entry, this);
        if (!far)
            return false;
        far->write("data");
        return QTest::qWaitFor([&] { return Status(entry) == "complete"; });
    }
    // A completed download as a save file holds it, with its completion time as written then.
    static void StoredCompletion(const QString& file, const QString& time)
    {
        ItemPtr record = d.GetType("complete_download")->NewItem();
        record += d.GetType("user")->GetItem(Value("ivy"));
        record += d.GetType("complete_download_folder")->GetItem(Value("/old"));
        record += d.GetType("complete_download_relative_folder")->GetItem(Value("X"));
        record += d.GetType("complete_download_filename")->GetItem(Value(file));
        record += d.GetType("complete_download_file_size")->GetItem(Value("4"));
        record += d.GetType("complete_download_completion_time")->GetItem(Value(time));
    }
    // What the user was sent since the last call: queue requests (43) and place-in-line
    // requests (51).
    QPair<int, int> QueueAndPlaceRequests(const QString& user)
    {
        const auto counts = f.Settle(user) ? qMakePair(f.Received(user, 43).size(), f.Received(user, 51).size())
                                           : qMakePair(-1, -1);
        f.Clear(user);
        return counts;
    }

    // The stored times of a type that are not in the English form an English desktop writes.
    static QStringList ForeignStamps(std::initializer_list<const char*> types)
    {
        QStringList foreign;
        for (const char* type : types)
            for (const ItemPtr& item : d.GetType(type)->GetItems())
                if (StoredTimeText(StoredTimeFromText(item.AsString())) != item.AsString())
                    foreign << QString("%1: %2").arg(type, item.AsString());
        return foreign;
    }

private slots:
    void initTestCase()
    {
        // The whole program runs in the desktop's language, and the test clock's month is
        // named otherwise there than in English.
        QCOMPARE(QLocale::system().name(), Desktop().Name());
        QCOMPARE(QLocale().name(), Desktop().Name());
        QVERIFY(f.SetUp());
        // Log lines about a user are kept on it, as in the program.
        DeclareItemLogTypes();
        m_start = f.now;
        QVERIFY(m_start.toString(Qt::TextDate) != QLocale::c().toString(m_start, "ddd MMM d HH:mm:ss yyyy"));
        QVERIFY(m_listener.listen(QHostAddress::LocalHost, 0));
        new ActionSetToolBar(nullptr);
        actionBar->Init();
        new EventToolBar(nullptr);
        m_tabs = new QTabWidget;
        m_form = new TransfersForm;
        m_tabs->addTab(m_form, "Transfers");
        m_form->Init();
    }
    void cleanup()
    {
        f.now = m_start;
        for (const ItemPtr& entry : d.GetType("upload_entry")->GetItems())
            transferQueueManager->RemoveUpload(entry);
        QVERIFY(f.RemoveDownloads());
    }
    void cleanupTestCase()
    {
        f.TearDown();
        delete m_tabs;
        delete eventToolBar;
        delete actionBar;
    }

    // Stored times keep the English names here too, and what earlier versions wrote in this
    // language still reads.
    void storedTimesInThisLanguage()
    {
        const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
        for (int month = 1; month <= 12; ++month) {
            const QDateTime time(QDate(2026, month, 5 + month), QTime(month, 7, 9));
            const QString text = StoredTimeText(time);
            QCOMPARE(text.section(' ', 1, 1), QString(months[month - 1]));
            QCOMPARE(StoredTimeFromText(text), time);
            QCOMPARE(StoredTimeFromText(time.toString(Qt::TextDate)), time);
        }
        QCOMPARE(StoredTimeText(QDateTime(QDate(2026, 12, 5), QTime(9, 1, 7))), QString("Sat Dec 5 09:01:07 2026"));
    }

    // A transfer request sent a second before the sweep is waited on for half a minute.
    void handshakeOutlivesTheNextSweep()
    {
        QVERIFY(f.Share("h.bin", "data"));
        const QString name = f.RemoteName("h.bin");
        f.User("gina");
        emit peerMessenger->QueueUploadRequested("gina", name);
        QCOMPARE(f.WaitFor("gina", 40).size(), 1);
        QCOMPARE(UploadStatusOf("gina", name), QString("requesting"));
        f.Sweep(1);
        QCOMPARE(UploadStatusOf("gina", name), QString("requesting"));
        f.Sweep(28);
        QCOMPARE(UploadStatusOf("gina", name), QString("requesting"));
        f.Sweep(2);
        QCOMPARE(UploadStatusOf("gina", name), QString("aborted"));
        QCOMPARE(UploadOf("gina", name)["last_status_change_time"].AsString(), QString("Sat Dec 5 19:32:18 2026"));
        QVERIFY(!g("item_log").empty());
        QCOMPARE(ForeignStamps({"last_status_change_time", "log_time"}), QStringList());
    }

    // Queue requests to an online peer go again every ten minutes, places in line when due:
    // not on every sweep.
    void queueRequestsRepeatEveryTenMinutes()
    {
        f.User("quin");
        transferQueueManager->AddDownload("quin", "a.bin", "s", 10, 0);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(1, 0));
        f.Sweep(5);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(1, 0));
        f.Sweep(30);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(0, 1));
        f.Sweep(30);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(0, 0));
        f.Sweep(539);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(0, 0));
        f.Sweep(1);
        QCOMPARE(QueueAndPlaceRequests("quin"), qMakePair(1, 0));
        QCOMPARE(ForeignStamps({"last_queue_request_time", "next_place_in_line_request_time"}), QStringList());
    }

    // With "clear complete and aborted uploads" on, a refused upload goes five minutes after
    // its refusal.
    void finishedUploadsClearedAfterFiveMinutes()
    {
        SetSetting("clear_complete_aborted_uploads", "yes");
        QVERIFY(f.Share("c.bin", "data"));
        const QString name = f.RemoteName("c.bin");
        f.User("hank");
        emit peerMessenger->QueueUploadRequested("hank", name);
        const QByteArray request = f.WaitFor("hank", 40).value(0);
        QVERIFY(request.size() >= 8);
        emit peerMessenger->FileTransferResponse("hank", qFromLittleEndian<quint32>(request.constData() + 4), false,
                                                 false, 0, "Queued");
        QCOMPARE(UploadStatusOf("hank", name), QString("denied"));
        QVERIFY(HasUploadRow("c.bin"));
        f.now = f.now.addSecs(299);
        m_form->EveryHalfMinute();
        QVERIFY(HasUploadRow("c.bin"));
        f.now = f.now.addSecs(2);
        m_form->EveryHalfMinute();
        QVERIFY(!HasUploadRow("c.bin"));
        QVERIFY(!UploadOf("hank", name));
    }

    // The completed list is newest first by completion time, whatever order the completions
    // came in, and reads the times of earlier saves written in English or in this language.
    void completedListByCompletionTime()
    {
        QWidget* downloads = m_form->findChild<QTreeWidget*>("downloadsList");
        QVERIFY(Trigger(downloads, "Complete Downloads"));
        auto* list = m_form->findChild<QTreeWidget*>("downloadList");
        QVERIFY(list);
        QVERIFY(FinishAt("b.bin", 600));
        QVERIFY(FinishAt("a.bin", 300));
        QVERIFY(FinishAt("c.bin", 900));
        const auto files = [list] {
            QStringList names;
            for (int k = 0; k < list->topLevelItemCount(); ++k)
                names << list->topLevelItem(k)->text(0);
            return names;
        };
        QCOMPARE(files(), QStringList({"c.bin", "b.bin", "a.bin"}));
        QCOMPARE(list->topLevelItem(0)->text(4), QString("Sat Dec 5 19:46:47 2026"));
        // As an English desktop wrote it: 750 s after the fixture's clock started.
        QCOMPARE(StoredTimeFromText("Sat Dec 5 19:44:17 2026"), m_start.addSecs(750));
        StoredCompletion("english.bin", "Sat Dec 5 19:44:17 2026");
        StoredCompletion("local.bin", m_start.addSecs(450).toString(Qt::TextDate));
        completeDownloadsForm->DataLoaded();
        QCOMPARE(files(), QStringList({"c.bin", "english.bin", "b.bin", "local.bin", "a.bin"}));
    }

    // A message for a user who cannot be reached goes after five minutes, an attempt to reach
    // one after a minute: neither is kept for ever.
    void unsentMessagesAndAttemptsExpire()
    {
        BlackHole hole;
        QVERIFY(hole.Open());
        const size_t before = PeerFixture::Count("unsent_message");
        peerMessenger->GetUserInfo("jo");
        PeerFixture::StoreAddress("kim", hole.Port());
        peerMessenger->ConnectToUser("kim", "P");
        QVERIFY(f.peer.RelayedRequest("lee", "P", hole.Port(), 4242));
        QTRY_COMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(1));
        QCOMPARE(PeerFixture::Count("connect_to_peer_request_socket"), size_t(1));
        QCOMPARE(ForeignStamps({"send_time", "socket_creation_time", "connection_open_time"}), QStringList());
        f.peer.Sweep(59);
        QCOMPARE(PeerFixture::Count("connect_to_peer_request_socket"), size_t(1));
        QCOMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(1));
        f.peer.Sweep(2);
        QCOMPARE(PeerFixture::Count("connect_to_peer_request_socket"), size_t(0));
        QCOMPARE(PeerFixture::Count("peer_connection_request_socket"), size_t(0));
        QCOMPARE(PeerFixture::Count("unsent_message"), before + 1);
        f.peer.Sweep(238);
        QCOMPARE(PeerFixture::Count("unsent_message"), before + 1);
        f.peer.Sweep(2);
        QCOMPARE(PeerFixture::Count("unsent_message"), before);
    }
};
