// The "Port Forwarding" page against a fake gateway: discovery, the device found, mappings,
// the 718-conflict retry and a missing control URL.
#include "model/diagnosticsform.h"
#include "server/portforwarder.h"

#include <QMutex>
#include <QMutexLocker>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTextBrowser>

#include <memory>

namespace {

const QByteArray kControlUrl = "http://192.168.1.1:5000/ctl/IPConn";
const QByteArray kService = "urn:schemas-upnp-org:service:WANIPConnection:1";
const QString kOwnAddress = "Own address is reported as 127.0.0.1, checking all addresses.";

struct Call
{
    QByteArray controlUrl, serviceType, port, client, description, protocol;
};

// Stands in for the gateway of the local network; called on the worker thread.
class FakeGateway : public UpnpGateway
{
public:
    QList<UpnpDevice> Discover(int i_delay, int* op_error) override
    {
        QMutexLocker lock(&mutex);
        ++discoveries, discoveryDelay = i_delay, *op_error = discoveryError;
        return devices;
    }
    bool ReadDescription(const UpnpDevice& i_device, QByteArray* op_controlUrl, QByteArray* op_serviceType) override
    {
        QMutexLocker lock(&mutex);
        describedUrl = i_device.descUrl, *op_controlUrl = controlUrl, *op_serviceType = kService;
        return true;
    }
    int AddPortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType, const QByteArray& i_port,
                       const QByteArray& i_client, const QByteArray& i_description,
                       const QByteArray& i_protocol) override
    {
        QMutexLocker lock(&mutex);
        adds.append({i_controlUrl, i_serviceType, i_port, i_client, i_description, i_protocol});
        return addResults.isEmpty() ? 0 : addResults.takeFirst();
    }
    int DeletePortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType, const QByteArray& i_port,
                          const QByteArray& i_protocol) override
    {
        QMutexLocker lock(&mutex);
        deletes.append({i_controlUrl, i_serviceType, i_port, {}, {}, i_protocol});
        return 0;
    }
    QList<QHostAddress> LocalAddresses() override
    {
        QMutexLocker lock(&mutex);
        return localAddresses;
    }

    QMutex mutex;
    QList<UpnpDevice> devices;
    int discoveryError = 0, discoveries = 0, discoveryDelay = 0;
    QByteArray controlUrl = kControlUrl, describedUrl;
    QList<int> addResults;
    QList<QHostAddress> localAddresses;
    QList<Call> adds, deletes;
};

UpnpDevice Device(const char* url, const char* st)
{
    UpnpDevice device;
    device.descUrl = url;
    device.st = st;
    return device;
}

const QStringList kFoundLines = {
    "Initializing UPnP",
    "Device list found",
    "http://192.168.1.1:1900/desc.xml, urn:schemas-upnp-org:service:WANIPConnection:1 skipping",
    "http://192.168.1.1:5000/rootDesc.xml, InternetGatewayDevice, found",
    "Device XML found.",
};

}  // namespace

class TestPortForwarder : public QObject
{
    Q_OBJECT

    std::unique_ptr<DiagnosticsForm> m_form;
    QTcpServer m_listener;
    std::unique_ptr<QTcpSocket> m_serverSocket;

    // The page's lines without their time stamps.
    QStringList Page() const
    {
        QTextBrowser* view = m_form->LogView("Port Forwarding");
        QStringList lines;
        for (const QString& line : view ? view->toPlainText().split('\n') : QStringList()) {
            if (!line.startsWith('[') || line.indexOf("] ") < 0)
                return {"malformed: " + line};
            lines << line.mid(line.indexOf("] ") + 2);
        }
        return lines;
    }

private slots:
    void init()
    {
        m_form = std::make_unique<DiagnosticsForm>();
        // The central-server connection; here it reaches a listener on the loopback address.
        QVERIFY(m_listener.listen(QHostAddress("127.0.0.1"), 0));
        m_serverSocket = std::make_unique<QTcpSocket>();
        m_serverSocket->connectToHost(QHostAddress("127.0.0.1"), m_listener.serverPort());
        QVERIFY(m_serverSocket->waitForConnected(5000));
    }

    void cleanup()
    {
        m_serverSocket.reset();
        m_listener.close();
        m_form.reset();
    }

    // Calls are "i" (Init), "+port" (add) and "-port" (remove), made in order.
    void page_data()
    {
        QTest::addColumn<QString>("gatewayKind");
        QTest::addColumn<QList<int>>("addResults");
        QTest::addColumn<QStringList>("calls");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<QStringList>("addedPorts");
        QTest::addColumn<QStringList>("deletedPorts");
        QTest::addColumn<QByteArray>("controlUrl");
        QTest::addColumn<QString>("client");
        const QString found = "Found own address to be 192.168.1.20";
        QTest::newRow("discovery failure; a second Init does not search again")
            << "none" << QList<int>{} << QStringList{"i", "i", "+2234"}
            << QStringList{"Initializing UPnP", "No device list found during discovery. miniupnp error code: -101",
                           kOwnAddress, "Found own address to be 127.0.0.1",
                           "Port 2234 mapping failure, miniupnp error: -2"}
            << QStringList{} << QStringList{} << kControlUrl << "192.168.1.20";
        QTest::newRow("found device and mappings")
            << "gateway" << QList<int>{} << QStringList{"i", "+2234", "+2235"}
            << kFoundLines + QStringList{kOwnAddress, found, "Port 2234 successfully mapped.",
                                         kOwnAddress, found, "Port 2235 successfully mapped."}
            << QStringList{"2234", "2235"} << QStringList{} << kControlUrl << "192.168.1.20";
        // The removal reports in a batch of its own, ahead of the mapping's.
        const QStringList conflict = {"Removing mapping for port 2234", "Port mapping successfully removed.",
                                      kOwnAddress, found,
                                      "Port already mapped, attempting to remove existing mapping before retrying."};
        QTest::newRow("718, second succeeds")
            << "gateway" << QList<int>{718, 0} << QStringList{"i", "+2234"}
            << kFoundLines + conflict + QStringList{"Second mapping attempt successful."}
            << QStringList{"2234", "2234"} << QStringList{"2234"} << kControlUrl << "192.168.1.20";
        QTest::newRow("718, second fails")
            << "gateway" << QList<int>{718, 501} << QStringList{"i", "+2234"}
            << kFoundLines + conflict + QStringList{"Second mapping attempt failed, miniupnp error: 501"}
            << QStringList{"2234", "2234"} << QStringList{"2234"} << kControlUrl << "192.168.1.20";
        // The library is never handed an empty control URL.
        QTest::newRow("description without control URL")
            << "nocontrolurl" << QList<int>{} << QStringList{"i", "+2234", "-2234"}
            << kFoundLines + QStringList{kOwnAddress, found, "Port 2234 mapping failure, miniupnp error: -2",
                                         "Removing mapping for port 2234",
                                         "UPnP appears to not have been initialized, aborting."}
            << QStringList{} << QStringList{} << QByteArray() << "";
        // The gateway's network is matched on whole numbers: "192.168.1" is not "192.168.10".
        const QByteArray tenUrl = "http://192.168.10.1:5000/ctl";
        QTest::newRow("numbers stand whole")
            << "whole" << QList<int>{} << QStringList{"i", "+2234"}
            << kFoundLines + QStringList{kOwnAddress, "Found own address to be 192.168.10.5",
                                         "Port 2234 successfully mapped."}
            << QStringList{"2234"} << QStringList{} << tenUrl << "192.168.10.5";
    }

    void page()
    {
        QFETCH(QString, gatewayKind);
        QFETCH(QList<int>, addResults);
        QFETCH(QStringList, calls);
        QFETCH(QStringList, expected);
        QFETCH(QStringList, addedPorts);
        QFETCH(QStringList, deletedPorts);
        QFETCH(QByteArray, controlUrl);
        QFETCH(QString, client);
        auto* gateway = new FakeGateway;
        gateway->addResults = addResults;
        gateway->controlUrl = controlUrl;
        QStringList addresses = {"127.0.0.1", "192.168.1.20", "10.1.2.3", "::1"};
        if (gatewayKind == "none")
            addresses = QStringList{"127.0.0.1", "::1"};
        else if (gatewayKind == "whole")
            addresses = QStringList{"192.168.10.5", "192.168.1.20"};
        for (const QString& a : addresses)
            gateway->localAddresses << QHostAddress(a);
        if (gatewayKind == "none") {
            gateway->discoveryError = -101;
        } else {
            gateway->devices = {
                Device("http://192.168.1.1:1900/desc.xml", "urn:schemas-upnp-org:service:WANIPConnection:1"),
                Device("http://192.168.1.1:5000/rootDesc.xml", "urn:schemas-upnp-org:device:InternetGatewayDevice:1"),
                Device("http://192.168.1.9:80/other.xml", "upnp:rootdevice")};
        }
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        for (const QString& call : calls) {
            if (call == "i")
                forwarder.Init();
            else if (call.startsWith('+'))
                forwarder.AddPortMapping(m_serverSocket.get(), call.mid(1).toInt());
            else
                forwarder.RemovePortMapping(call.mid(1).toInt());
        }
        QTRY_COMPARE(Page().size(), expected.size());
        QCOMPARE(Page(), expected);

        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->discoveries, 1);
        QCOMPARE(gateway->discoveryDelay, 2000);
        if (gatewayKind != "none")
            QCOMPARE(gateway->describedUrl, QByteArray("http://192.168.1.1:5000/rootDesc.xml"));
        QStringList added, deleted;
        for (const Call& c : gateway->adds + gateway->deletes) {
            QVERIFY(c.controlUrl == controlUrl && c.serviceType == kService && c.protocol == "TCP");
            (c.description.isNull() ? deleted : added) << c.port;
            QVERIFY(c.description.isNull() || c.client + " " + c.description == client.toLatin1() + " TavrinelQT");
        }
        QCOMPARE(added, addedPorts);
        QCOMPARE(deleted, deletedPorts);
    }

};

QTEST_MAIN(TestPortForwarder)
#include "tst_portforwarder.moc"
