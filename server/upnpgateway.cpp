#include "server/upnpgateway.h"

#include <QNetworkInterface>

#include <cstdlib>
#include <cstring>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/miniwget.h>
#include <miniupnpc/upnpcommands.h>

const int kUpnpInvalidArgs = UPNPCOMMAND_INVALID_ARGS;

QList<QHostAddress> UpnpGateway::LocalAddresses()
{
    return QNetworkInterface::allAddresses();
}

namespace {

// Anything on the local network can answer discovery; a flood of answers is not kept.
const int kMaxDevices = 256;

// The library's own defaults for the arguments newer versions added.
const unsigned char kDiscoveryTtl = 2;

QByteArray BoundedText(const char* text, size_t limit)
{
    return text ? QByteArray(text, static_cast<int>(strnlen(text, limit))) : QByteArray();
}

class MiniUpnpGateway : public UpnpGateway
{
public:
    QList<UpnpDevice> Discover(int i_delay, int* op_error) override
    {
        *op_error = 0;
        UPNPDev* list = upnpDiscover(i_delay, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, kDiscoveryTtl, op_error);
        QList<UpnpDevice> devices;
        for (UPNPDev* dev = list; dev && devices.size() < kMaxDevices; dev = dev->pNext) {
            UpnpDevice device;
            device.descUrl = BoundedText(dev->descURL, 4096);
            device.st = BoundedText(dev->st, 4096);
            device.scopeId = dev->scope_id;
            devices.append(device);
        }
        freeUPNPDevlist(list);
        return devices;
    }

    bool ReadDescription(const UpnpDevice& i_device, QByteArray* op_controlUrl, QByteArray* op_serviceType) override
    {
        op_controlUrl->clear();
        op_serviceType->clear();
        if (i_device.descUrl.isEmpty())
            return false;
        int size = 0;
        void* xml = miniwget(i_device.descUrl.constData(), &size, i_device.scopeId, nullptr);
        if (!xml)
            return false;
        IGDdatas data;
        memset(&data, 0, sizeof(data));
        parserootdesc(static_cast<const char*>(xml), size, &data);
        free(xml);
        UPNPUrls urls;
        memset(&urls, 0, sizeof(urls));
        GetUPNPUrls(&urls, &data, i_device.descUrl.constData(), i_device.scopeId);
        *op_controlUrl = BoundedText(urls.controlURL, 4096);
        *op_serviceType = BoundedText(data.first.servicetype, sizeof(data.first.servicetype));
        FreeUPNPUrls(&urls);
        return true;
    }

    int AddPortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType, const QByteArray& i_port,
                       const QByteArray& i_client, const QByteArray& i_description,
                       const QByteArray& i_protocol) override
    {
        return UPNP_AddPortMapping(i_controlUrl.constData(), i_serviceType.constData(), i_port.constData(),
                                   i_port.constData(), i_client.constData(), i_description.constData(),
                                   i_protocol.constData(), nullptr, nullptr);
    }

    int DeletePortMapping(const QByteArray& i_controlUrl, const QByteArray& i_serviceType, const QByteArray& i_port,
                          const QByteArray& i_protocol) override
    {
        return UPNP_DeletePortMapping(i_controlUrl.constData(), i_serviceType.constData(), i_port.constData(),
                                      i_protocol.constData(), nullptr);
    }
};

}  // namespace

std::unique_ptr<UpnpGateway> CreateMiniUpnpGateway()
{
    return std::make_unique<MiniUpnpGateway>();
}
