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

struct AddCall
{
    QByteArray controlUrl, serviceType, port, client, description, protocol;
};
struct DeleteCall
{
    QByteArray controlUrl, serviceType, port, protocol;
};

// Stands in for the gateway of the local network; called on the worker thread.
class FakeGateway : public UpnpGateway
{
public:
    QList<UpnpDevice> Discover(int i_delay, int* op_error) override
    {
        QMutexLocker lock(&mutex);
        ++discoveries;
        discoveryDelay = i_delay;
        *op_error = discoveryError;
        return devices;
    }
    bool ReadDescription(const UpnpDevice& i_device, QByteArray* op_controlUrl, QByteArray* op_serviceType) override
    {
        QMutexLocker lock(&mutex);
        describedUrl = i_device.descUrl;
        if (!descriptionFound)
            return false;
        *op_controlUrl = controlUrl;
        *op_serviceType = serviceType;
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
        deletes.append({i_controlUrl, i_serviceType, i_port, i_protocol});
        return deleteResult;
    }
    QList<QHostAddress> LocalAddresses() override
    {
        QMutexLocker lock(&mutex);
        return localAddresses;
    }

    QMutex mutex;
    QList<UpnpDevice> devices;
    int discoveryError = 0;
    bool descriptionFound = true;
    QByteArray controlUrl = kControlUrl;
    QByteArray serviceType = kService;
    QList<int> addResults;
    int deleteResult = 0;
    QList<QHostAddress> localAddresses;

    int discoveries = 0;
    int discoveryDelay = 0;
    QByteArray describedUrl;
    QList<AddCall> adds;
    QList<DeleteCall> deletes;
};

UpnpDevice Device(const char* url, const char* st)
{
    UpnpDevice device;
    device.descUrl = url;
    device.st = st;
    return device;
}

FakeGateway* GatewayWithDevice()
{
    auto* gateway = new FakeGateway;
    gateway->devices = {Device("http://192.168.1.1:1900/desc.xml", "urn:schemas-upnp-org:service:WANIPConnection:1"),
                        Device("http://192.168.1.1:5000/rootDesc.xml",
                               "urn:schemas-upnp-org:device:InternetGatewayDevice:1"),
                        Device("http://192.168.1.9:80/other.xml", "upnp:rootdevice")};
    gateway->localAddresses = {QHostAddress("127.0.0.1"), QHostAddress("192.168.1.20"), QHostAddress("10.1.2.3"),
                               QHostAddress("::1")};
    return gateway;
}

}  // namespace

// Collects the batches a worker hands back, one list per batch.
class BatchRecorder : public QObject
{
    Q_OBJECT

public:
    QList<QStringList> batches;

public slots:
    void LogLines(QStringList i_lines) { batches.append(i_lines); }
};

class TestPortForwarder : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<DiagnosticsForm> m_form;
    QTcpServer m_listener;
    std::unique_ptr<QTcpSocket> m_serverSocket;

    // The page's lines without their time stamps.
    QStringList Page() const
    {
        QTextBrowser* view = m_form->LogView("Port Forwarding");
        if (!view)
            return {};
        QStringList lines;
        for (const QString& line : view->toPlainText().split(QLatin1Char('\n'))) {
            if (!line.startsWith(QLatin1Char('[')) || line.indexOf(QLatin1String("] ")) < 0)
                return {QStringLiteral("malformed: ") + line};
            lines << line.mid(line.indexOf(QLatin1String("] ")) + 2);
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
        QCOMPARE(m_serverSocket->localAddress().toString(), QString("127.0.0.1"));
    }

    void cleanup()
    {
        m_serverSocket.reset();
        m_listener.close();
        m_form.reset();
    }

    void discoveryFailure()
    {
        auto* gateway = new FakeGateway;
        gateway->discoveryError = -101;
        gateway->localAddresses = {QHostAddress("127.0.0.1"), QHostAddress("::1")};
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        QCOMPARE(portForwarder, &forwarder);

        forwarder.Init();
        forwarder.Init();  // a second request does not search again and reports nothing
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        const QStringList expected = {
            "Initializing UPnP",
            "No device list found during discovery. miniupnp error code: -101",
            "Own address is reported as 127.0.0.1, checking all addresses.",
            "Found own address to be 127.0.0.1",
            "Port 2234 mapping failure, miniupnp error: -2",
        };
        QTRY_COMPARE(Page().size(), expected.size());
        QCOMPARE(Page(), expected);
        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->discoveries, 1);
        QCOMPARE(gateway->discoveryDelay, 2000);
        // Without a gateway the library is never handed a missing control URL.
        QCOMPARE(gateway->adds.size(), 0);
    }

    void foundDeviceAndMapping()
    {
        FakeGateway* gateway = GatewayWithDevice();
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        forwarder.Init();
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        forwarder.AddPortMapping(m_serverSocket.get(), 2235);
        const QStringList expected = {
            "Initializing UPnP",
            "Device list found",
            "http://192.168.1.1:1900/desc.xml, urn:schemas-upnp-org:service:WANIPConnection:1 skipping",
            "http://192.168.1.1:5000/rootDesc.xml, InternetGatewayDevice, found",
            "Device XML found.",
            "Own address is reported as 127.0.0.1, checking all addresses.",
            "Found own address to be 192.168.1.20",
            "Port 2234 successfully mapped.",
            "Own address is reported as 127.0.0.1, checking all addresses.",
            "Found own address to be 192.168.1.20",
            "Port 2235 successfully mapped.",
        };
        QTRY_COMPARE(Page().size(), expected.size());
        QCOMPARE(Page(), expected);

        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->describedUrl, QByteArray("http://192.168.1.1:5000/rootDesc.xml"));
        QCOMPARE(gateway->adds.size(), 2);
        const AddCall& add = gateway->adds[0];
        QCOMPARE(add.controlUrl, kControlUrl);
        QCOMPARE(add.serviceType, kService);
        QCOMPARE(add.port, QByteArray("2234"));
        QCOMPARE(add.client, QByteArray("192.168.1.20"));
        QCOMPARE(add.description, QByteArray("TavrinelQT"));
        QCOMPARE(add.protocol, QByteArray("TCP"));
        QCOMPARE(gateway->adds[1].port, QByteArray("2235"));
    }

    void conflictRetry_data()
    {
        QTest::addColumn<QList<int>>("results");
        QTest::addColumn<QStringList>("tail");
        QTest::newRow("second succeeds") << QList<int>{718, 0} << QStringList{"Second mapping attempt successful."};
        QTest::newRow("second conflicts") << QList<int>{718, 718} << QStringList{};
        QTest::newRow("second fails") << QList<int>{718, 501}
                                      << QStringList{"Second mapping attempt failed, miniupnp error: 501"};
    }

    void conflictRetry()
    {
        QFETCH(QList<int>, results);
        QFETCH(QStringList, tail);
        FakeGateway* gateway = GatewayWithDevice();
        gateway->addResults = results;
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        forwarder.Init();
        QTRY_COMPARE(Page().size(), 5);
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        // The removal reports in a batch of its own, ahead of the mapping's.
        const QStringList expected = QStringList{
                                         "Removing mapping for port 2234",
                                         "Port mapping successfully removed.",
                                         "Own address is reported as 127.0.0.1, checking all addresses.",
                                         "Found own address to be 192.168.1.20",
                                         "Port already mapped, attempting to remove existing mapping before retrying.",
                                     } +
                                     tail;
        QTRY_COMPARE(Page().size(), 5 + expected.size());
        QCOMPARE(Page().mid(5), expected);

        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->adds.size(), 2);
        QCOMPARE(gateway->deletes.size(), 1);
        QCOMPARE(gateway->deletes[0].controlUrl, kControlUrl);
        QCOMPARE(gateway->deletes[0].serviceType, kService);
        QCOMPARE(gateway->deletes[0].port, QByteArray("2234"));
        QCOMPARE(gateway->deletes[0].protocol, QByteArray("TCP"));
    }

    void mappingRefused()
    {
        FakeGateway* gateway = GatewayWithDevice();
        gateway->addResults = {606};
        gateway->deleteResult = 714;
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        forwarder.Init();
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        forwarder.RemovePortMapping(2236);
        QTRY_COMPARE(Page().size(), 10);
        QCOMPARE(Page().mid(5), (QStringList{
                                    "Own address is reported as 127.0.0.1, checking all addresses.",
                                    "Found own address to be 192.168.1.20",
                                    "Port 2234 mapping failure, miniupnp error: 606",
                                    "Removing mapping for port 2236",
                                    "Port mapping removal failed, miniupnp error: 714",
                                }));
    }

    void noGatewayAndNoDescription()
    {
        auto* gateway = new FakeGateway;
        gateway->devices = {Device("http://192.168.1.7:80/a.xml", "upnp:rootdevice"),
                            Device("http://192.168.1.8:80/b.xml", "urn:schemas-upnp-org:device:MediaServer:1")};
        gateway->descriptionFound = false;
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        forwarder.Init();
        forwarder.RemovePortMapping(2234);
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        const QStringList expected = {
            "Initializing UPnP",
            "Device list found",
            "http://192.168.1.7:80/a.xml, upnp:rootdevice skipping",
            "http://192.168.1.8:80/b.xml, urn:schemas-upnp-org:device:MediaServer:1 skipping",
            "Defaulting to first device found, upnp:rootdevice",
            "Device XML not found.",
            "Removing mapping for port 2234",
            "UPnP appears to not have been initialized, aborting.",
            "Own address is reported as 127.0.0.1, checking all addresses.",
            "Found own address to be 127.0.0.1",
            "Port 2234 mapping failure, miniupnp error: -2",
        };
        QTRY_COMPARE(Page().size(), expected.size());
        QCOMPARE(Page(), expected);
        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->describedUrl, QByteArray("http://192.168.1.7:80/a.xml"));
        QCOMPARE(gateway->adds.size(), 0);
        QCOMPARE(gateway->deletes.size(), 0);
    }

    void descriptionWithoutControlUrl()
    {
        FakeGateway* gateway = GatewayWithDevice();
        gateway->controlUrl.clear();
        PortForwarder forwarder{std::unique_ptr<UpnpGateway>(gateway)};
        forwarder.Init();
        forwarder.AddPortMapping(m_serverSocket.get(), 2234);
        forwarder.RemovePortMapping(2234);
        QTRY_COMPARE(Page().size(), 10);
        QCOMPARE(Page().mid(4), (QStringList{
                                    "Device XML found.",
                                    "Own address is reported as 127.0.0.1, checking all addresses.",
                                    // no gateway network to match: the first IPv4 address other than loopback
                                    "Found own address to be 192.168.1.20",
                                    "Port 2234 mapping failure, miniupnp error: -2",
                                    "Removing mapping for port 2234",
                                    "UPnP appears to not have been initialized, aborting.",
                                }));
        QMutexLocker lock(&gateway->mutex);
        QCOMPARE(gateway->adds.size(), 0);
        QCOMPARE(gateway->deletes.size(), 0);
    }

    // The address given to the gateway when the server connection reports the loopback one.
    void ownAddress_data()
    {
        QTest::addColumn<QString>("reported");
        QTest::addColumn<QByteArray>("controlUrl");
        QTest::addColumn<QStringList>("addresses");
        QTest::addColumn<QString>("chosen");
        QTest::newRow("reported address kept") << "10.0.0.7" << kControlUrl
                                               << QStringList{"192.168.1.20"} << "10.0.0.7";
        QTest::newRow("gateway network")
            << "127.0.0.1" << kControlUrl << QStringList{"127.0.0.1", "192.168.1.20", "10.1.2.3", "::1"}
            << "192.168.1.20";
        QTest::newRow("no network matches: first IPv4")
            << "127.0.0.1" << QByteArray("http://172.16.0.1/ctl")
            << QStringList{"::1", "127.0.0.1", "10.1.2.3", "192.168.1.20"} << "10.1.2.3";
        QTest::newRow("no IPv4 address") << "127.0.0.1" << kControlUrl << QStringList{"127.0.0.1", "::1", "fe80::1"}
                                         << "127.0.0.1";
        QTest::newRow("numbers stand whole")
            << "127.0.0.1" << QByteArray("http://192.168.10.1:5000/ctl")
            << QStringList{"192.168.10.5", "192.168.1.20"} << "192.168.10.5";
        QTest::newRow("numbers stand whole, leading digit")
            << "127.0.0.1" << QByteArray("http://10.0.0.1:5000/ctl") << QStringList{"10.0.0.9", "0.0.0.2"}
            << "10.0.0.9";
    }

    void ownAddress()
    {
        QFETCH(QString, reported);
        QFETCH(QByteArray, controlUrl);
        QFETCH(QStringList, addresses);
        QFETCH(QString, chosen);
        auto* gateway = new FakeGateway;
        gateway->devices = {Device("http://gw/desc.xml", "urn:schemas-upnp-org:device:InternetGatewayDevice:1")};
        gateway->controlUrl = controlUrl;
        for (const QString& a : addresses)
            gateway->localAddresses << QHostAddress(a);
        BatchRecorder recorder;
        ThreadedServices worker(std::unique_ptr<UpnpGateway>(gateway), &recorder);
        worker.Init();
        worker.AddPortMapping(reported, 2234);
        QTRY_COMPARE(recorder.batches.size(), 2);
        QStringList expected;
        if (reported == "127.0.0.1")
            expected << "Own address is reported as 127.0.0.1, checking all addresses.";
        expected << "Found own address to be " + chosen << "Port 2234 successfully mapped.";
        QCOMPARE(recorder.batches[1], expected);
        QCOMPARE(gateway->adds.value(0).client, chosen.toLatin1());
    }
};

QTEST_MAIN(TestPortForwarder)
#include "tst_portforwarder.moc"
