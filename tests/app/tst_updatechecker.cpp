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
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

// A web host on 127.0.0.1 that answers every GET with one fixed body.
class LocalWebHost
{
public:
    LocalWebHost()
    {
        QObject::connect(&m_server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
                QObject::connect(socket, &QTcpSocket::readyRead, &m_server, [this, socket] {
                    QByteArray& request = m_requests[socket];
                    request += socket->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    paths << QString::fromLatin1(request.split(' ').value(1));
                    m_requests.remove(socket);
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                                  QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
                    socket->disconnectFromHost();
                });
            }
        });
        QVERIFY(m_server.listen(QHostAddress::LocalHost, 0));
    }
    quint16 Port() const { return m_server.serverPort(); }

    QByteArray body;
    QStringList paths;

private:
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_requests;
};

class TestUpdateChecker : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void loginStartsTheOnlyCheckOfTheRun();
    void oversizedReplyEndsSilently();
    void downloadOpensOnlyWebLinks();
    void skipStoresBuildAndCloses();
    void webHostSettingIsValidated();

private:
    UrlCatcher m_catcher;
};

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
    // Every scheme a refused link uses is caught too, so that one let through shows.
    for (const char* scheme : {"file", "ftp", "smb", "javascript"})
        QDesktopServices::setUrlHandler(scheme, &m_catcher, "Open");
    DeclareSettingTypes();
}

void TestUpdateChecker::init()
{
    SetSetting("skip_version", "");
    SetSetting("web_host", "");
    m_catcher.urls.clear();
}

// The offer opens the dialog as the main window does; its notes stay plain text.
void TestUpdateChecker::loginStartsTheOnlyCheckOfTheRun()
{
    ServerFixture fixture;
    QVERIFY(fixture.SetUp(false));
    fixture.SetLogin("me", "secret");
    LocalWebHost host;
    host.body = "20140202\r\nhttp://dl.example/files\r\nTavrinel-x\r\n<b>One.</b>\r\n\r\nTwo.\r\n";
    SetSetting("web_host", QString("127.0.0.1:%1").arg(host.Port()));
    UpdateChecker checker;
    QPointer<NewVersionDialog> dialog;
    int offers = 0;
    connect(&checker, &UpdateChecker::NewVersion, this, [&](qint64 v, QString link, QStringList notes) {
        ++offers;
        dialog = new NewVersionDialog(v, link, notes);
    });
    checker.Init();
    QVERIFY(!checker.HasRequested());
    QVERIFY(fixture.LogIn());
    QTRY_VERIFY(dialog);
    QCOMPARE(dialog->findChild<QLineEdit*>("newVersionEdit")->text(), QString("Build 2/2/2014"));
    QCOMPARE(dialog->findChild<QPlainTextEdit*>("descriptionEdit")->toPlainText(), QString("<b>One.</b>\n\nTwo."));
    dialog->findChild<QPushButton*>("downloadButton")->click();
    QCOMPARE(m_catcher.urls, QList<QUrl>({QUrl("http://dl.example/files/Linux/Tavrinel-x-64bit.tgz")}));
    delete dialog;

    checker.OnConnectedToServer();  // a reconnection in the same run
    // Dropped and logged in again: the version file is not fetched again.
    QVERIFY(fixture.Reset());
    QVERIFY(fixture.LogIn());
    QVERIFY(!checker.IsPending());
    QCOMPARE(host.paths, QStringList({"/qtversion.txt"}));
    QCOMPARE(offers, 1);
    QVERIFY(fixture.Reset());
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

void TestUpdateChecker::oversizedReplyEndsSilently()
{
    LocalWebHost host;
    const QByteArray head = "20990101\nhttp://a\nb\n";
    // A valid start followed by more than 64 KiB of notes is not a version file.
    host.body = head + QByteArray(UpdateChecker::kMaxReplySize, 'n') + "\n";
    QCOMPARE(OffersFrom(host.Port()), 0);
    QCOMPARE(host.paths.size(), 1);

    // Exactly at the cap is still read.
    host.body = head + QByteArray(UpdateChecker::kMaxReplySize - head.size() - 1, 'n') + "\n";
    QCOMPARE(OffersFrom(host.Port()), 1);
}

void TestUpdateChecker::downloadOpensOnlyWebLinks()
{
    // A scheme other than the web's is refused also when the link names a host.
    for (const QString& link : {QString("file:///etc/passwd/Linux/x-64bit.tgz"), QString("javascript:alert(1)/Linux/x"),
                                QString("dl.example/Linux/x-64bit.tgz"), QString("ftp://dl.example/Linux/x-64bit.tgz"),
                                QString("smb://dl.example/share/Linux/x-64bit.tgz"),
                                QString("https://dl.example/Linux/x-64bit.tgz")})
        NewVersionDialog(20130101, link, {}).OnDownloadButtonClicked();
    QCOMPARE(m_catcher.urls, QList<QUrl>({QUrl("https://dl.example/Linux/x-64bit.tgz")}));
}

void TestUpdateChecker::skipStoresBuildAndCloses()
{
    QPointer<NewVersionDialog> dialog = new NewVersionDialog(20130101, "http://a/Linux/b-64bit.tgz", {});
    dialog->show();
    dialog->findChild<QPushButton*>("skipButton")->click();
    QCOMPARE(GetSetting("skip_version"), QString("20130101"));
    QTRY_VERIFY(dialog.isNull());
    // The next run is not offered the same build, but a newer one.
    QCOMPARE(Parse("20130101\nhttp://a\nb\n").count(), 0);
    QCOMPARE(Parse("20130202\nhttp://a\nb\n").count(), 1);
}

void TestUpdateChecker::webHostSettingIsValidated()
{
    SetSetting("web_host", "127.0.0.1:8080");
    QCOMPARE(MakerWebPageUrl("/porttest.php", "port=2234").toString(),
             QString("http://127.0.0.1:8080/porttest.php?port=2234"));
    // A host that smuggles a path, user or query falls back to the maker's own host.
    for (const char* bad : {"evil.example/path", "user@evil.example", "host:notaport"}) {
        SetSetting("web_host", bad);
        QCOMPARE(MakerWebPageUrl("/qtversion.txt").toString(), QString("http://www.tavrinel.net/qtversion.txt"));
    }
}

QTEST_MAIN(TestUpdateChecker)
#include "tst_updatechecker.moc"
#include "moc_urlcatcher.cpp"
