#include "urlcatcher.h"

#include "app/mainwindow.h"
#include "app/newversiondialog.h"
#include "app/updatechecker.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "server/server.h"

#include <QDesktopServices>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QNetworkProxy>
#include <QPointer>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A web host on 127.0.0.1 that answers every GET with one fixed body.
class LocalWebHost : public QObject
{
    Q_OBJECT

public:
    LocalWebHost()
    {
        connect(&m_server, &QTcpServer::newConnection, this, &LocalWebHost::OnNewConnection);
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    }
    quint16 Port() const { return m_server.serverPort(); }

    QByteArray body;
    QByteArray status = "200 OK";
    QStringList paths;

private slots:
    void OnNewConnection()
    {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, this, [this, socket] {
                m_requests[socket] += socket->readAll();
                const QByteArray& request = m_requests[socket];
                if (!request.contains("\r\n\r\n"))
                    return;
                paths << QString::fromLatin1(request.split(' ').value(1));
                m_requests.remove(socket);
                socket->write("HTTP/1.1 " + status + "\r\nContent-Type: text/plain\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                socket->disconnectFromHost();
            });
        }
    }

private:
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
};

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void loginStartsTheOnlyCheckOfTheRun();
    void newerBuildOpensDialog();
    void failuresAndOversizedRepliesEndSilently();
    void offersOnlyBuildsNewerThanRunningAndSkipped();
    void randomRepliesNeverCrash();
    void dialogShowsBuildsAndPlainNotes();
    void downloadOpensOnlyWebLinks();
    void skipStoresBuildAndCloses();
    void webHostSettingIsValidated();

private:
    UrlCatcher m_catcher;
};

template <typename W>
static W* Child(QWidget* dialog, const char* name)
{
    W* w = dialog->findChild<W*>(name);
    if (!w)
        qFatal("no %s in the dialog", name);
    return w;
}

static QList<QList<QVariant>> Parse(const QByteArray& content)
{
    UpdateChecker checker;
    QSignalSpy spy(&checker, &UpdateChecker::NewVersion);
    checker.ParseVersionFile(content);
    return spy;
}

void TestUpdateChecker::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    QDesktopServices::setUrlHandler("http", &m_catcher, "Open");
    QDesktopServices::setUrlHandler("https", &m_catcher, "Open");
    QDesktopServices::setUrlHandler("file", &m_catcher, "Open");
    DeclareSettingTypes();
}

void TestUpdateChecker::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler("http");
    QDesktopServices::unsetUrlHandler("https");
    QDesktopServices::unsetUrlHandler("file");
}

void TestUpdateChecker::init()
{
    SetSetting("skip_version", "");
    SetSetting("web_host", "");
    m_catcher.urls.clear();
}

void TestUpdateChecker::loginStartsTheOnlyCheckOfTheRun()
{
    ServerFixture fixture;
    QVERIFY(fixture.SetUp(false));
    fixture.SetLogin("me", "secret");
    LocalWebHost host;
    host.body = "20130101\nhttp://dl.example\nTavrinel-20130101\n";
    SetSetting("web_host", QString("127.0.0.1:%1").arg(host.Port()));
    UpdateChecker checker;
    QSignalSpy offered(&checker, &UpdateChecker::NewVersion);
    checker.Init();
    QVERIFY(!checker.HasRequested());
    QVERIFY(fixture.LogIn());
    QTRY_COMPARE(offered.count(), 1);
    QCOMPARE(offered.at(0).at(0).toLongLong(), 20130101LL);
    QCOMPARE(offered.at(0).at(1).toString(), QString("http://dl.example/Linux/Tavrinel-20130101-64bit.tgz"));
    QCOMPARE(offered.at(0).at(2).toStringList(), QStringList());
    checker.OnConnectedToServer();  // a reconnection in the same run
    // Dropped and logged in again: the version file is not fetched again.
    QVERIFY(fixture.Reset());
    QVERIFY(fixture.LogIn());
    QVERIFY(!checker.IsPending());
    QCOMPARE(host.paths, QStringList({"/qtversion.txt"}));
    QCOMPARE(offered.count(), 1);
    QVERIFY(fixture.Reset());
}

void TestUpdateChecker::newerBuildOpensDialog()
{
    LocalWebHost host;
    host.body = "20140202\r\nhttp://dl.example/files\r\nTavrinel-x\r\nOne.\r\n\r\nTwo.\r\n";
    SetSetting("web_host", QString("127.0.0.1:%1").arg(host.Port()));
    UpdateChecker checker;
    QPointer<NewVersionDialog> dialog;
    // What the main window does with the signal.
    connect(&checker, &UpdateChecker::NewVersion, this, [&](qint64 v, QString link, QStringList notes) {
        dialog = new NewVersionDialog(v, link, notes);
        dialog->show();
    });
    checker.OnConnectedToServer();
    QTRY_VERIFY(dialog);
    QCOMPARE(Child<QLineEdit>(dialog, "newVersionEdit")->text(), QString("Build 2/2/2014"));
    QCOMPARE(Child<QPlainTextEdit>(dialog, "descriptionEdit")->toPlainText(), QString("One.\n\nTwo."));
    Child<QPushButton>(dialog, "downloadButton")->click();
    QCOMPARE(m_catcher.urls, QList<QUrl>({QUrl("http://dl.example/files/Linux/Tavrinel-x-64bit.tgz")}));
    QVERIFY(dialog->isVisible());
    dialog->close();
    QTRY_VERIFY(dialog.isNull());
}

namespace {

// Runs one check against the web host on `port`; the number of offers it made.
int OffersFrom(quint16 port)
{
    SetSetting("web_host", QString("127.0.0.1:%1").arg(port));
    UpdateChecker checker;
    QSignalSpy offered(&checker, &UpdateChecker::NewVersion);
    checker.OnConnectedToServer();
    for (int k = 0; k < 500 && checker.IsPending(); ++k)
        QTest::qWait(10);
    return checker.IsPending() ? -1 : offered.count();
}

} // namespace

void TestUpdateChecker::failuresAndOversizedRepliesEndSilently()
{
    quint16 closedPort;
    {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        closedPort = closed.serverPort();
    }
    // Nobody listens on the port any more.
    QCOMPARE(OffersFrom(closedPort), 0);

    LocalWebHost host;
    const QByteArray head = "20990101\nhttp://a\nb\n";
    host.status = "404 Not Found";
    host.body = head;
    QCOMPARE(OffersFrom(host.Port()), 0);

    // A valid start followed by more than 64 KiB of notes is not a version file.
    host.status = "200 OK";
    host.body = head + QByteArray(UpdateChecker::kMaxReplySize, 'n') + "\n";
    host.paths.clear();
    QCOMPARE(OffersFrom(host.Port()), 0);
    QCOMPARE(host.paths.size(), 1);

    // Exactly at the cap is still read.
    host.body = head + QByteArray(UpdateChecker::kMaxReplySize - head.size() - 1, 'n') + "\n";
    QCOMPARE(OffersFrom(host.Port()), 1);
}

void TestUpdateChecker::offersOnlyBuildsNewerThanRunningAndSkipped()
{
    QCOMPARE(g_currentVersion, 20120805LL);
    QCOMPARE(Parse("20120805\nhttp://a\nb\n").count(), 0);
    QCOMPARE(Parse("20120806\nhttp://a\nb\n").count(), 1);
    QCOMPARE(Parse("not a number\nhttp://a\nb\n").count(), 0);
    QCOMPARE(Parse("<html>error</html>\n").count(), 0);
    QCOMPARE(Parse("").count(), 0);
    SetSetting("skip_version", "20130101");
    QCOMPARE(Parse("20130101\nhttp://a\nb\n").count(), 0);
    QCOMPARE(Parse("20130102\nhttp://a\nb\n").count(), 1);
    // White space stripped, cut at a zero byte, CR LF endings.
    static const char file[] = " 20130201 \r\nhttp://a/\r\nstem\0junk\r\nnote one\r\n\r\nlast without end";
    auto r = Parse(QByteArray(file, sizeof(file) - 1));
    QCOMPARE(r.count(), 1);
    QCOMPARE(r.at(0).at(1).toString(), QString("http://a//Linux/stem-64bit.tgz"));
    QCOMPARE(r.at(0).at(2).toStringList(), QStringList({"note one", ""}));
}

void TestUpdateChecker::randomRepliesNeverCrash()
{
    QRandomGenerator random(20120805);
    const QByteArray valid = "20130101\r\nhttp://a\r\nb\r\nnote\r\n";
    for (int round = 0; round < 2000; ++round) {
        QByteArray content;
        switch (round % 3) {
        case 0:  // garbage
            content.resize(random.bounded(200));
            for (char& c : content)
                c = char(random.bounded(256));
            break;
        case 1:  // a valid file cut short
            content = valid.left(random.bounded(valid.size() + 1));
            break;
        default:  // a valid file with a few bytes flipped
            content = valid;
            for (int k = 0; k < 3; ++k)
                content[random.bounded(content.size())] = char(random.bounded(256));
        }
        const auto offers = Parse(content);
        QVERIFY(offers.count() <= 1);
        if (!offers.isEmpty())
            QVERIFY(offers.at(0).at(2).toStringList().size() <= content.count('\n'));
    }
}

void TestUpdateChecker::dialogShowsBuildsAndPlainNotes()
{
    QCOMPARE(BuildText(20120805), QString("Build 8/5/2012"));
    QCOMPARE(BuildText(20131231), QString("Build 12/31/2013"));
    auto* dialog = new NewVersionDialog(20130101, "http://a/Linux/b-64bit.tgz",
                                        {"<b>bold</b>", "", "<a href=\"file:///etc\">x</a>"});
    QPointer<NewVersionDialog> guard(dialog);
    QCOMPARE(Child<QLineEdit>(dialog, "currentVersionEdit")->text(), QString("Build 8/5/2012"));
    QCOMPARE(Child<QPlainTextEdit>(dialog, "descriptionEdit")->toPlainText(),
             QString("<b>bold</b>\n\n<a href=\"file:///etc\">x</a>"));
    dialog->close();
    QTRY_VERIFY(guard.isNull());
}

void TestUpdateChecker::downloadOpensOnlyWebLinks()
{
    for (const QString& bad : {QString("file:///etc/passwd/Linux/x-64bit.tgz"), QString("javascript:alert(1)/Linux/x"),
                               QString("dl.example/Linux/x-64bit.tgz"), QString("smb://host/Linux/x")}) {
        NewVersionDialog dialog(20130101, bad, {});
        QVERIFY2(!Child<QPushButton>(&dialog, "downloadButton")->isEnabled(), qPrintable(bad));
        dialog.OnDownloadButtonClicked();
    }
    QCOMPARE(m_catcher.urls.size(), 0);
    NewVersionDialog secure(20130101, "https://dl.example/Linux/x-64bit.tgz", {});
    QVERIFY(Child<QPushButton>(&secure, "downloadButton")->isEnabled());
    Child<QPushButton>(&secure, "downloadButton")->click();
    QCOMPARE(m_catcher.urls, QList<QUrl>({QUrl("https://dl.example/Linux/x-64bit.tgz")}));
}

void TestUpdateChecker::skipStoresBuildAndCloses()
{
    QPointer<NewVersionDialog> dialog = new NewVersionDialog(20130101, "http://a/Linux/b-64bit.tgz", {});
    dialog->show();
    Child<QPushButton>(dialog, "skipButton")->click();
    QCOMPARE(GetSetting("skip_version"), QString("20130101"));
    QTRY_VERIFY(dialog.isNull());
    // The next run is not offered the same build, but a newer one.
    QCOMPARE(Parse("20130101\nhttp://a\nb\n").count(), 0);
    QCOMPARE(Parse("20130202\nhttp://a\nb\n").count(), 1);
}

void TestUpdateChecker::webHostSettingIsValidated()
{
    QCOMPARE(MakerWebPageUrl("/qtversion.txt").toString(), QString("http://www.tavrinel.net/qtversion.txt"));
    SetSetting("web_host", "127.0.0.1:8080");
    QCOMPARE(MakerWebPageUrl("/porttest.php", "port=2234").toString(),
             QString("http://127.0.0.1:8080/porttest.php?port=2234"));
    for (const char* bad : {"evil.example/path", "user@evil.example", "evil.example?x=1", "a b", "host:notaport"}) {
        SetSetting("web_host", bad);
        QCOMPARE(MakerWebPageUrl("/qtversion.txt").toString(), QString("http://www.tavrinel.net/qtversion.txt"));
    }
}

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
#include "moc_urlcatcher.cpp"
