// What the transfer engine needs around it in a test: a temporary home, the server connection
// pointed at a fake server, the peer messenger, the shared-files index and the engine itself.
// Everything is built once per process, since the item types can be declared only once.
#pragma once

#include "common/fakepeer.h"
#include "common/testfiles.h"
#include "common/serverfixture.h"
#include "model/settings.h"
#include "peer/peermessenger.h"
#include "shares/sharedfoldersmanager.h"
#include "transfers/transferqueuemanager.h"

#include <QDir>

class TransferFixture
{
public:
    // With login, the client is logged in to the fake server as "me" afterwards.
    bool SetUp(bool login = false)
    {
        if (!server.dir.isValid() || !QDir(server.dir.path()).mkpath("home"))
            return false;
        qputenv("HOME", server.dir.filePath("home").toLocal8Bit());
        if (!server.SetUp(true, false))
            return false;
        // Settings are saved as the main window has them saved.
        dataSaver->AddSavedType("global");
        dataSaver->AddSavedByConnectionType("global_value", "global");
        if (!peerMessenger)
            new PeerMessenger();
        // A load makes the messenger listen: on free ports, never on the default ones.
        const quint16 port = FakePeer::FreePortPair();
        SetSetting("listening_port", Value(static_cast<int>(port)));
        SetSetting("obfuscated_listening_port", Value(static_cast<int>(port) + 1));
        if (!sharedFoldersManager)
            new SharedFoldersManager();
        if (!transferQueueManager)
            new TransferQueueManager();
        if (!login)
            return true;
        server.SetLogin(QStringLiteral("me"), QStringLiteral("secret"));
        return server.LogIn();
    }

    QString Home() const { return server.dir.filePath("home"); }

    ServerFixture server;
};
