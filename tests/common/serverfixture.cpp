#include "common/serverfixture.h"

#include "model/datasaver.h"
#include "model/diagnosticsform.h"
#include "model/settings.h"
#include "model/timermanager.h"
#include "peer/peermessenger.h"
#include "server/portforwarder.h"
#include "server/server.h"

#include <QHostAddress>
#include <QStandardPaths>
#include <QTest>
#include <QTextBrowser>

#include <memory>

ServerFixture::~ServerFixture() { if (gp_server) gp_server->Disconnect(); }

bool ServerFixture::SetUp(bool diagnostics, bool peerTypes)
{
    QStandardPaths::setTestModeEnabled(true);
    if (!dir.isValid() || !fake.Listen())
        return false;
    if (diagnostics && !diagnosticsForm)
        new DiagnosticsForm();
    if (!timerManager)
        new TimerManager();
    if (!dataSaver)
        new DataSaver(&d, dir.filePath(QStringLiteral("save")));
    DeclareSettingTypes();
    if (!portForwarder)
        new PortForwarder(std::make_unique<RecordingGateway>());
    if (!gp_server) {
        new Server();
        gp_server->CreateData();
        if (peerTypes)
            PeerMessenger::CreateData();
    }
    // The tests never reach for a real gateway, and only ever for the fake server.
    SetSetting("use_upnp", Value("no"));
    SetSetting("server_host", Value("127.0.0.1"));
    SetSetting("server_port", Value(static_cast<int>(fake.Port())));
    return true;
}

bool ServerFixture::SetUpLoggedIn()
{
    if (!SetUp())
        return false;
    SetLogin(QStringLiteral("me"), QStringLiteral("secret"));
    return LogIn();
}

void ServerFixture::SetLogin(const QString& user, const QString& password)
{
    SetSetting("username", Value(user));
    SetSetting("password", Value(password));
    SetSetting("server_host", Value("127.0.0.1"));
    SetSetting("server_port", Value(static_cast<int>(fake.Port())));
}

bool ServerFixture::LogIn(bool keepFrames)
{
    const int frames = fake.Frames().size();
    gp_server->Connect();
    if (!fake.WaitForFrames(frames + 1) || fake.Frames().last().code != 1)
        return false;
    fake.SendRaw(FakeServer::LoginAccepted());
    if (!QTest::qWaitFor([] { return gp_server->IsConnected(); }, 5000))
        return false;
    // What the login set off is still on its way; only after it can the frames be forgotten.
    if (keepFrames || !Sync())
        return keepFrames;
    fake.ClearFrames();
    return true;
}

bool ServerFixture::Sync()
{
    const QByteArray marker = FakeServer::Str(QStringLiteral("~sync~"));
    gp_server->GetUserStats(QStringLiteral("~sync~"));
    if (!QTest::qWaitFor([&] { return fake.Codes().contains(36) && fake.RawBytes().contains(marker); }, 5000))
        return false;
    for (const FakeServer::Frame& f : fake.TakeFrames())
        if (f.code != 36 || f.fields != marker)
            fake.Keep(f);
    return true;
}

bool ServerFixture::Reset()
{
    gp_server->Disconnect();
    if (QTcpSocket* socket = gp_server->GetSocket())
        socket->abort();
    const bool gone = QTest::qWaitFor([this] { return !fake.HasClient(); }, 5000);
    fake.ClearFrames();
    return gone;
}

QString LogText(const QString& category)
{
    QTextBrowser* view = diagnosticsForm ? diagnosticsForm->LogView(category) : nullptr;
    return view ? view->toPlainText() : QString();
}
