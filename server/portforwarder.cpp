#include "server/portforwarder.h"

#include "model/log.h"

#include <QMetaObject>
#include <QRegularExpression>
#include <QTcpSocket>

PortForwarder* portForwarder = nullptr;

namespace {

const int kDiscoveryDelay = 2000;
const int kConflictInMappingEntry = 718;
const char kMappingDescription[] = "TavrinelQT";
const char kProtocol[] = "TCP";
const char kLoopback[] = "127.0.0.1";

// Whether the first three numbers of an address ("192.168.1") name the network of the
// gateway's control URL. They must stand as whole numbers there: "192.168.1" is not the
// start of "192.168.10.1", nor "92.168.1" a part of "192.168.1.1".
bool InSameNetwork(const QString& i_prefix, const QString& i_controlUrl)
{
    const QRegularExpression whole(QStringLiteral("(?<![0-9.])") + QRegularExpression::escape(i_prefix) +
                                   QStringLiteral("\\."));
    return whole.match(i_controlUrl).hasMatch();
}

}  // namespace

// ---------------------------------------------------------------- worker

ThreadedServices::ThreadedServices(std::unique_ptr<UpnpGateway> ip_gateway, QObject* ip_reporter)
    : mp_gateway(std::move(ip_gateway)), mp_reporter(ip_reporter)
{
}

void ThreadedServices::Report(const QStringList& i_lines)
{
    QMetaObject::invokeMethod(mp_reporter, "LogLines", Qt::QueuedConnection, Q_ARG(QStringList, i_lines));
}

void ThreadedServices::Init()
{
    if (m_initialized)
        return;
    QStringList lines(QStringLiteral("Initializing UPnP"));
    m_controlUrl.clear();
    m_serviceType.clear();
    int error = 0;

    const QList<UpnpDevice> devices = mp_gateway->Discover(kDiscoveryDelay, &error);
    if (devices.isEmpty()) {
        lines << QStringLiteral("No device list found during discovery. miniupnp error code: %1").arg(error);
    } else {
        lines << QStringLiteral("Device list found");
        const UpnpDevice* chosen = nullptr;
        for (const UpnpDevice& device : devices) {
            const QString url = QString::fromUtf8(device.descUrl);
            if (device.st.contains("InternetGatewayDevice")) {
                lines << QStringLiteral("%1, InternetGatewayDevice, found").arg(url);
                chosen = &device;
                break;
            }
            lines << QStringLiteral("%1, %2 skipping").arg(url, QString::fromUtf8(device.st));
        }
        if (!chosen) {
            chosen = &devices.first();
            lines << QStringLiteral("Defaulting to first device found, %1").arg(QString::fromUtf8(chosen->st));
        }
        if (mp_gateway->ReadDescription(*chosen, &m_controlUrl, &m_serviceType))
            lines << QStringLiteral("Device XML found.");
        else
            lines << QStringLiteral("Device XML not found.");
    }
    m_initialized = true;
    Report(lines);
}

// The server connection can report the loopback address (a server reached through a
// local tunnel); the gateway must be given an address of the local network instead.
QString ThreadedServices::ChooseOwnAddress()
{
    static const QRegularExpression firstThree(QStringLiteral("[0-9]+\\.[0-9]+\\.[0-9]+"));
    const QString controlUrl = QString::fromUtf8(m_controlUrl);
    QString address = QString::fromLatin1(kLoopback);
    const QList<QHostAddress> all = mp_gateway->LocalAddresses();
    for (int i = all.size() - 1; i >= 0; --i) {
        const QString text = all[i].toString();
        if (text == QLatin1String(kLoopback) || all[i].protocol() != QAbstractSocket::IPv4Protocol)
            continue;
        address = text;
        const QRegularExpressionMatch match = firstThree.match(text);
        if (match.hasMatch() && InSameNetwork(match.captured(0), controlUrl))
            break;
    }
    return address;
}

int ThreadedServices::MapPort(const QByteArray& i_port, const QString& i_address)
{
    // Without a gateway found there is nowhere to send the request; the library must
    // not be handed a missing URL.
    if (m_controlUrl.isEmpty())
        return kUpnpInvalidArgs;
    return mp_gateway->AddPortMapping(m_controlUrl, m_serviceType, i_port, i_address.toLatin1(),
                                      QByteArray(kMappingDescription), QByteArray(kProtocol));
}

void ThreadedServices::AddPortMapping(QString i_address, int i_port)
{
    QStringList lines;
    const QByteArray port = QByteArray::number(i_port);
    QString address = i_address;
    if (address == QLatin1String(kLoopback)) {
        lines << QStringLiteral("Own address is reported as 127.0.0.1, checking all addresses.");
        address = ChooseOwnAddress();
    }
    lines << QStringLiteral("Found own address to be %1").arg(address);

    const int result = MapPort(port, address);
    if (result == 0) {
        lines << QStringLiteral("Port %1 successfully mapped.").arg(i_port);
    } else if (result == kConflictInMappingEntry) {
        lines << QStringLiteral("Port already mapped, attempting to remove existing mapping before retrying.");
        RemovePortMapping(i_port);
        const int second = MapPort(port, address);
        if (second == 0)
            lines << QStringLiteral("Second mapping attempt successful.");
        else if (second != kConflictInMappingEntry)
            lines << QStringLiteral("Second mapping attempt failed, miniupnp error: %1").arg(second);
    } else {
        lines << QStringLiteral("Port %1 mapping failure, miniupnp error: %2").arg(i_port).arg(result);
    }
    Report(lines);
}

void ThreadedServices::RemovePortMapping(int i_port)
{
    QStringList lines(QStringLiteral("Removing mapping for port %1").arg(i_port));
    if (m_controlUrl.isEmpty()) {
        lines << QStringLiteral("UPnP appears to not have been initialized, aborting.");
    } else {
        const int result =
            mp_gateway->DeletePortMapping(m_controlUrl, m_serviceType, QByteArray::number(i_port), QByteArray(kProtocol));
        if (result == 0)
            lines << QStringLiteral("Port mapping successfully removed.");
        else
            lines << QStringLiteral("Port mapping removal failed, miniupnp error: %1").arg(result);
    }
    Report(lines);
}

// ---------------------------------------------------------------- front end

PortForwarder::PortForwarder(std::unique_ptr<UpnpGateway> ip_gateway)
    : m_threadedServices(ip_gateway ? std::move(ip_gateway) : CreateMiniUpnpGateway(), this)
{
    portForwarder = this;
    m_threadedServices.moveToThread(&m_thread);
    m_thread.start();
}

PortForwarder::~PortForwarder()
{
    m_thread.quit();
    m_thread.wait();
    if (portForwarder == this)
        portForwarder = nullptr;
}

void PortForwarder::Init()
{
    QMetaObject::invokeMethod(&m_threadedServices, "Init", Qt::QueuedConnection);
}

void PortForwarder::AddPortMapping(QTcpSocket* ip_socket, int i_port)
{
    const QString address = ip_socket ? ip_socket->localAddress().toString() : QString();
    QMetaObject::invokeMethod(&m_threadedServices, "AddPortMapping", Qt::QueuedConnection,
                              Q_ARG(QString, address), Q_ARG(int, i_port));
}

void PortForwarder::RemovePortMapping(int i_port)
{
    QMetaObject::invokeMethod(&m_threadedServices, "RemovePortMapping", Qt::QueuedConnection, Q_ARG(int, i_port));
}

void PortForwarder::LogLines(QStringList i_lines)
{
    for (const QString& line : i_lines)
        Log(QStringLiteral("Port Forwarding"), 1, line, ItemPtr());
}
