// Operations of the transfer engine that do nothing yet; each goes once it is built in its own file.
#include "transfers/transferqueuemanager.h"

// ---------------------------------------------------------------- negotiation

void TransferQueueManager::OnFileTransferRequest(QString, int, uint, std::string, qint64) {}
void TransferQueueManager::OnFileConnection(QString, QTcpSocket*, uint) {}
void TransferQueueManager::OnFileConnectionAccepted(QString, QTcpSocket*) {}
void TransferQueueManager::OnFileTransferResponse(QString, uint, bool, bool, qint64, QString) {}

// ---------------------------------------------------------------- upload queue, acceptance, ordering

void TransferQueueManager::OnQueueUploadRequested(QString, QString) {}
void TransferQueueManager::AddUpload(QString, QString) {}
bool TransferQueueManager::UploadEntrySortCompare(ItemPtr, ItemPtr) { return false; }
int TransferQueueManager::GetUserGroupDownloadPriority(QString) { return 0; }
void TransferQueueManager::OrderNewUpload(ItemPtr) {}
void TransferQueueManager::DetermineUploadsEffectiveOrder() {}
void TransferQueueManager::StartNewUploads() {}

// ---------------------------------------------------------------- upload life cycle

void TransferQueueManager::SetUploadEntryStatus(ItemPtr, QString) {}
void TransferQueueManager::RemoveUpload(ItemPtr) {}
void TransferQueueManager::UnshareUser(QString) {}
void TransferQueueManager::ReshareUser(QString) {}
void TransferQueueManager::OnUploadError() {}
void TransferQueueManager::OnUploadComplete() {}
void TransferQueueManager::OnUploadPlaceInLineRequested(QString, QString) {}

// ---------------------------------------------------------------- half-minute sweep

void TransferQueueManager::EveryHalfMinute() {}
