// The calls the port forwarder makes to the UPnP library, behind an interface so that a
// stand-in gateway can answer them.
#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>

#include <memory>

struct UpnpDevice
{
    QByteArray descUrl;  // where the device description is fetched from
    QByteArray st;       // the search target the device answered with
    unsigned int scopeId = 0;
};

class UpnpGateway
{
public:
    virtual ~UpnpGateway() = default;

    // Searches the local network for devices, waiting up to i_delay ms. An empty list means
    // no device answered; *op_error then holds the library's code.
    virtual QList<UpnpDevice> Discover(int i_delay, int* op_error) = 0;
    // Fetches and parses the device's description. False when nothing could be fetched;
    // otherwise the control URL (empty when the description names none) and the service
    // type of the first WAN connection service.
    virtual bool ReadDescription(const UpnpDevice& i_device, QByteArray* op_controlUrl,
                                 QByteArray* op_serviceType) = 0;
    // Result codes are those of the library: 0 for success, UPnP error codes or negative
    // library codes otherwise.
    virtual int AddPortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType,
                               const QByteArray& i_port, const QByteArray& i_client,
                               const QByteArray& i_description, const QByteArray& i_protocol) = 0;
    virtual int DeletePortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType,
                                  const QByteArray& i_port, const QByteArray& i_protocol) = 0;
    // This machine's addresses, in the system's order.
    virtual QList<QHostAddress> LocalAddresses();
};

// The gateway of the local network, reached through miniupnpc.
std::unique_ptr<UpnpGateway> CreateMiniUpnpGateway();

// The library's code for a call it refuses for its arguments.
extern const int kUpnpInvalidArgs;
