// What a Server needs around it in a test: the shared timers, a save-file writer in a temporary
// directory, the settings and item types, a port forwarder whose gateway only records what it is
// asked, and a fake central server on 127.0.0.1 that the client is pointed at.
#pragma once

#include "common/fakeserver.h"
#include "server/upnpgateway.h"

#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QString>
#include <QTemporaryDir>

// A gateway that is always found and maps every port it is given. Called from the port
// forwarder's thread; read from the test's.
class RecordingGateway : public UpnpGateway
{
public:
    QList<UpnpDevice> Discover(int, int* op_error) override
    {
        QMutexLocker lock(&s_mutex);
        ++s_discoveries;
        *op_error = 0;
        UpnpDevice device;
        device.descUrl = "http://192.0.2.1:5000/rootDesc.xml";
        device.st = "urn:schemas-upnp-org:device:InternetGatewayDevice:1";
        return {device};
    }
    bool ReadDescription(const UpnpDevice&, QByteArray* op_controlUrl, QByteArray* op_serviceType) override
    {
        *op_controlUrl = "http://192.0.2.1:5000/ctl/IPConn";
        *op_serviceType = "urn:schemas-upnp-org:service:WANIPConnection:1";
        return true;
    }
    int AddPortMapping(const QByteArray&, const QByteArray&, const QByteArray& i_port, const QByteArray&,
                       const QByteArray&, const QByteArray&) override
    {
        QMutexLocker lock(&s_mutex);
        s_mappedPorts << i_port.toInt();
        return 0;
    }
    int DeletePortMapping(const QByteArray&, const QByteArray&, const QByteArray&, const QByteArray&) override
    {
        return 0;
    }
    QList<QHostAddress> LocalAddresses() override { return {QHostAddress(QStringLiteral("192.0.2.10"))}; }

    static QList<int> MappedPorts() { QMutexLocker lock(&s_mutex); return s_mappedPorts; }
    static int DiscoveryCount() { QMutexLocker lock(&s_mutex); return s_discoveries; }

private:
    static inline QMutex s_mutex;
    static inline QList<int> s_mappedPorts;
    static inline int s_discoveries = 0;
};

class ServerFixture
{
public:
    ~ServerFixture();

    // Builds everything once per process (the item types can be declared only once). With
    // diagnostics, a diagnostics window collects the log lines; with peerTypes, the peer side's
    // item types are declared without a peer messenger (which declares them itself).
    bool SetUp(bool diagnostics = true, bool peerTypes = true);
    // SetUp, then logged in as "me" with the password "secret": where most tests start.
    bool SetUpLoggedIn();
    // Stores the login and points the client at the fake server.
    void SetLogin(const QString& user, const QString& password);
    // Connects and answers the login; true once the client is logged in. The fake's frames are
    // cleared afterwards unless keepFrames.
    bool LogIn(bool keepFrames = false);
    // Waits, while logged in, until every frame the client wrote before has reached the fake;
    // the frames stay collected (the marker frame used for this is dropped).
    bool Sync();
    // Ends a connection of any state and forgets the frames; the next test starts disconnected.
    bool Reset();

    FakeServer fake;
    QTemporaryDir dir;
};

// The text of a diagnostics page, empty when nothing was logged in that category.
QString LogText(const QString& category);
