// Maps the listening ports on the local network's gateway through UPnP. Discovery and every
// gateway request block for seconds, so they run on a worker thread of their own; the GUI
// thread only queues requests and writes the lines the worker hands back into the log.
#pragma once

#include "server/upnpgateway.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>

#include <memory>

class QTcpSocket;

// The worker, living on the port forwarder's thread. Each request reports in one batch.
class ThreadedServices : public QObject
{
    Q_OBJECT

public:
    ThreadedServices(std::unique_ptr<UpnpGateway> ip_gateway, QObject* ip_reporter);

public slots:
    void Init();
    void AddPortMapping(QString i_address, int i_port);
    void RemovePortMapping(int i_port);

private:
    QString ChooseOwnAddress();
    int MapPort(const QByteArray& i_port, const QString& i_address);
    void Report(const QStringList& i_lines);

    std::unique_ptr<UpnpGateway> mp_gateway;
    QObject* mp_reporter;
    // Discovery runs once per run, whatever it finds.
    bool m_initialized = false;
    QByteArray m_controlUrl;
    QByteArray m_serviceType;
};

class PortForwarder : public QObject
{
    Q_OBJECT

public:
    // Without a gateway, the one of the local network is used, through miniupnpc.
    explicit PortForwarder(std::unique_ptr<UpnpGateway> ip_gateway = nullptr);
    ~PortForwarder() override;

    void Init();
    // The socket is the central-server connection: its local address is that of the
    // interface through which the outside world is reached.
    void AddPortMapping(QTcpSocket* ip_socket, int i_port);
    void RemovePortMapping(int i_port);

public slots:
    void LogLines(QStringList i_lines);

private:
    QThread m_thread;
    ThreadedServices m_threadedServices;
};

extern PortForwarder* portForwarder;
