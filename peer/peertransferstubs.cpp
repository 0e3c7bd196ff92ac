// Transfer requests the messenger does not send yet; each goes once the messenger sends it.
#include "peer/peermessenger.h"

#include "model/settings.h"
#include "model/stream.h"

void PeerMessenger::SendMessage(QString, MemStream&) {}
void PeerMessenger::QueueDownload(QString, std::string) {}
void PeerMessenger::QueueUpload(QString, QString, qint64) {}

uint PeerMessenger::RequestUpload(QString, QString, qint64)
{
    const uint id = GetSetting("transfer_req_counter").toUInt();
    SetSetting("transfer_req_counter", Value(id + 1));
    return id;
}

void PeerMessenger::AcceptTransferRequest(QString, uint, bool, qint64) {}
void PeerMessenger::DenyTransferRequest(QString, uint, QString) {}
void PeerMessenger::DenyUpload(QString, QString, QString) {}
void PeerMessenger::SendUploadPlaceInLine(QString, QString, int) {}
void PeerMessenger::RequestFileConnectionToUser(QString) {}
